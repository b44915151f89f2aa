// The event tap on X11. Not connected yet: the tap cannot be created.
#include "event_tap.hpp"

namespace orvane {

namespace {

class X11EventTaps : public EventTaps {
 public:
  std::unique_ptr<EventTap> createListenOnlyTap(std::uint64_t, TapCallback) override {
    return nullptr;
  }
};

}  // namespace

std::unique_ptr<EventTaps> makeEventTapsX11() { return std::make_unique<X11EventTaps>(); }

}  // namespace orvane
