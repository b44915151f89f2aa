// The window server of the platform this program was built for; only programs link it.
#include "window_server.hpp"

namespace orvane {

std::unique_ptr<WindowServer> makeWindowServer() {
#if defined(__APPLE__)
  return makeWindowServerMacOS();
#else
  return makeWindowServerX11();
#endif
}

}  // namespace orvane
