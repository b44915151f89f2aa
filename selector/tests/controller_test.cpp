#include "controller.hpp"

#include <gtest/gtest.h>

#include "application_fake.hpp"
#include "overlay_view.hpp"
#include "window_server_fake.hpp"

namespace orvane::selector {
namespace {

Dictionary window(std::int64_t id, Rect bounds, std::int64_t pid = 50) {
  return {{std::string(kCGWindowNumber), id},
          {std::string(kCGWindowLayer), 0},
          {std::string(kCGWindowOwnerPID), pid},
          {std::string(kCGWindowOwnerName), "Notes"},
          {std::string(kCGWindowName), "a/b"},
          {std::string(kCGWindowBounds), dictionaryFromRect(bounds)}};
}

ScreenInfo screenNumber(std::int64_t n) { return {RecordValue(n), 2}; }

// Two displays side by side, tops aligned: 1 (main) 1440 × 900, 2 to its right 1920 × 1080.
struct Controller : ::testing::Test {
  FakeApplication app;
  FakeWindowServer server;
  CapturedOutput out;
  std::unique_ptr<CaptureSelectorController> controller;

  Controller() {
    server.displays = {{1, {0, 0, 1440, 900}}, {2, {1440, 0, 1920, 1080}}};
    app.screenList = {{{0, 0, 1440, 900}, screenNumber(1)},
                      {{1440, -180, 1920, 1080}, screenNumber(2)}};
    server.cursor = Point{100, 100};
    server.windows = std::vector<RecordValue>{window(812, {50, 50, 400, 300})};
  }

  void launch(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), "select");
    controller =
        std::make_unique<CaptureSelectorController>(parseArguments(extra).config, app, server, out);
    controller->applicationDidFinishLaunching();
  }
  FakeViewHost& host(int i) { return *app.windows[static_cast<std::size_t>(i)]->host; }
  FakePillSurface& pill(int i) { return *host(i).pill; }
  int repaints() { return host(0).needsDisplay + host(1).needsDisplay; }
  KeyEvent key(std::uint16_t code, std::string chars = "", std::uint64_t modifiers = 0) {
    return {code, modifiers, chars.empty() ? std::nullopt : std::optional(chars)};
  }
};

constexpr std::uint16_t kW = 13, kF = 3;
const std::string kWindow812 =
    "{\"kind\":\"window\",\"windowId\":812,\"ownerPid\":50,\"ownerName\":\"Notes\",\"title\":"
    "\"a/b\",\"displayId\":1,\"bounds\":{\"x\":50,\"y\":50,\"width\":400,\"height\":300}}\n";

TEST_F(Controller, LaunchSequence) {
  launch();
  const std::vector<std::string> expected = {"setActivationPolicy 1",
                                             "activateIgnoringOtherApps true",
                                             "probeWindowCornerRadius",
                                             "makeOverlayWindow 0",
                                             "window 0: setAcceptsMouseMovedEvents",
                                             "window 0: setContentView",
                                             "window 0: makeKeyAndOrderFront",
                                             "window 0: orderFrontRegardless",
                                             "window 0: makeFirstResponder",
                                             "makeOverlayWindow 1",
                                             "window 1: setAcceptsMouseMovedEvents",
                                             "window 1: setContentView",
                                             "window 1: makeKeyAndOrderFront",
                                             "window 1: orderFrontRegardless",
                                             "window 1: makeFirstResponder",
                                             "window 0: makeKeyWindow",
                                             "addLocalKeyDownMonitor",
                                             "performAfter 0.25",
                                             "performAfter 0.6"};
  EXPECT_EQ(app.log, expected);
  EXPECT_EQ(app.keyWindow, app.windows[0]);
  EXPECT_TRUE(app.windows[0]->acceptsMouseMoved);
  EXPECT_EQ(controller->overlayView(0).frame(), (Rect{0, 0, 1440, 900}));
  EXPECT_EQ(controller->overlayView(1).displayId(), 2u);
  EXPECT_EQ(controller->overlayView(1).displayBounds(), (Rect{1440, 0, 1920, 1080}));
  EXPECT_TRUE(controller->excludedPids().count(app.pid));
  // The pointer is on the main display, as the state started: no repaint, but every pill shows
  // its first content, without animation.
  EXPECT_EQ(repaints(), 0);
  ASSERT_EQ(pill(0).shown.size(), 1u);
  ASSERT_EQ(pill(1).shown.size(), 1u);
  EXPECT_FALSE(pill(1).shown[0].animated);
  EXPECT_EQ(out.out, "");
}

TEST_F(Controller, SecondDisplayAtLaunchRepaintsAndIsAccepted) {
  server.cursor = Point{1500, 10};
  launch();
  EXPECT_EQ(controller->activeDisplayId(), 2u);
  EXPECT_EQ(host(0).needsDisplay, 1);
  EXPECT_EQ(host(1).needsDisplay, 1);
  EXPECT_TRUE(app.press(kVKReturn));
  EXPECT_EQ(out.out, "{\"kind\":\"screen\",\"displayId\":2}\n");
  EXPECT_EQ(app.terminations, 1);
}

