// Event taps in a Wayland session. The compositor hands pointer and key events only to the
// surface under the pointer or with keyboard focus: an ordinary client has no way to see the
// user's input elsewhere, so a listen-only tap cannot be made. The tools then take the path
// they take on macOS without the input-monitoring permission.
#include "event_tap.hpp"

namespace orvane {
namespace {

class WaylandEventTaps : public EventTaps {
 public:
  std::unique_ptr<EventTap> createListenOnlyTap(std::uint64_t, TapCallback) override {
    return nullptr;
  }
};

}  // namespace

std::unique_ptr<EventTaps> makeEventTapsWayland() { return std::make_unique<WaylandEventTaps>(); }

}  // namespace orvane
