// The selector on a wlroots compositor: the application of the X11 backend over the Wayland
// overlays, and the compositor's window snapshot with the pointer the overlays see.
#include "desktop_wayland.hpp"
#include "selector.hpp"

namespace orvane::selector {

SelectorPlatform selectorPlatformWayland() {
  auto shared = std::make_shared<wayland::SharedState>([] { return makeWindowServer(); });
  return {[shared] { return makeApplicationOn(wayland::makeDesktop(shared)); },
          [shared] { return wayland::makeSelectorWindowServer(shared); }};
}

}  // namespace orvane::selector
