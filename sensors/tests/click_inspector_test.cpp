#include <gtest/gtest.h>

#include <limits>

#include "harness.hpp"

namespace orvane::sensors {
namespace {

using Id = FakeAccessibility::Id;

AXValue text(std::string s) { return s; }

// A running click inspector over a window with a labelled button.
struct Clicks : Harness {
  ClickInspector inspector{context, taps, errors};
  Id window = 0;
  Id button = 0;
  Clicks() {
    addApp(10, "Safari", "com.apple.Safari", "Start");
    workspace.bringToFront(10);
    window = focusedWindow(10);
    ax.setFrame(window, {0, 0, 800, 600});
    button = ax.add({{"AXRole", text("AXButton")}, {"AXTitle", text("  Save\n")}});
    ax.setFrame(button, {100, 200, 80.5, 24});
    ax.setChildren(window, {button});
    ax.hitTest = [this](float, float) -> std::optional<Id> { return window; };
    inspector.startClickTap();
  }
  void press(std::uint32_t type, double x, double y) {
    ASSERT_TRUE(taps.post(type, FakeTapEvent::pointer(x, y)));
  }
};

TEST(ClickLines, PressAndReleaseOverALabelledButton) {
  Clicks c;
  c.press(kCGEventLeftMouseDown, 120, 210.5);
  c.press(kCGEventLeftMouseUp, 120, 210.5);
  EXPECT_EQ(c.take(), (Lines{"{\"app\":\"Safari\",\"atUnixMs\":1700000000000,\"button\":\"left\","
                             "\"type\":\"click\",\"xGlobal\":120,\"yGlobal\":210.5}\n",
                             "{\"app\":\"Safari\",\"atUnixMs\":1700000000001,\"hGlobal\":24,"
                             "\"label\":\"Save\",\"role\":\"AXButton\",\"type\":\"ax-element\","
                             "\"wGlobal\":80.5,\"xGlobal\":100,\"yGlobal\":200}\n",
                             "{\"app\":\"Safari\",\"atUnixMs\":1700000000002,\"button\":\"left\","
                             "\"type\":\"clickUp\",\"xGlobal\":120,\"yGlobal\":210.5}\n"}));
  ASSERT_EQ(c.ax.positionQueries.size(), 1u);
  EXPECT_EQ(c.ax.positionQueries[0], (std::pair<float, float>{120, 210.5}));
  // Every press switches the application in front on, Safari included.
  ASSERT_EQ(c.ax.writes.size(), 2u);
  EXPECT_EQ(c.ax.writes[0].attribute, "AXManualAccessibility");
  EXPECT_EQ(c.ax.writes[1].attribute, "AXEnhancedUserInterface");
}

TEST(ClickLines, ButtonsByTypeAndNoAccessibilityWorkOnRelease) {
  Clicks c;
  c.press(kCGEventOtherMouseDown, 5, 5);
  c.press(kCGEventOtherMouseUp, 5, 5);
  c.press(kCGEventRightMouseDown, 5, 5);
  c.ax.reads.clear();
  c.ax.positionQueries.clear();
  c.press(kCGEventRightMouseUp, 5, 5);
  EXPECT_TRUE(c.ax.reads.empty());
  EXPECT_TRUE(c.ax.positionQueries.empty());
  const auto lines = c.take();
  // A point on the window only: the window is named.
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_NE(lines[0].find("\"button\":\"other\",\"type\":\"click\""), std::string::npos);
  EXPECT_NE(lines[1].find("\"label\":\"Start\",\"role\":\"AXWindow\""), std::string::npos);
  EXPECT_NE(lines[2].find("\"button\":\"other\",\"type\":\"clickUp\""), std::string::npos);
  EXPECT_NE(lines[3].find("\"button\":\"right\",\"type\":\"click\""), std::string::npos);
  EXPECT_NE(lines[5].find("\"button\":\"right\",\"type\":\"clickUp\""), std::string::npos);
}

TEST(ClickLines, NoAppWhenNothingIsInFrontAndNoLineWithoutAnElement) {
  Clicks c;
  c.workspace.front.reset();
  c.ax.hitTest = nullptr;  // the lookup fails
  c.press(kCGEventLeftMouseDown, 1, 2);
  EXPECT_EQ(c.take(), (Lines{"{\"atUnixMs\":1700000000000,\"button\":\"left\",\"type\":\"click\","
                             "\"xGlobal\":1,\"yGlobal\":2}\n"}));
  EXPECT_TRUE(c.ax.writes.empty());

  // An element without role and label, and nothing labelled under it: only the click line.
  const Id blank = c.ax.add();
  c.ax.hitTest = [&](float, float) -> std::optional<Id> { return blank; };
  c.press(kCGEventLeftMouseDown, 1, 2);
  EXPECT_EQ(c.take().size(), 1u);
}

TEST(ClickLines, TheTapIsEnabledAgainSilently) {
  Clicks c;
  ASSERT_TRUE(c.taps.disable(kCGEventTapDisabledByTimeout));
  ASSERT_TRUE(c.taps.disable(kCGEventTapDisabledByUserInput));
  EXPECT_EQ(c.taps.tap().enables, (std::vector<bool>{true, true, true}));
  EXPECT_TRUE(c.take().empty());
  c.press(kCGEventLeftMouseUp, 1, 1);
}

TEST(ElementUnderPoint, TheLabelledChildUnderThePointerIsNamed) {
  Clicks c;
  // A plain group holding an unlabelled image and, under the point, a described icon.
  const Id group = c.ax.add({{"AXRole", text("AXGroup")}, {"AXTitle", text(" \t ")}});
  c.ax.setFrame(group, {300, 300, 100, 100});
  const Id elsewhere = c.ax.add({{"AXRole", text("AXImage")}, {"AXTitle", text("Logo")}});
  c.ax.setFrame(elsewhere, {300, 300, 10, 10});
  const Id icon = c.ax.add(
      {{"AXRole", text("AXImage")}, {"AXTitle", text("   ")}, {"AXDescription", text("Trash")}});
  c.ax.setPositionAndSize(icon, {350, 350, 20, 20});
  const Id noFrame = c.ax.add({{"AXTitle", text("Hidden")}});
  c.ax.setChildren(group, {elsewhere, icon, noFrame});
  c.ax.hitTest = [&](float, float) -> std::optional<Id> { return group; };
  c.press(kCGEventLeftMouseDown, 355, 360);
  const auto lines = c.take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1],
            "{\"app\":\"Safari\",\"atUnixMs\":1700000000001,\"hGlobal\":20,"
            "\"label\":\"Trash\",\"role\":\"AXImage\",\"type\":\"ax-element\","
            "\"wGlobal\":20,\"xGlobal\":350,\"yGlobal\":350}\n");
}

