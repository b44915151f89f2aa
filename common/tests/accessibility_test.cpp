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

}  // namespace
}  // namespace orvane
