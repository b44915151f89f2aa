// The value readers of the accessibility seam and the behaviour of the fakes that the tools'
// unit tests rely on.
#include <gtest/gtest.h>

#include "accessibility_fake.hpp"
#include "event_tap_fake.hpp"
#include "workspace.hpp"
#include "workspace_fake.hpp"

namespace orvane {
namespace {

TEST(AXValueReaders, GeometryIsReadOnlyAsItsOwnType) {
  const AXValue point = axPoint(3, 4), size = axSize(5, 6), rect = axRect(1, 2, 3, 4);
  ASSERT_TRUE(axPointValue(point));
  EXPECT_EQ(axPointValue(point)->x, 3);
  EXPECT_FALSE(axPointValue(size));
  EXPECT_FALSE(axPointValue(rect));
  EXPECT_EQ(axSizeValue(size), (Rect{0, 0, 5, 6}));
  EXPECT_FALSE(axSizeValue(rect));
  EXPECT_EQ(axRectValue(rect), (Rect{1, 2, 3, 4}));
  EXPECT_FALSE(axRectValue(point));
  EXPECT_FALSE(axRectValue(AXValue(std::string("1 2 3 4"))));
}

TEST(AXValueReaders, TextAndElementRejectOtherKinds) {
  FakeAccessibility ax;
  const auto e = ax.add();
  EXPECT_EQ(axTextValue(AXValue(std::string())), std::string());
  EXPECT_FALSE(axTextValue(AXValue(AXURLValue{"https://a"})));
  EXPECT_FALSE(axTextValue(AXValue(AXNumberValue{1})));
  EXPECT_FALSE(axTextValue(AXValue(true)));
  EXPECT_EQ(ax.idOf(*axElementValue(AXValue(ax.element(e)))), e);
  EXPECT_FALSE(axElementValue(AXValue(std::vector<AXElement>{ax.element(e)})));
  EXPECT_FALSE(axElementValue(AXValue(AXElement())));
}

TEST(FakeAccessibility, ApplicationsReadsWritesAndUnresponsiveElements) {
  FakeAccessibility ax;
  const auto app = ax.add({{"AXRole", std::string("AXApplication")}});
  ax.setApplication(42, app);
  EXPECT_EQ(ax.idOf(ax.createApplication(42)), app);
  // An unknown pid still gives an element, which reads nothing.
  const auto other = ax.createApplication(7);
  EXPECT_TRUE(other);
  EXPECT_FALSE(ax.copyAttributeValue(other, "AXRole"));

  EXPECT_TRUE(ax.setAttributeValue(ax.element(app), "AXManualAccessibility", true));
  ASSERT_EQ(ax.writes.size(), 1u);
  EXPECT_EQ(ax.writes[0].attribute, "AXManualAccessibility");
  ax.setUnresponsive(app);
  EXPECT_FALSE(ax.copyAttributeValue(ax.element(app), "AXRole"));
  EXPECT_FALSE(ax.setAttributeValue(ax.element(app), "AXEnhancedUserInterface", true));
  EXPECT_EQ(ax.readCount(app, "AXRole"), 1u);

  // A handle the fake did not give out reads as absent.
  EXPECT_FALSE(ax.copyAttributeValue(AXElement(), "AXRole"));
}

TEST(FakeAccessibility, FocusAndHitTestThroughTheSystemWideElement) {
  FakeAccessibility ax;
  const auto field = ax.add({{"AXRole", std::string("AXTextField")}});
  const auto wide = ax.createSystemWide();
  EXPECT_FALSE(ax.copyAttributeValue(wide, kAttrFocusedUIElement));
  ax.setFocused(field);
  auto focused = ax.copyAttributeValue(wide, kAttrFocusedUIElement);
  ASSERT_TRUE(focused);
  EXPECT_EQ(ax.idOf(*axElementValue(*focused)), field);

  EXPECT_FALSE(ax.copyElementAtPosition(wide, 1, 2));
  ax.hitTest = [&](float x, float) -> std::optional<FakeAccessibility::Id> {
    if (x < 100) return field;
    return std::nullopt;
  };
  EXPECT_EQ(ax.idOf(*ax.copyElementAtPosition(wide, 10.5f, 2)), field);
  EXPECT_FALSE(ax.copyElementAtPosition(wide, 200, 2));
  EXPECT_EQ(ax.positionQueries.size(), 3u);
}

TEST(FakeEventTaps, DeliversOnlyWhatTheMaskAsksWhileOnTheRunLoopAndEnabled) {
  FakeEventTaps taps;
  std::vector<std::uint32_t> seen;
  auto port =
      taps.createListenOnlyTap(eventMaskBit(kCGEventLeftMouseDown),
                               [&](std::uint32_t type, const TapEvent&) { seen.push_back(type); });
  ASSERT_TRUE(port);
  EXPECT_FALSE(taps.post(kCGEventLeftMouseDown));  // not on a run loop yet
  port->addToCurrentRunLoop();
  EXPECT_FALSE(taps.post(kCGEventLeftMouseDown));  // not enabled
  port->enable(true);
  EXPECT_TRUE(taps.post(kCGEventLeftMouseDown));
  EXPECT_FALSE(taps.post(kCGEventLeftMouseUp));  // not in the mask

  // The system disables the tap: the notification comes whatever the mask, events stop.
  EXPECT_TRUE(taps.disable(kCGEventTapDisabledByTimeout));
  EXPECT_FALSE(taps.post(kCGEventLeftMouseDown));
  port->enable(true);
  EXPECT_TRUE(taps.post(kCGEventLeftMouseDown));
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, kCGEventTapDisabledByTimeout, 1}));
  EXPECT_EQ(taps.tap().enables, (std::vector<bool>{true, true}));

  taps.failCreate = true;
  EXPECT_FALSE(taps.createListenOnlyTap(0, {}));
  EXPECT_EQ(taps.createAttempts, 2);
}

TEST(EventMask, TypesOf64AndAboveContributeNothing) {
  EXPECT_EQ(eventMaskBit(kCGEventLeftMouseDown) | eventMaskBit(kCGEventLeftMouseUp) |
                eventMaskBit(kCGEventRightMouseDown) | eventMaskBit(kCGEventRightMouseUp) |
                eventMaskBit(kCGEventOtherMouseDown) | eventMaskBit(kCGEventOtherMouseUp),
            0x0600001Eu);
  EXPECT_EQ(eventMaskBit(kCGEventTapDisabledByTimeout), 0u);
}

TEST(FakeWorkspace, RunningApplicationsByPid) {
  FakeWorkspace ws;
  EXPECT_FALSE(ws.frontmostApplication());
  ws.addApplication(10, "Editor", "org.example.editor");
  ws.addApplication(11, std::nullopt, std::nullopt, kActivationPolicyAccessory);
  ws.bringToFront(10);
  EXPECT_EQ(ws.frontmostApplication()->localizedName, "Editor");
  EXPECT_EQ(ws.runningApplication(11)->activationPolicy, kActivationPolicyAccessory);
  EXPECT_FALSE(ws.runningApplication(12));
}

}  // namespace
}  // namespace orvane
