// X11 input in the CoreGraphics vocabulary, and AT-SPI roles in the AX vocabulary.
#include <gtest/gtest.h>

#include <set>

#include "accessibility.hpp"
#include "accessibility_roles.hpp"
#include "event_tap.hpp"
#include "input_mapping.hpp"

namespace orvane {
namespace {

TEST(ButtonMapping, ClicksByButtonAndWheelButtonsNeverClick) {
  using input::buttonEventType;
  EXPECT_EQ(buttonEventType(1, true), kCGEventLeftMouseDown);
  EXPECT_EQ(buttonEventType(1, false), kCGEventLeftMouseUp);
  EXPECT_EQ(buttonEventType(3, true), kCGEventRightMouseDown);
  EXPECT_EQ(buttonEventType(3, false), kCGEventRightMouseUp);
  for (std::uint32_t other : {2u, 8u, 9u, 12u}) {
    EXPECT_EQ(buttonEventType(other, true), kCGEventOtherMouseDown) << other;
    EXPECT_EQ(buttonEventType(other, false), kCGEventOtherMouseUp) << other;
  }
  for (std::uint32_t wheel : {4u, 5u, 6u, 7u}) {
    EXPECT_FALSE(buttonEventType(wheel, true)) << wheel;
    EXPECT_FALSE(buttonEventType(wheel, false)) << wheel;
    EXPECT_TRUE(input::wheelButtonDelta(wheel)) << wheel;
  }
  EXPECT_FALSE(input::wheelButtonDelta(1));
  EXPECT_FALSE(input::wheelButtonDelta(8));
}

TEST(ButtonMapping, WheelDirectionsFollowTheMacOSSigns) {
  // Up and left are positive; vertical is axis 1, horizontal axis 2.
  EXPECT_EQ(input::wheelButtonDelta(4)->axis1, 1);
  EXPECT_EQ(input::wheelButtonDelta(5)->axis1, -1);
  EXPECT_EQ(input::wheelButtonDelta(6)->axis2, 1);
  EXPECT_EQ(input::wheelButtonDelta(7)->axis2, -1);
  EXPECT_EQ(input::wheelButtonDelta(4)->axis2, 0);
  EXPECT_EQ(input::wheelButtonDelta(6)->axis1, 0);
}

TEST(ButtonMapping, MotionTypeByButtonsHeld) {
  EXPECT_EQ(input::motionEventType({}), kCGEventMouseMoved);
  EXPECT_EQ(input::motionEventType({true, false, false}), kCGEventLeftMouseDragged);
  EXPECT_EQ(input::motionEventType({false, true, false}), kCGEventRightMouseDragged);
  EXPECT_EQ(input::motionEventType({false, false, true}), kCGEventOtherMouseDragged);
  EXPECT_EQ(input::motionEventType({true, true, true}), kCGEventLeftMouseDragged);
}

TEST(KeyCodes, LettersDigitsAndControlKeysSitWhereMacKeyboardsHaveThem) {
  // evdev KEY_A 30, KEY_Z 44, KEY_Q 16, KEY_1 2, KEY_0 11, KEY_ENTER 28, KEY_BACKSPACE 14,
  // KEY_DELETE 111, KEY_SPACE 57, KEY_ESC 1, KEY_LEFT 105, KEY_F1 59, KEY_KPENTER 96.
  const std::pair<std::uint32_t, std::uint16_t> expected[] = {
      {30, 0x00},  {44, 0x06}, {16, 0x0C}, {2, 0x12},   {11, 0x1D}, {28, 0x24}, {14, 0x33},
      {111, 0x75}, {57, 0x31}, {1, 0x35},  {105, 0x7B}, {59, 0x7A}, {96, 0x4C}};
  for (auto [evdev, mac] : expected) {
    auto key = input::macKeyFromEvdev(evdev);
    ASSERT_TRUE(key) << evdev;
    EXPECT_EQ(key->keyCode, mac) << evdev;
    EXPECT_FALSE(key->modifier) << evdev;
  }
  EXPECT_FALSE(input::macKeyFromEvdev(0));
  EXPECT_FALSE(input::macKeyFromEvdev(70));  // scroll lock
  EXPECT_FALSE(input::macKeyFromEvdev(1000));
}

TEST(KeyCodes, ModifiersAreFlagsChangedKeys) {
  // shift, control, option and command on both sides, caps lock, fn.
  const std::pair<std::uint32_t, std::uint16_t> modifiers[] = {
      {42, 0x38},  {54, 0x3C},  {29, 0x3B},  {97, 0x3E}, {56, 0x3A},
      {100, 0x3D}, {125, 0x37}, {126, 0x36}, {58, 0x39}, {464, 0x3F}};
  for (auto [evdev, mac] : modifiers) {
    auto key = input::macKeyFromEvdev(evdev);
    ASSERT_TRUE(key) << evdev;
    EXPECT_EQ(key->keyCode, mac) << evdev;
    EXPECT_TRUE(key->modifier) << evdev;
  }
}

TEST(KeyCodes, NoTwoKeysShareAMacCode) {
  std::set<std::uint16_t> seen;
  for (std::uint32_t evdev = 0; evdev < 512; ++evdev) {
    if (auto key = input::macKeyFromEvdev(evdev)) {
      EXPECT_TRUE(seen.insert(key->keyCode).second) << "evdev " << evdev;
    }
  }
  EXPECT_GT(seen.size(), 100u);
}

TEST(KeyboardText, KeepsWhatSixteenUtf16UnitsHold) {
  EXPECT_EQ(input::keyboardTextOf(""), "");
  EXPECT_EQ(input::keyboardTextOf("\xC3\xA9"), "\xC3\xA9");  // é: one unit
  const std::string sixteen(16, 'a');
  EXPECT_EQ(input::keyboardTextOf(sixteen + "b"), sixteen);
  // An emoji takes two units: after fifteen letters it no longer fits, and is not cut in half.
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(input::keyboardTextOf(std::string(15, 'a') + emoji), std::string(15, 'a'));
  EXPECT_EQ(input::keyboardTextOf(std::string(14, 'a') + emoji + "z"),
            std::string(14, 'a') + emoji);
  std::string eight;
  for (int i = 0; i < 9; ++i) eight += emoji;
  EXPECT_EQ(input::keyboardTextOf(eight), eight.substr(0, 8 * 4));
}

TEST(RoleMapping, AtspiRolesReadAsAXRoles) {
  const std::tuple<const char*, const char*, const char*> expected[] = {
      {"push button", "AXButton", ""},
      {"password text", "AXTextField", "AXSecureTextField"},
      {"text", "AXTextField", ""},
      {"entry", "AXTextField", ""},
      {"page tab", "AXRadioButton", "AXTabButton"},
      {"document web", "AXWebArea", ""},
      {"filler", "AXGroup", ""},
      {"frame", "AXWindow", ""},
      {"toggle button", "AXCheckBox", ""},
      {"list item", "AXCell", ""},
      {"tree", "AXOutline", ""},
      {"application", "AXApplication", ""},
  };
  for (auto [atspi, role, subrole] : expected) {
    const AXRoleName ax = axRoleForAtspiRole(atspi);
    EXPECT_EQ(ax.role, role) << atspi;
    EXPECT_EQ(ax.subrole, subrole) << atspi;
  }
}

TEST(RoleMapping, RoleAndSubroleAttributesOfARole) {
  const AXRoleName secure = axRoleForAtspiRole("password text");
  EXPECT_EQ(axRoleAttribute(secure, kAttrRole), "AXTextField");
  EXPECT_EQ(axRoleAttribute(secure, kAttrSubrole), "AXSecureTextField");
  // No subrole reads as an absent value, never as an empty text.
  const AXRoleName button = axRoleForAtspiRole("push button");
  EXPECT_EQ(axRoleAttribute(button, kAttrRole), "AXButton");
  EXPECT_EQ(axRoleAttribute(button, kAttrSubrole), std::nullopt);
  EXPECT_EQ(axRoleAttribute(axRoleForAtspiRole("canvas"), kAttrRole), "AXUnknown");
  for (auto other : {kAttrTitle, kAttrDescription, kAttrValue}) {
    EXPECT_EQ(axRoleAttribute(secure, other), std::nullopt) << other;
  }
}

TEST(RoleMapping, UnlistedRolesAreUnknownWithoutSubrole) {
  for (const char* atspi : {"combo box", "canvas", "", "Push Button", "push  button"}) {
    EXPECT_EQ(axRoleForAtspiRole(atspi).role, "AXUnknown") << atspi;
    EXPECT_EQ(axRoleForAtspiRole(atspi).subrole, "") << atspi;
  }
}

}  // namespace
}  // namespace orvane
