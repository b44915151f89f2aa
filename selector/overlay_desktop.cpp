#include "overlay_desktop.hpp"

#include <xcb/xproto.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "input_mapping.hpp"

namespace orvane::selector::linux_ui {

KeyPress translateKey(std::uint8_t keycode, std::uint32_t keysym, std::uint16_t xState,
                      const std::string& text) {
  KeyPress key;
  if (xState & XCB_MOD_MASK_SHIFT) key.modifierFlags |= kShiftFlag;
  if (xState & XCB_MOD_MASK_LOCK) key.modifierFlags |= kCapsLockFlag;
  if (xState & XCB_MOD_MASK_CONTROL) key.modifierFlags |= kControlFlag;
  if (xState & XCB_MOD_MASK_1) key.modifierFlags |= kOptionFlag;   // Alt
  if (xState & XCB_MOD_MASK_4) key.modifierFlags |= kCommandFlag;  // Super
  // Key codes name the physical key, whatever the layout makes it type, as on macOS; the X
  // key code is the evdev code plus 8.
  if (keycode >= 8) {
    if (auto mac = input::macKeyFromEvdev(keycode - 8u)) key.keyCode = mac->keyCode;
  }
  // Keys that type no character (function keys, arrows) have none, as on macOS for the
  // characters that matter here.
  if (!text.empty() && static_cast<unsigned char>(text[0]) >= 0x20 && text != "\x7f") {
    key.charactersIgnoringModifiers = text;
  } else if (keysym == XKB_KEY_Escape || keysym == XKB_KEY_Return || keysym == XKB_KEY_Tab) {
    key.charactersIgnoringModifiers = text;
  }
  return key;
}

}  // namespace orvane::selector::linux_ui
