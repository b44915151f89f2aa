#include "overlay_view.hpp"

#include <gtest/gtest.h>

#include "application_fake.hpp"
#include "canvas_fake.hpp"
#include "controller.hpp"
#include "selector.hpp"
#include "window_server_fake.hpp"

namespace orvane::selector {
namespace {

TEST(LocalWindowRect, FlipsIntoTheDisplaysView) {
  const Rect main{0, 0, 1440, 900}, second{1440, 0, 1920, 1080};
  EXPECT_EQ(localWindowRect({100, 50, 400, 300}, main, {0, 0, 1440, 900}),
            (Rect{100, 550, 400, 300}));
  EXPECT_EQ(localWindowRect({100, 50, 400, 300}, second, {0, 0, 1920, 1080}), std::nullopt);
  EXPECT_EQ(localWindowRect({1300, 100, 400, 300}, second, {0, 0, 1920, 1080}),
            (Rect{0, 680, 260, 300}));
  // Only touching, or a display without size: nothing.
  EXPECT_EQ(localWindowRect({1040, 100, 400, 300}, second, {0, 0, 1920, 1080}), std::nullopt);
  EXPECT_EQ(localWindowRect({0, 0, 10, 10}, {0, 0, 0, 900}, {0, 0, 1440, 900}), std::nullopt);
  // A display above the main one, and a view scaled against its display.
  EXPECT_EQ(localWindowRect({10, -800, 100, 100}, {0, -900, 1440, 900}, {0, 0, 1440, 900}),
            (Rect{10, 700, 100, 100}));
  EXPECT_EQ(localWindowRect({100, 50, 400, 300}, main, {0, 0, 720, 450}),
            (Rect{50, 275, 200, 150}));
}

struct Radius : ::testing::Test {
  ~Radius() override { resolvedWindowCornerRadius = kDefaultWindowCornerRadius; }
};

TEST_F(Radius, SelectionRadiusAndProbe) {
  EXPECT_EQ(selectionRadius({0, 0, 400, 300}), 16);
  EXPECT_EQ(selectionRadius({0, 0, 40, 200}), 10);
  EXPECT_EQ(selectionRadius({0, 0, 0, 0}), 0);
  FakeApplication app;
  for (std::optional<double> nothing :
       {std::optional<double>(), std::optional(0.0), std::optional(-3.0)}) {
    app.cornerRadius = nothing;
    resolveSystemWindowCornerRadius(app);
    EXPECT_EQ(resolvedWindowCornerRadius, 16);
  }
  app.cornerRadius = 10.5;
  resolveSystemWindowCornerRadius(app);
  EXPECT_EQ(selectionRadius({0, 0, 400, 300}), 10.5);
}

// Two displays side by side, tops aligned: 1 (main) 1440 × 900, 2 to its right 1920 × 1080.
struct Overlay : ::testing::Test {
  FakeApplication app;
  FakeWindowServer server;
  CapturedOutput out;
  std::unique_ptr<CaptureSelectorController> controller;

  Overlay() {
    server.displays = {{1, {0, 0, 1440, 900}}, {2, {1440, 0, 1920, 1080}}};
    app.screenList = {{{0, 0, 1440, 900}, {RecordValue(1), 1}},
                      {{1440, -180, 1920, 1080}, {RecordValue(2), 2}}};
    server.cursor = Point{1400, 200};
    Dictionary window{{std::string(kCGWindowNumber), 5},
                      {std::string(kCGWindowLayer), 0},
                      {std::string(kCGWindowBounds), dictionaryFromRect({1300, 100, 400, 300})}};
    server.windows = std::vector<RecordValue>{window};
  }
  void launch(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), "select");
    controller =
        std::make_unique<CaptureSelectorController>(parseArguments(extra).config, app, server, out);
    controller->applicationDidFinishLaunching();
  }
  std::vector<std::string> draw(int view, bool hasContext = true) {
    RecordingCanvas canvas;
    canvas.hasContext = hasContext;
    controller->overlayView(static_cast<std::size_t>(view)).draw(canvas);
    return canvas.operations;
  }
};

TEST_F(Overlay, ScreenModeTintsTheActiveDisplayAndVeilsTheOthers) {
  launch();
  const std::vector<std::string> active = {
      "fillRect (0,0,1440,900) op=sourceOver fill=0,111,255@0.08",
      "strokeRounded (2.5,2.5,1435,895) r=10 width=3 op=sourceOver stroke=0,111,255@1"};
  const std::vector<std::string> veiled = {
      "fillRect (0,0,1920,1080) op=sourceOver fill=0,0,0@0.28"};
  EXPECT_EQ(draw(0), active);
  EXPECT_EQ(draw(1), veiled);
  // The pointer moves to the other display: the roles swap.
  server.cursor = Point{1500, 500};
  controller->overlayView(1).mouseMoved();
  EXPECT_EQ(draw(0),
            (std::vector<std::string>{"fillRect (0,0,1440,900) op=sourceOver fill=0,0,0@0.28"}));
  EXPECT_EQ(draw(1)[0], "fillRect (0,0,1920,1080) op=sourceOver fill=0,111,255@0.08");
}

