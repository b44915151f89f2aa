#include "input_mapping.hpp"

#include <array>

#include "event_tap.hpp"
#include "text.hpp"

namespace orvane::input {

std::optional<std::uint32_t> buttonEventType(std::uint32_t button, bool press) {
  switch (button) {
    case 0:
    case 4:
    case 5:
    case 6:
    case 7:
      return std::nullopt;
    case 1:
      return press ? kCGEventLeftMouseDown : kCGEventLeftMouseUp;
    case 3:
      return press ? kCGEventRightMouseDown : kCGEventRightMouseUp;
    default:
      return press ? kCGEventOtherMouseDown : kCGEventOtherMouseUp;
  }
}

std::optional<ScrollDelta> wheelButtonDelta(std::uint32_t button) {
  switch (button) {
    case 4:
      return ScrollDelta{1, 0};
    case 5:
      return ScrollDelta{-1, 0};
    case 6:
      return ScrollDelta{0, 1};
    case 7:
      return ScrollDelta{0, -1};
    default:
      return std::nullopt;
  }
}

std::uint32_t motionEventType(HeldButtons held) {
  if (held.left) return kCGEventLeftMouseDragged;
  if (held.right) return kCGEventRightMouseDragged;
  if (held.other) return kCGEventOtherMouseDragged;
  return kCGEventMouseMoved;
}

namespace {

// The one table of key codes: Linux evdev code (linux/input-event-codes.h) to the macOS
// virtual key code (kVK_… of HIToolbox/Events.h) of the key in the same place on an ANSI or
// ISO keyboard.
struct Entry {
  std::uint16_t evdev;
  std::uint16_t mac;
  bool modifier;
};

constexpr std::array kKeys = std::to_array<Entry>({
    {1, 0x35, false},    // ESC → kVK_Escape
    {2, 0x12, false},    // 1
    {3, 0x13, false},    // 2
    {4, 0x14, false},    // 3
    {5, 0x15, false},    // 4
    {6, 0x17, false},    // 5
    {7, 0x16, false},    // 6
    {8, 0x1A, false},    // 7
    {9, 0x1C, false},    // 8
    {10, 0x19, false},   // 9
    {11, 0x1D, false},   // 0
    {12, 0x1B, false},   // MINUS
    {13, 0x18, false},   // EQUAL
    {14, 0x33, false},   // BACKSPACE → kVK_Delete
    {15, 0x30, false},   // TAB
    {16, 0x0C, false},   // Q
    {17, 0x0D, false},   // W
    {18, 0x0E, false},   // E
    {19, 0x0F, false},   // R
    {20, 0x11, false},   // T
    {21, 0x10, false},   // Y
    {22, 0x20, false},   // U
    {23, 0x22, false},   // I
    {24, 0x1F, false},   // O
    {25, 0x23, false},   // P
    {26, 0x21, false},   // LEFTBRACE
    {27, 0x1E, false},   // RIGHTBRACE
    {28, 0x24, false},   // ENTER → kVK_Return
    {29, 0x3B, true},    // LEFTCTRL → kVK_Control
    {30, 0x00, false},   // A
    {31, 0x01, false},   // S
    {32, 0x02, false},   // D
    {33, 0x03, false},   // F
    {34, 0x05, false},   // G
    {35, 0x04, false},   // H
    {36, 0x26, false},   // J
    {37, 0x28, false},   // K
    {38, 0x25, false},   // L
    {39, 0x29, false},   // SEMICOLON
    {40, 0x27, false},   // APOSTROPHE
    {41, 0x32, false},   // GRAVE
    {42, 0x38, true},    // LEFTSHIFT → kVK_Shift
    {43, 0x2A, false},   // BACKSLASH
    {44, 0x06, false},   // Z
    {45, 0x07, false},   // X
    {46, 0x08, false},   // C
    {47, 0x09, false},   // V
    {48, 0x0B, false},   // B
    {49, 0x2D, false},   // N
    {50, 0x2E, false},   // M
    {51, 0x2B, false},   // COMMA
    {52, 0x2F, false},   // DOT
    {53, 0x2C, false},   // SLASH
    {54, 0x3C, true},    // RIGHTSHIFT → kVK_RightShift
    {55, 0x43, false},   // KPASTERISK
    {56, 0x3A, true},    // LEFTALT → kVK_Option
    {57, 0x31, false},   // SPACE
    {58, 0x39, true},    // CAPSLOCK
    {59, 0x7A, false},   // F1
    {60, 0x78, false},   // F2
    {61, 0x63, false},   // F3
    {62, 0x76, false},   // F4
    {63, 0x60, false},   // F5
    {64, 0x61, false},   // F6
    {65, 0x62, false},   // F7
    {66, 0x64, false},   // F8
    {67, 0x65, false},   // F9
    {68, 0x6D, false},   // F10
    {69, 0x47, false},   // NUMLOCK → kVK_ANSI_KeypadClear
    {71, 0x59, false},   // KP7
    {72, 0x5B, false},   // KP8
    {73, 0x5C, false},   // KP9
    {74, 0x4E, false},   // KPMINUS
    {75, 0x56, false},   // KP4
    {76, 0x57, false},   // KP5
    {77, 0x58, false},   // KP6
    {78, 0x45, false},   // KPPLUS
    {79, 0x53, false},   // KP1
    {80, 0x54, false},   // KP2
    {81, 0x55, false},   // KP3
    {82, 0x52, false},   // KP0
    {83, 0x41, false},   // KPDOT
    {86, 0x0A, false},   // 102ND → kVK_ISO_Section
    {87, 0x67, false},   // F11
    {88, 0x6F, false},   // F12
    {89, 0x5E, false},   // RO → kVK_JIS_Underscore
    {96, 0x4C, false},   // KPENTER
    {97, 0x3E, true},    // RIGHTCTRL → kVK_RightControl
    {98, 0x4B, false},   // KPSLASH
    {100, 0x3D, true},   // RIGHTALT → kVK_RightOption
    {102, 0x73, false},  // HOME
    {103, 0x7E, false},  // UP
    {104, 0x74, false},  // PAGEUP
    {105, 0x7B, false},  // LEFT
    {106, 0x7C, false},  // RIGHT
    {107, 0x77, false},  // END
    {108, 0x7D, false},  // DOWN
    {109, 0x79, false},  // PAGEDOWN
    {110, 0x72, false},  // INSERT → kVK_Help, where Mac keyboards have it
    {111, 0x75, false},  // DELETE → kVK_ForwardDelete
    {113, 0x4A, false},  // MUTE
    {114, 0x49, false},  // VOLUMEDOWN
    {115, 0x48, false},  // VOLUMEUP
    {117, 0x51, false},  // KPEQUAL
    {121, 0x5F, false},  // KPCOMMA → kVK_JIS_KeypadComma
    {124, 0x5D, false},  // YEN → kVK_JIS_Yen
    {125, 0x37, true},   // LEFTMETA → kVK_Command
    {126, 0x36, true},   // RIGHTMETA → kVK_RightCommand
    {183, 0x69, false},  // F13
    {184, 0x6B, false},  // F14
    {185, 0x71, false},  // F15
    {186, 0x6A, false},  // F16
    {187, 0x40, false},  // F17
    {188, 0x4F, false},  // F18
    {189, 0x50, false},  // F19
    {190, 0x5A, false},  // F20
    {464, 0x3F, true},   // FN → kVK_Function
});

}  // namespace

std::optional<MacKey> macKeyFromEvdev(std::uint32_t evdevCode) {
  // The table is sorted by evdev code.
  std::size_t lo = 0, hi = kKeys.size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (kKeys[mid].evdev < evdevCode) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == kKeys.size() || kKeys[lo].evdev != evdevCode) return std::nullopt;
  return MacKey{kKeys[lo].mac, kKeys[lo].modifier};
}

std::string keyboardTextOf(std::string_view utf8) {
  std::string out;
  std::size_t units = 0;
  while (!utf8.empty()) {
    const Utf8Char c = decodeUtf8(utf8);
    const std::size_t need = c.valid && c.value > 0xFFFF ? 2 : 1;
    if (units + need > 16) break;
    units += need;
    out.append(utf8.substr(0, c.length));
    utf8.remove_prefix(c.length);
  }
  return out;
}

}  // namespace orvane::input
