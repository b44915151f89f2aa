// How X11 input reads in the CoreGraphics vocabulary: pointer buttons to event types, wheel
// buttons to scroll deltas, held buttons to the motion type, and Linux key codes to macOS
// virtual key codes. Portable, so that it is tested everywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::input {

// X buttons as the server numbers them: 1 left, 2 middle, 3 right, 4/5 wheel up/down,
// 6/7 wheel left/right, 8/9 back/forward, higher ones extra buttons.
// Press or release type of a button: 1 gives types 1/2, 3 gives 3/4, 2 and 8 and up give the
// "other" types 25/26. Wheel buttons 4-7 are never clicks: nothing.
std::optional<std::uint32_t> buttonEventType(std::uint32_t button, bool press);

// One wheel detent of buttons 4-7 as scroll deltas in lines (axis 1 vertical, positive up;
// axis 2 horizontal, positive left); nothing for other buttons.
struct ScrollDelta {
  double axis1 = 0;
  double axis2 = 0;
};
std::optional<ScrollDelta> wheelButtonDelta(std::uint32_t button);

// The type of a pointer move with these buttons held: left dragged (6) before right dragged
// (7) before other dragged (27); moved (5) with none.
struct HeldButtons {
  bool left = false;
  bool right = false;
  bool other = false;
};
std::uint32_t motionEventType(HeldButtons held);

// A key in macOS terms: its virtual key code, and whether it is a modifier (a modifier's
// presses and releases are flags-changed events, type 12, never key down or up).
struct MacKey {
  std::uint16_t keyCode = 0;
  bool modifier = false;
};
// By Linux evdev key code (the X key code minus 8); nothing for a key macOS does not have.
std::optional<MacKey> macKeyFromEvdev(std::uint32_t evdevCode);

// A key's UTF-8 text as CGEventKeyboardGetUnicodeString with a 16-unit buffer gives it: the
// characters that fit in 16 UTF-16 code units, never half of a surrogate pair.
std::string keyboardTextOf(std::string_view utf8);

}  // namespace orvane::input
