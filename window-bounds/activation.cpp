#include "activation.hpp"

#include "platform.hpp"

namespace orvane::windowbounds {

std::unique_ptr<Activation> makeActivation([[maybe_unused]] WindowServer& server,
                                           [[maybe_unused]] std::uint32_t windowId) {
#if defined(__APPLE__)
  return makeActivationMacOS();
#else
  switch (currentPlatform().id) {
    case PlatformId::wayland:
      return makeActivationWayland(server, windowId);
    case PlatformId::x11:
    default:
      return makeActivationX11(server, windowId);
  }
#endif
}

}  // namespace orvane::windowbounds
