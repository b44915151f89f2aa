// The window server of the platform chosen for this process; only programs link it.
#include "platform.hpp"
#include "window_server.hpp"

namespace orvane {

std::unique_ptr<WindowServer> makeWindowServer() {
#if defined(__APPLE__)
  return makeWindowServerMacOS();
#else
  switch (currentPlatform().id) {
    case PlatformId::wayland:
      return makeWindowServerWayland();
    case PlatformId::x11:
    default:
      return makeWindowServerX11();
  }
#endif
}

}  // namespace orvane
