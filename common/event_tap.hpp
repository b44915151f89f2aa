// A listen-only event tap in the CoreGraphics vocabulary: it sees the user's input and never
// changes, holds back or drops it. Events are delivered on the main thread's run loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "window_record.hpp"

namespace orvane {

// CGEventType numbers.
inline constexpr std::uint32_t kCGEventNull = 0;
inline constexpr std::uint32_t kCGEventLeftMouseDown = 1;
inline constexpr std::uint32_t kCGEventLeftMouseUp = 2;
inline constexpr std::uint32_t kCGEventRightMouseDown = 3;
inline constexpr std::uint32_t kCGEventRightMouseUp = 4;
inline constexpr std::uint32_t kCGEventMouseMoved = 5;
inline constexpr std::uint32_t kCGEventLeftMouseDragged = 6;
inline constexpr std::uint32_t kCGEventRightMouseDragged = 7;
inline constexpr std::uint32_t kCGEventKeyDown = 10;
inline constexpr std::uint32_t kCGEventKeyUp = 11;
inline constexpr std::uint32_t kCGEventFlagsChanged = 12;
inline constexpr std::uint32_t kCGEventScrollWheel = 22;
inline constexpr std::uint32_t kCGEventOtherMouseDown = 25;
inline constexpr std::uint32_t kCGEventOtherMouseUp = 26;
inline constexpr std::uint32_t kCGEventOtherMouseDragged = 27;
// Notifications, not input: the system switched the tap off (the callback took too long, or
// the user's input did). The tap stays off until it is enabled again.
inline constexpr std::uint32_t kCGEventTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t kCGEventTapDisabledByUserInput = 0xFFFFFFFF;

// CGEventMaskBit: the mask bit of a type; types of 64 or more have none.
constexpr std::uint64_t eventMaskBit(std::uint32_t type) {
  return type < 64 ? (std::uint64_t{1} << type) : 0;
}

// One event as the callback sees it. Each reader may be called any number of times; a
// backend reads what it must from the platform at the first call (the pointer position
// in particular is read once, and only when asked).
class TapEvent {
 public:
  virtual ~TapEvent() = default;

  // CGEventGetLocation: the pointer position of the event in global display points (origin at
  // the top-left of the main display, y downwards).
  virtual Point location() const = 0;

  // CGEventGetIntegerValueField(kCGKeyboardEventKeycode): the macOS virtual key code
  // (kVK_ANSI_A = 0, kVK_Return = 36, ...) of a key or flags-changed event; -1 for a key that
  // has no macOS code (X11 only); 0 for other events.
  virtual std::int64_t keyCode() const = 0;

  // CGEventKeyboardGetUnicodeString with a 16-unit buffer: the text the key produces with the
  // modifier state and layout of the moment, UTF-8, at most 16 UTF-16 code units' worth;
  // empty when it produces none (arrows, modifiers) and for other events.
  virtual std::string keyboardText() const = 0;

  // CGEventGetDoubleValueField(kCGScrollWheelEventDeltaAxis1 / Axis2): the scroll amounts of
  // a scroll event in lines (wheel detents; smooth scrolling gives fractions). Axis 1 is
  // vertical, positive when scrolling up (wheel turned away from the user); axis 2 is
  // horizontal, positive when scrolling left. 0 for other events.
  virtual double scrollDeltaAxis1() const = 0;
  virtual double scrollDeltaAxis2() const = 0;
};

// Called with the event's type number and the event, for every event of the mask and for the
// two disabled notifications (whatever the mask).
using TapCallback = std::function<void(std::uint32_t type, const TapEvent& event)>;

// The tap port (CFMachPortRef).
class EventTap {
 public:
  virtual ~EventTap() = default;

  // CFMachPortCreateRunLoopSource(default allocator, port, 0) and CFRunLoopAddSource on the
  // current (main) thread's run loop in kCFRunLoopCommonModes.
  virtual void addToCurrentRunLoop() = 0;

  // CGEventTapEnable: events arrive while enabled; enabling again also switches on a tap
  // that the system disabled.
  virtual void enable(bool enabled) = 0;

  // Hands every event the tap has already been sent to the callback before it returns: on
  // X11 all input the server produced before this call, on macOS what waits on the tap's port.
  // Called at the stop, so that input which came before it is never lost.
  virtual void flush() {}

  // Where the tap can tell when it has handed over all input the system had sent it (X11):
  // then, each time it has, `mark` is taken, the tap makes sure that nothing came meanwhile,
  // and `caughtUp` gets what `mark` returned. Input handed over afterwards was sent after that
  // mark was taken. Called on the main thread. False, and never called, where a tap cannot
  // tell.
  virtual bool reportCatchUp(std::function<std::uint64_t()> /*mark*/,
                             std::function<void(std::uint64_t)> /*caughtUp*/) {
    return false;
  }
  // Hands over the input that has come, without waiting for more, and reports the catch-up;
  // for a mark that moved while no input came.
  virtual void catchUp() {}
};

class EventTaps {
 public:
  virtual ~EventTaps() = default;

  // CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly,
  // mask, callback, no user data). Nothing when the tap cannot be created: on macOS the
  // process may not monitor input; on X11 the server has no XInput 2.2 (or no display).
  virtual std::unique_ptr<EventTap> createListenOnlyTap(std::uint64_t mask,
                                                        TapCallback callback) = 0;
  // Whether the last tap that could not be created may be created by a later call: on X11
  // while no display has answered (a server stalled at start-up); never on macOS, where only
  // the user's permission makes a tap.
  virtual bool tapMayComeLater() const { return false; }
};

std::unique_ptr<EventTaps> makeEventTapsMacOS();
std::unique_ptr<EventTaps> makeEventTapsX11();
// Never a tap: a Wayland client cannot see input meant for other clients.
std::unique_ptr<EventTaps> makeEventTapsWayland();
// The backend of the platform this program was built for.
std::unique_ptr<EventTaps> makeEventTaps();

}  // namespace orvane
