#include "window_activation.hpp"

#include <signal.h>

#include <cerrno>
#include <utility>

namespace orvane::windowbounds {
namespace {

class WindowApplication final : public RunningApplication {
 public:
  WindowApplication(std::shared_ptr<const std::function<void(std::int32_t)>> activate,
                    std::int32_t pid)
      : activate_(std::move(activate)), pid_(pid) {}
  void activate() override { (*activate_)(pid_); }

 private:
  std::shared_ptr<const std::function<void(std::int32_t)>> activate_;
  std::int32_t pid_;
};

class WindowActivation final : public Activation {
 public:
  explicit WindowActivation(std::function<void(std::int32_t)> activate)
      : activate_(std::make_shared<const std::function<void(std::int32_t)>>(std::move(activate))) {}

  std::shared_ptr<RunningApplication> runningApplication(std::int32_t pid) override {
    if (pid < 1 || (::kill(pid, 0) != 0 && errno != EPERM)) return nullptr;
    return std::make_shared<WindowApplication>(activate_, pid);
  }

 private:
  std::shared_ptr<const std::function<void(std::int32_t)>> activate_;
};

}  // namespace

std::optional<std::uint32_t> frontmostWindowOf(WindowServer& server, std::int32_t pid) {
  const auto records = recordsOf(server.copyWindowInfo(kOnScreenSnapshot, 0));
  if (!records) return std::nullopt;
  for (const auto& record : *records) {
    if (readInt32(record, kCGWindowOwnerPID) != pid) continue;
    if (readInt64(record, kCGWindowLayer) != 0) continue;
    if (auto number = readUInt32(record, kCGWindowNumber)) return *number;
  }
  return std::nullopt;
}

std::unique_ptr<Activation> makeWindowActivation(std::function<void(std::int32_t pid)> activate) {
  return std::make_unique<WindowActivation>(std::move(activate));
}

}  // namespace orvane::windowbounds