TEST_F(Overlay, WindowModeCutsOutAndOutlinesEachDisplaysPart) {
  launch({"--initial-mode", "window"});
  ASSERT_TRUE(controller->hoveredWindow());
  EXPECT_EQ(draw(0), (std::vector<std::string>{
                         "fillRect (0,0,1440,900) op=sourceOver fill=0,0,0@0.28", "save",
                         "fillRounded (1300,500,140,300) r=16 op=clear fill=0,0,0@0.28", "restore",
                         "fillRounded (1300,500,140,300) r=16 op=sourceOver fill=0,111,255@0.1",
                         "strokeRounded (1299,499,142,302) r=17 width=2 op=sourceOver "
                         "stroke=0,111,255@1"}));
  const auto second = draw(1);
  ASSERT_EQ(second.size(), 6u);
  EXPECT_EQ(second[2], "fillRounded (0,680,260,300) r=16 op=clear fill=0,0,0@0.28");
  EXPECT_EQ(second[5],
            "strokeRounded (-1,679,262,302) r=17 width=2 op=sourceOver stroke=0,111,255@1");
}

TEST_F(Overlay, WindowModeWithoutAWindowIsAllVeil) {
  server.cursor = Point{10, 800};
  launch({"--initial-mode", "window"});
  EXPECT_EQ(draw(0),
            (std::vector<std::string>{"fillRect (0,0,1440,900) op=sourceOver fill=0,0,0@0.28"}));
  // A hovered window on the other display only: this one stays whole.
  server.cursor = Point{1500, 200};
  controller->updateSelectionState();
  EXPECT_EQ(draw(0).size(), 6u);  // the window reaches onto display 1 as well
  server.windows = std::vector<RecordValue>{
      Dictionary{{std::string(kCGWindowNumber), 6},
                 {std::string(kCGWindowLayer), 0},
                 {std::string(kCGWindowBounds), dictionaryFromRect({1500, 100, 400, 300})}}};
  controller->updateSelectionState();
  EXPECT_EQ(draw(0).size(), 1u);
  EXPECT_EQ(draw(1).size(), 6u);
}

TEST_F(Overlay, WithoutAContextFillsUseSourceOverAndTheCutOutStillErases) {
  launch({"--initial-mode", "window"});
  const auto ops = draw(0, false);
  EXPECT_EQ(ops[0], "fillRect (0,0,1440,900) op=sourceOver fill=0,0,0@0.28");
  // The change of operation is skipped: the rounded fill paints under the canvas's own default.
  EXPECT_EQ(ops[2], "fillRounded (1300,500,140,300) r=16 op=sourceOver fill=0,0,0@0.28");
  // With a context, fills follow its current operation.
  RecordingCanvas canvas;
  canvas.setCompositingOperation(CompositingOperation::copy);
  controller->overlayView(1).draw(canvas);
  EXPECT_EQ(canvas.operations[0], "fillRect (0,0,1920,1080) op=copy fill=0,0,0@0.28");
}

TEST_F(Overlay, PillAndBubbleAreAddedOnce) {
  launch({"--warning", "  "});
  auto& host = *app.windows[0]->host;
  EXPECT_EQ(host.subviews, (std::vector<std::string>{"pill", "bubble"}));
  EXPECT_EQ(host.bubble->text, "  ");
  ASSERT_EQ(host.bubble->layouts.size(), 1u);
  controller->setMode(SelectionMode::window);
  EXPECT_EQ(host.bubble->layouts.size(), 1u);
  EXPECT_EQ(host.pill->shown.size(), 2u);
}

TEST_F(Overlay, AnEndlessWarningIsCutBeforeTheBubbleIsMade) {
  launch({"--warning", "\xff" + std::string(128 * 1024, 'x')});
  auto& host = *app.windows[0]->host;
  EXPECT_EQ(host.bubble->text, "\uFFFD" + std::string(kMaxLabelClusters - 2, 'x') + "\u2026");
  // Wrapped at 52 characters a line: eight lines, on the display.
  EXPECT_EQ(host.bubble->layouts.at(0).frame.height, 8 * 14 + 16);
}

TEST_F(Overlay, NoWarningNoBubble) {
  launch();
  EXPECT_EQ(app.windows[1]->host->subviews, (std::vector<std::string>{"pill"}));
  EXPECT_EQ(controller->overlayView(1).warningBubble(), nullptr);
}

}  // namespace
}  // namespace orvane::selector
