#include "accessibility.hpp"

#include <gtest/gtest.h>

#include "accessibility_fake.hpp"

namespace orvane {
namespace {

TEST(AxString, TextAsGivenAndNothingForEveryOtherAnswer) {
  FakeAccessibility ax;
  const auto id = ax.add({{"AXTitle", std::string(" Notes \n")},
                          {"AXValue", std::string()},
                          {"AXEnabled", true},
                          {"AXURL", AXURLValue{"file:///tmp/a"}}});
  const AXElement element = ax.element(id);
  // Not trimmed, and empty text is text.
  EXPECT_EQ(axString(ax, element, "AXTitle"), " Notes \n");
  EXPECT_EQ(axString(ax, element, "AXValue"), "");
  // Values of another kind and missing attributes read as nothing.
  EXPECT_EQ(axString(ax, element, "AXEnabled"), std::nullopt);
  EXPECT_EQ(axString(ax, element, "AXURL"), std::nullopt);
  EXPECT_EQ(axString(ax, element, "AXDescription"), std::nullopt);
  ax.setUnresponsive(id);
  EXPECT_EQ(axString(ax, element, "AXTitle"), std::nullopt);
}

TEST(LimitCallWaits, EveryElementTheServiceHandsOutWaitsAtMostTheLimit) {
  FakeAccessibility ax;
  ax.freshHandles = true;
  const auto window = ax.add({{"AXTitle", std::string("Page")}});
  ax.setApplication(7, ax.add({{"AXFocusedWindow", ax.element(window)}}));
  const auto titleWait = [&] {
    const AXElement app = ax.createApplication(7);
    const auto focused = axElementValue(*ax.copyAttributeValue(app, "AXFocusedWindow"));
    EXPECT_EQ(axString(ax, *focused, "AXTitle"), "Page");
    return ax.reads.back().timeoutSeconds;
  };
  // A limit set on an application's element is that handle's alone: what is read from it
  // waits as long as ever.
  ax.setMessagingTimeout(ax.createApplication(7), 0.8f);
  EXPECT_EQ(titleWait(), FakeAccessibility::kDefaultTimeoutSeconds);
  limitCallWaits(ax);
  EXPECT_EQ(titleWait(), 0.8f);
  EXPECT_EQ(ax.timeoutOf(ax.createSystemWide()), 0.8f);
}

}  // namespace
}  // namespace orvane
