// Activation on a Wayland session: the followed window takes the focus through the compositor
// (which also shows its workspace), or, once it has closed, the owner's frontmost remaining
// window.
#include "activation.hpp"
#include "compositor.hpp"
#include "window_activation.hpp"
#include "window_server.hpp"

namespace orvane::windowbounds {
namespace {

class CompositorActivator {
 public:
  CompositorActivator(WindowServer& server, Compositor& compositor, std::uint32_t windowId)
      : server_(server), compositor_(compositor), windowId_(windowId) {}

  void activate(std::int32_t pid) {
    if (!compositor_.ok()) return;
    const auto followed = recordsOf(server_.copyWindowInfo(kSingleWindowSnapshot, windowId_));
    if (!followed) return;  // the compositor did not answer: nothing is known to be closed
    std::optional<std::uint32_t> target;
    if (!followed->empty()) {
      target = windowId_;
    } else {
      target = frontmostWindowOf(server_, pid);
    }
    if (!target) return;
    compositor_.activate(*target);
  }

 private:
  WindowServer& server_;
  Compositor& compositor_;
  const std::uint32_t windowId_;
};

}  // namespace

std::unique_ptr<Activation> makeActivationWayland(WindowServer& server, std::uint32_t windowId) {
  auto activator = std::make_shared<CompositorActivator>(server, sharedCompositor(), windowId);
  return makeWindowActivation([activator](std::int32_t pid) { activator->activate(pid); });
}

}  // namespace orvane::windowbounds