TEST(ElementUnderPoint, APressAsksEachAttributeOnceAndTheNextPressAsksAgain) {
  Clicks c;
  // Unlabelled layers between the window and the button: the search reads their labels and
  // frames, the line the button's role, label and frame again.
  const Id outer = c.ax.add({{"AXRole", text("AXGroup")}});
  c.ax.setPositionAndSize(outer, {0, 0, 400, 400});
  const Id inner = c.ax.add({{"AXRole", text("AXGroup")}, {"AXTitle", text(" ")}});
  c.ax.setFrame(inner, {50, 150, 200, 200});
  c.ax.setChildren(c.window, {outer});
  c.ax.setChildren(outer, {inner});
  c.ax.setChildren(inner, {c.button});
  c.ax.reads.clear();
  c.press(kCGEventLeftMouseDown, 120, 210);
  ASSERT_FALSE(c.ax.reads.empty());
  for (const auto& read : c.ax.reads) {
    EXPECT_EQ(c.ax.readCount(read.id, read.attribute), 1u) << read.id << " " << read.attribute;
  }
  EXPECT_EQ(c.ax.readCount(c.button, "AXTitle"), 1u);

  // Nothing is kept from one press to the next.
  c.ax.set(c.button, "AXTitle", text("Save As"));
  c.ax.setFrame(c.button, {100, 200, 90, 24});
  c.press(kCGEventLeftMouseDown, 120, 210);
  EXPECT_EQ(c.ax.readCount(c.button, "AXTitle"), 2u);
  const auto lines = c.take();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[1].find("\"label\":\"Save\",\"role\":\"AXButton\""), std::string::npos);
  EXPECT_NE(lines[3].find("\"label\":\"Save As\",\"role\":\"AXButton\""), std::string::npos);
  EXPECT_NE(lines[3].find("\"wGlobal\":90"), std::string::npos);
}

TEST(ElementUnderPoint, FramesFromFrameOrPositionAndSizeOnly) {
  FakeAccessibility ax;
  const Id e = ax.add();
  EXPECT_FALSE(axRect(ax, ax.element(e)));
  ax.set(e, "AXPosition", orvane::axPoint(5, 6));
  EXPECT_FALSE(axRect(ax, ax.element(e)));  // no size
  ax.set(e, "AXSize", orvane::axPoint(7, 8));
  EXPECT_FALSE(axRect(ax, ax.element(e)));  // a point is not a size
  ax.set(e, "AXSize", orvane::axSize(7, 8));
  EXPECT_EQ(axRect(ax, ax.element(e)), (Rect{5, 6, 7, 8}));
  ax.set(e, "AXFrame", orvane::axSize(1, 1));  // not a rectangle: position and size decide
  EXPECT_EQ(axRect(ax, ax.element(e)), (Rect{5, 6, 7, 8}));
  ax.set(e, "AXFrame", orvane::axRect(1, 2, 3, 4));
  EXPECT_EQ(axRect(ax, ax.element(e)), (Rect{1, 2, 3, 4}));
}

