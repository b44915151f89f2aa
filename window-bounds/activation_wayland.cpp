// Activation on sway: the followed window takes the focus (`[con_id=N] focus`, which also
// shows its workspace), or, once it has closed, the owner's frontmost remaining window.
#include <string>

#include "activation.hpp"
#include "wayland_session.hpp"
#include "window_activation.hpp"
#include "window_server.hpp"

namespace orvane::windowbounds {
namespace {

class SwayActivator {
 public:
  SwayActivator(WindowServer& server, WaylandSession& session, std::uint32_t windowId)
      : server_(server), session_(session), windowId_(windowId) {}

  void activate(std::int32_t pid) {
    if (!session_.ok()) return;
    const auto followed = recordsOf(server_.copyWindowInfo(kSingleWindowSnapshot, windowId_));
    if (!followed) return;  // sway did not answer: nothing is known to be closed
    std::optional<std::uint32_t> target;
    if (!followed->empty()) {
      target = windowId_;
    } else {
      target = frontmostWindowOf(server_, pid);
    }
    if (!target) return;
    session_.runCommand("[con_id=" + std::to_string(*target) + "] focus");
  }

 private:
  WindowServer& server_;
  WaylandSession& session_;
  const std::uint32_t windowId_;
};

}  // namespace

std::unique_ptr<Activation> makeActivationWayland(WindowServer& server, std::uint32_t windowId) {
  auto activator = std::make_shared<SwayActivator>(server, WaylandSession::shared(), windowId);
  return makeWindowActivation([activator](std::int32_t pid) { activator->activate(pid); });
}

}  // namespace orvane::windowbounds
