// Activation on sway: the followed window takes the focus (`[con_id=N] focus`, which also
// shows its workspace), or, once it has closed, the owner's frontmost remaining window.
#include <signal.h>

#include <cerrno>
#include <string>

#include "activation.hpp"
#include "wayland_session.hpp"
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
      target = frontmostWindowOf(pid);
    }
    if (!target) return;
    session_.runCommand("[con_id=" + std::to_string(*target) + "] focus");
  }

 private:
  std::optional<std::uint32_t> frontmostWindowOf(std::int32_t pid) {
    const auto records = recordsOf(server_.copyWindowInfo(kOnScreenSnapshot, 0));
    if (!records) return std::nullopt;
    for (const auto& record : *records) {
      if (readInt32(record, kCGWindowOwnerPID) != pid) continue;
      if (readInt64(record, kCGWindowLayer) != 0) continue;
      if (auto number = readUInt32(record, kCGWindowNumber)) return *number;
    }
    return std::nullopt;
  }

  WindowServer& server_;
  WaylandSession& session_;
  const std::uint32_t windowId_;
};

class SwayApplication final : public RunningApplication {
 public:
  SwayApplication(std::shared_ptr<SwayActivator> activator, std::int32_t pid)
      : activator_(std::move(activator)), pid_(pid) {}
  void activate() override { activator_->activate(pid_); }

 private:
  std::shared_ptr<SwayActivator> activator_;
  std::int32_t pid_;
};

class SwayActivation final : public Activation {
 public:
  SwayActivation(WindowServer& server, std::uint32_t windowId)
      : activator_(std::make_shared<SwayActivator>(server, WaylandSession::shared(), windowId)) {}

  std::shared_ptr<RunningApplication> runningApplication(std::int32_t pid) override {
    // A process that exists, whether or not it may be signalled by us.
    if (pid < 1 || (::kill(pid, 0) != 0 && errno != EPERM)) return nullptr;
    return std::make_shared<SwayApplication>(activator_, pid);
  }

 private:
  std::shared_ptr<SwayActivator> activator_;
};

}  // namespace

std::unique_ptr<Activation> makeActivationWayland(WindowServer& server, std::uint32_t windowId) {
  return std::make_unique<SwayActivation>(server, windowId);
}

}  // namespace orvane::windowbounds