TEST(ElementUnderPoint, WithoutAUsableFrameThePointStands) {
  Clicks c;
  c.ax.remove(c.button, "AXFrame");
  c.ax.set(c.button, "AXPosition", orvane::axPoint(100, 200));
  c.ax.hitTest = [&](float, float) -> std::optional<Id> { return c.button; };
  c.press(kCGEventLeftMouseDown, 120, 210);
  // A frame that JSON cannot carry would cost the whole line: it counts as unknown.
  c.ax.setFrame(c.button, {std::numeric_limits<double>::infinity(), 0, 1, 1});
  c.press(kCGEventLeftMouseDown, 121, 211);
  const auto lines = c.take();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1],
            "{\"app\":\"Safari\",\"atUnixMs\":1700000000001,\"label\":\"Save\","
            "\"role\":\"AXButton\",\"type\":\"ax-element\",\"xGlobal\":120,"
            "\"yGlobal\":210}\n");
  EXPECT_NE(lines[3].find("\"xGlobal\":121,\"yGlobal\":211}"), std::string::npos);
}

TEST(ElementUnderPoint, SearchLimits) {
  FakeAccessibility ax;
  const Point point{5, 5};
  // 5000 labelled children under the point: 4001 elements are examined, the root first.
  const Id root = ax.add();
  std::vector<Id> children;
  for (int i = 1; i <= 5000; ++i) {
    children.push_back(ax.add({{"AXTitle", text("child " + std::to_string(i))}}));
    ax.setFrame(children.back(), {0, 0, 10, 10});
  }
  ax.setChildren(root, children);
  auto best = labeledDescendantUnderPoint(ax, ax.element(root), point);
  ASSERT_TRUE(best);
  EXPECT_EQ(axLabel(ax, *best), "child 4000");

  // A chain of 45 nested labelled elements: depth 40 is the deepest examined.
  Id parent = ax.add({{"AXTitle", text("depth 0")}});
  const Id top = parent;
  for (int depth = 1; depth <= 45; ++depth) {
    const Id child = ax.add({{"AXTitle", text("depth " + std::to_string(depth))}});
    ax.setFrame(child, {0, 0, 10, 10});
    ax.setChildren(parent, {child});
    parent = child;
  }
  best = labeledDescendantUnderPoint(ax, ax.element(top), point);
  EXPECT_EQ(axLabel(ax, *best), "depth 40");
  // The point on the far edge is outside, so only the root is examined.
  best = labeledDescendantUnderPoint(ax, ax.element(top), {10, 5});
  EXPECT_EQ(axLabel(ax, *best), "depth 0");
}

TEST(Labels, FirstReadableAttributeTrimmedAndCutToUserPerceivedCharacters) {
  FakeAccessibility ax;
  const Id e = ax.add({{"AXTitle", AXURLValue{"https://x"}},
                       {"AXDescription", text("\u00A0\u2003\r\n")},
                       {"AXValue", text("")},
                       {"AXHelp", text("\u3000 help me \u2029")}});
  EXPECT_EQ(axLabel(ax, ax.element(e)), "help me");
  ax.set(e, "AXValue", text(" value "));
  EXPECT_EQ(axLabel(ax, ax.element(e)), "value");

  // 250 characters: the first 200, measured after trimming.
  ax.set(e, "AXTitle", text("   " + std::string(250, 'x')));
  EXPECT_EQ(axLabel(ax, ax.element(e)), std::string(200, 'x'));
  // Combining sequences count as one character each, however many code points they hold.
  std::string accented;
  for (int i = 0; i < 250; ++i) accented += "e\u0301\u0327";
  std::string first200;
  for (int i = 0; i < 200; ++i) first200 += "e\u0301\u0327";
  ax.set(e, "AXTitle", text(accented));
  EXPECT_EQ(axLabel(ax, ax.element(e)), first200);
  std::string flags;
  for (int i = 0; i < 201; ++i) flags += "\U0001F1EB\U0001F1F7";
  ax.set(e, "AXTitle", text(flags));
  EXPECT_EQ(axLabel(ax, ax.element(e)), flags.substr(0, flags.size() - 8));

  ax.set(e, "AXTitle", text("\t"));
  ax.set(e, "AXHelp", AXNumberValue{3});
  ax.remove(e, "AXValue");
  ax.remove(e, "AXDescription");
  EXPECT_EQ(axLabel(ax, ax.element(e)), "");
}

}  // namespace
}  // namespace orvane::sensors