TEST_F(Controller, EscapeTwiceWritesOneCancellation) {
  launch();
  EXPECT_TRUE(app.press(kVKEscape));
  EXPECT_TRUE(app.press(kVKEscape));
  EXPECT_EQ(out.out, "{\"cancelled\":true}\n");
  EXPECT_EQ(app.terminations, 1);
  // Nothing changes once closing: not the mode, not the state, no second line.
  EXPECT_TRUE(app.press(kW, "w"));
  controller->setMode(SelectionMode::window);
  controller->acceptScreen(1);
  pill(0).perform(PillAction::record);
  controller->overlayView(0).mouseDown();
  EXPECT_EQ(controller->selectionMode(), SelectionMode::screen);
  EXPECT_EQ(out.out, "{\"cancelled\":true}\n");
  EXPECT_EQ(app.terminations, 1);
}

TEST_F(Controller, WindowModeAcceptsOnlyAHoveredWindow) {
  server.cursor = Point{1000, 800};  // bare desktop
  launch({"--initial-mode", "window"});
  EXPECT_FALSE(controller->hoveredWindow());
  EXPECT_TRUE(app.press(kVKReturn));
  controller->overlayView(0).mouseDown();
  EXPECT_EQ(out.out, "");
  EXPECT_EQ(app.terminations, 0);
  // A click re-reads the pointer before accepting.
  server.cursor = Point{100, 100};
  controller->overlayView(0).mouseDown();
  EXPECT_EQ(out.out, kWindow812);
  EXPECT_EQ(app.terminations, 1);
  EXPECT_EQ(app.log.back(), "terminate");
}

TEST_F(Controller, ReturnAcceptsTheLastUpdate) {
  launch({"--initial-mode", "window"});
  ASSERT_TRUE(controller->hoveredWindow());
  server.cursor = Point{1000, 800};  // moved away, but no event reported it
  EXPECT_TRUE(app.press(kVKKeypadEnter));
  EXPECT_EQ(out.out, kWindow812);
}

TEST_F(Controller, KeyTable) {
  launch();
  // Shortcuts of others go on.
  EXPECT_FALSE(app.press(kW, "w", kModifierCommand));
  EXPECT_FALSE(app.press(kF, "f", kModifierControl));
  EXPECT_FALSE(app.press(kW, "w", kModifierOption));
  EXPECT_FALSE(app.press(0, "a"));
  EXPECT_FALSE(app.press(kW));  // no characters
  EXPECT_FALSE(app.press(kW, "wf"));
  EXPECT_EQ(controller->selectionMode(), SelectionMode::screen);
  // Shift and Caps Lock do not matter.
  EXPECT_TRUE(app.press(kW, "W", kModifierShift | kModifierCapsLock));
  EXPECT_EQ(controller->selectionMode(), SelectionMode::window);
  EXPECT_EQ(repaints(), 2);  // forced
  EXPECT_TRUE(app.press(kF, "F"));
  EXPECT_EQ(controller->selectionMode(), SelectionMode::screen);
  // Command+Return accepts.
  EXPECT_TRUE(app.press(kVKReturn, "\r", kModifierCommand));
  EXPECT_EQ(out.out, "{\"kind\":\"screen\",\"displayId\":1}\n");
}

TEST_F(Controller, SameModeKeyIsConsumedWithoutChange) {
  launch({"--initial-mode", "window"});
  const int before = repaints();
  const auto shows = pill(0).shown.size();
  EXPECT_TRUE(app.press(kW, "w"));
  EXPECT_EQ(repaints(), before);
  EXPECT_EQ(pill(0).shown.size(), shows);
  EXPECT_EQ(controller->selectionMode(), SelectionMode::window);
}

TEST_F(Controller, ModeChangesFollowThePointer) {
  launch();
  EXPECT_FALSE(controller->hoveredWindow());  // never looked for in screen mode
  pill(1).perform(PillAction::pickWindow);
  ASSERT_TRUE(controller->hoveredWindow());
  EXPECT_EQ(controller->hoveredWindow()->windowId, 812u);
  EXPECT_EQ(pill(0).shown.back().animated, true);
  // Moving over the window changes nothing; moving off it repaints.
  const int before = repaints();
  controller->overlayView(0).mouseMoved();
  EXPECT_EQ(repaints(), before);
  server.cursor = Point{1000, 800};
  controller->overlayView(0).mouseDragged();
  EXPECT_FALSE(controller->hoveredWindow());
  EXPECT_EQ(repaints(), before + 2);
  // Back to the screen clears the hovered window.
  server.cursor = Point{100, 100};
  controller->updateSelectionState();
  ASSERT_TRUE(controller->hoveredWindow());
  pill(0).perform(PillAction::fullScreen);
  EXPECT_EQ(controller->selectionMode(), SelectionMode::screen);
  EXPECT_FALSE(controller->hoveredWindow());
  pill(0).perform(PillAction::cancel);
  EXPECT_EQ(out.out, "{\"cancelled\":true}\n");
}

