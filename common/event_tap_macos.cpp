// The event tap of macOS: a listen-only CGEventTap on the session, inserted at the head, its
// run-loop source on the current run loop in the common modes.
#include <CoreGraphics/CoreGraphics.h>

#include "cf_ref.hpp"
#include "event_tap.hpp"
#include "text.hpp"

namespace orvane {
namespace {

class MacTapEvent : public TapEvent {
 public:
  explicit MacTapEvent(CGEventRef event) : event_(event) {}

  Point location() const override {
    if (!event_) return {};
    const CGPoint p = CGEventGetLocation(event_);
    return {p.x, p.y};
  }
  std::int64_t keyCode() const override {
    return event_ ? CGEventGetIntegerValueField(event_, kCGKeyboardEventKeycode) : 0;
  }
  std::string keyboardText() const override {
    if (!event_) return {};
    UniChar buffer[16] = {};
    UniCharCount count = 0;
    CGEventKeyboardGetUnicodeString(event_, 16, &count, buffer);
    if (count < 1) return {};
    if (count > 16) count = 16;
    return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), count));
  }
  double scrollDeltaAxis1() const override {
    return event_ ? CGEventGetDoubleValueField(event_, kCGScrollWheelEventDeltaAxis1) : 0;
  }
  double scrollDeltaAxis2() const override {
    return event_ ? CGEventGetDoubleValueField(event_, kCGScrollWheelEventDeltaAxis2) : 0;
  }

 private:
  CGEventRef event_;
};

// The tap is created without user data, so its callback finds the tool's callback here. The
// tools make one tap each.
TapCallback* currentCallback = nullptr;

CGEventRef tapCallback(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
  if (currentCallback && *currentCallback) {
    MacTapEvent wrapped(event);
    (*currentCallback)(static_cast<std::uint32_t>(type), wrapped);
  }
  return event;  // listen-only: handed back unchanged
}

CFStringRef flushMode() { return CFSTR("orvane.eventtap.flush"); }

class MacEventTap : public EventTap {
 public:
  MacEventTap(CFMachPortRef port, std::unique_ptr<TapCallback> callback)
      : port_(port), callback_(std::move(callback)) {
    currentCallback = callback_.get();
  }
  ~MacEventTap() override {
    if (source_) CFRunLoopSourceInvalidate(source_.get());
    CFMachPortInvalidate(port_.get());
    if (currentCallback == callback_.get()) currentCallback = nullptr;
  }

  void addToCurrentRunLoop() override {
    if (source_) return;
    source_ = cf::Ref<CFRunLoopSourceRef>(
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port_.get(), 0));
    if (!source_) return;
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source_.get(), kCFRunLoopCommonModes);
    // A mode of the tap's own, in which the run loop handles the tap and nothing else.
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source_.get(), flushMode());
  }

  void enable(bool enabled) override { CGEventTapEnable(port_.get(), enabled); }

  void flush() override {
    if (!source_) return;
    // Each turn handles what waits on the port; the bound only guards against a flood.
    for (int turn = 0; turn < 100000; ++turn) {
      if (CFRunLoopRunInMode(flushMode(), 0, true) != kCFRunLoopRunHandledSource) break;
    }
  }

 private:
  cf::Ref<CFMachPortRef> port_;
  cf::Ref<CFRunLoopSourceRef> source_;
  std::unique_ptr<TapCallback> callback_;
};

class MacEventTaps : public EventTaps {
 public:
  std::unique_ptr<EventTap> createListenOnlyTap(std::uint64_t mask, TapCallback callback) override {
    auto held = std::make_unique<TapCallback>(std::move(callback));
    // The callback is in place before the first event can arrive.
    TapCallback* previous = currentCallback;
    currentCallback = held.get();
    CFMachPortRef port =
        CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly,
                         static_cast<CGEventMask>(mask), tapCallback, nullptr);
    if (!port) {
      currentCallback = previous;
      return nullptr;
    }
    return std::make_unique<MacEventTap>(port, std::move(held));
  }
};

}  // namespace

std::unique_ptr<EventTaps> makeEventTapsMacOS() { return std::make_unique<MacEventTaps>(); }

}  // namespace orvane
