// A scriptable event tap for unit tests: events fed in by the test reach the callback only
// while the tap is on a run loop and enabled, as with the real tap; enable calls are recorded.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "event_tap.hpp"

namespace orvane {

// An event with fixed values. `locationReads` counts how often the position was asked.
struct FakeTapEvent : TapEvent {
  Point at;
  std::int64_t code = 0;
  std::string text;
  double axis1 = 0;
  double axis2 = 0;
  mutable int locationReads = 0;

  Point location() const override {
    ++locationReads;
    return at;
  }
  std::int64_t keyCode() const override { return code; }
  std::string keyboardText() const override { return text; }
  double scrollDeltaAxis1() const override { return axis1; }
  double scrollDeltaAxis2() const override { return axis2; }

  static FakeTapEvent pointer(double x, double y) {
    FakeTapEvent e;
    e.at = {x, y};
    return e;
  }
  static FakeTapEvent key(std::int64_t keyCode, std::string text) {
    FakeTapEvent e;
    e.code = keyCode;
    e.text = std::move(text);
    return e;
  }
  static FakeTapEvent scroll(double vertical, double horizontal) {
    FakeTapEvent e;
    e.axis1 = vertical;
    e.axis2 = horizontal;
    return e;
  }
};

class FakeEventTaps : public EventTaps {
 public:
  // The state of one created tap; shared with the port handed to the caller.
  struct Tap {
    std::uint64_t mask = 0;
    TapCallback callback;
    bool added = false;  // on the run loop
    bool enabled = false;
    std::vector<bool> enables;  // every enable() call, in order
    bool destroyed = false;     // the caller released the port
    // Events the tap has been sent but not yet handed to the callback; flush() hands them over.
    std::vector<std::pair<std::uint32_t, FakeTapEvent>> held;
  };

  // When true, creation fails (no permission to monitor input, no XInput 2).
  bool failCreate = false;
  int createAttempts = 0;
  std::vector<std::shared_ptr<Tap>> taps;  // in creation order

  // The last created tap; tests check `taps` is not empty first.
  Tap& tap() { return *taps.back(); }

  // Delivers an input event of that type to the last tap, as the system would: only when the
  // tap is on a run loop, enabled, not released and its mask has the type. True when
  // delivered.
  bool post(std::uint32_t type, const TapEvent& event = FakeTapEvent{}) {
    if (taps.empty()) return false;
    Tap& t = *taps.back();
    if (t.destroyed || !t.added || !t.enabled || !(t.mask & eventMaskBit(type))) return false;
    t.callback(type, event);
    return true;
  }

  // The system switches the last tap off and tells its callback with `notification`
  // (kCGEventTapDisabledByTimeout or kCGEventTapDisabledByUserInput).
  bool disable(std::uint32_t notification) {
    if (taps.empty()) return false;
    Tap& t = *taps.back();
    if (t.destroyed || !t.added) return false;
    t.enabled = false;
    t.callback(notification, FakeTapEvent{});
    return true;
  }

  std::unique_ptr<EventTap> createListenOnlyTap(std::uint64_t mask, TapCallback callback) override {
    ++createAttempts;
    if (failCreate) return nullptr;
    auto state = std::make_shared<Tap>();
    state->mask = mask;
    state->callback = std::move(callback);
    taps.push_back(state);
    return std::make_unique<Port>(std::move(state));
  }

 private:
  struct Port : EventTap {
    std::shared_ptr<Tap> state;
    explicit Port(std::shared_ptr<Tap> s) : state(std::move(s)) {}
    ~Port() override { state->destroyed = true; }
    void addToCurrentRunLoop() override { state->added = true; }
    void enable(bool enabled) override {
      state->enables.push_back(enabled);
      state->enabled = enabled;
    }
    void flush() override {
      auto held = std::move(state->held);
      state->held.clear();
      for (auto& [type, event] : held) state->callback(type, event);
    }
  };
};

}  // namespace orvane