TEST_F(Controller, HoveredWindowChangesWhenAnyFieldDoes) {
  launch({"--initial-mode", "window"});
  const int before = repaints();
  auto moved = window(812, {51, 50, 400, 300});
  server.windows = std::vector<RecordValue>{moved};
  controller->updateSelectionState();
  EXPECT_EQ(repaints(), before + 2);
  // A changed title repaints, but the pill keeps its content (its key is the window number).
  const auto shows = pill(0).shown.size();
  moved.back() = {std::string(kCGWindowBounds), dictionaryFromRect({51, 50, 400, 300})};
  moved[4].second = RecordValue("new title");
  server.windows = std::vector<RecordValue>{moved};
  controller->updateSelectionState();
  EXPECT_EQ(repaints(), before + 4);
  EXPECT_EQ(pill(0).shown.size(), shows);
}

TEST_F(Controller, OwnAndExcludedProcessesAreNeverOffered) {
  server.windows =
      std::vector<RecordValue>{window(1, {0, 0, 500, 500}, app.pid),
                               window(2, {0, 0, 500, 500}, 77), window(3, {0, 0, 500, 500}, 78)};
  launch({"--initial-mode", "window", "--exclude-pid", "77"});
  ASSERT_TRUE(controller->hoveredWindow());
  EXPECT_EQ(controller->hoveredWindow()->windowId, 3u);
}

TEST_F(Controller, WindowBoundsAreWrittenAsMinimumCornerAndSize) {
  launch();
  WindowCandidate c{9, -1, "", "", {500, 350, -400, -300}, 1};
  controller->acceptWindow(c);
  EXPECT_EQ(out.out,
            "{\"kind\":\"window\",\"windowId\":9,\"ownerPid\":-1,\"ownerName\":\"\",\"title\":\"\","
            "\"displayId\":1,\"bounds\":{\"x\":100,\"y\":50,\"width\":400,\"height\":300}}\n");
}

TEST_F(Controller, ActivationIsTakenBack) {
  launch();
  app.delayed.clear();
  app.log.clear();
  controller->applicationDidResignActive();
  EXPECT_EQ(app.log, (std::vector<std::string>{"performAfter 0.05", "performAfter 0.35"}));
  // Another application took activation and the key window.
  app.active = false;
  app.keyWindow = nullptr;
  app.log.clear();
  app.runDelayed();
  EXPECT_EQ(app.log, (std::vector<std::string>{"activateIgnoringOtherApps true",
                                               "window 0: makeKeyAndOrderFront"}));
  // Already active with a key window: nothing to do.
  controller->applicationDidResignActive();
  app.log.clear();
  app.runDelayed();
  EXPECT_TRUE(app.log.empty());
  // Closing: no more re-assertions are scheduled.
  controller->cancel();
  app.log.clear();
  controller->applicationDidResignActive();
  EXPECT_TRUE(app.delayed.empty());
}

TEST_F(Controller, DelayedWorkAndKeyMonitorOutliveNothing) {
  launch();
  app.active = false;
  controller.reset();
  app.log.clear();
  app.runDelayed();
  EXPECT_TRUE(app.log.empty());
  EXPECT_FALSE(app.press(kVKEscape));
  EXPECT_EQ(out.out, "");
}

TEST_F(Controller, NoScreensWaits) {
  app.screenList.clear();
  launch();
  EXPECT_EQ(controller->windowCount(), 0u);
  EXPECT_EQ(app.keyWindow, nullptr);
  app.active = false;
  app.runDelayed();
  EXPECT_TRUE(app.active);
  EXPECT_EQ(app.keyWindow, nullptr);
  EXPECT_EQ(out.out, "");
}

TEST_F(Controller, OverlayEventsAndKeyWindow) {
  launch();
  auto& view1 = controller->overlayView(1);
  // Moving over a window that is not key makes it key; dragging does not.
  view1.mouseDragged();
  EXPECT_EQ(app.keyWindow, app.windows[0]);
  view1.mouseMoved();
  EXPECT_EQ(app.keyWindow, app.windows[1]);
  app.log.clear();
  view1.mouseMoved();
  EXPECT_TRUE(app.log.empty());  // already key
  // Keys the controller does not handle go on to the default handling.
  EXPECT_FALSE(view1.keyDown(key(0, "a")));
  // A view without a window still reaches the controller.
  host(0).inWindow = false;
  server.cursor = Point{1500, 10};
  controller->overlayView(0).mouseDown();
  EXPECT_EQ(app.keyWindow, app.windows[1]);
  EXPECT_EQ(out.out, "{\"kind\":\"screen\",\"displayId\":2}\n");
}

TEST_F(Controller, NoPointerOffersNothing) {
  server.cursor.reset();
  launch({"--initial-mode", "window"});
  EXPECT_EQ(controller->activeDisplayId(), 1u);
  EXPECT_FALSE(controller->hoveredWindow());
  controller->overlayView(0).mouseDown();
  EXPECT_EQ(out.out, "");
}

}  // namespace
}  // namespace orvane::selector
