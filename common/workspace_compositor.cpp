#include "workspace_compositor.hpp"

#include <cstdint>
#include <utility>

namespace orvane {
namespace {

class CompositorWorkspace final : public Workspace {
 public:
  explicit CompositorWorkspace(std::function<std::optional<CompositorSnapshot>()> snapshot)
      : snapshot_(std::move(snapshot)) {}

  std::optional<RunningApplication> frontmostApplication() override {
    const auto snapshot = take();
    if (!snapshot || !snapshot->focused) return std::nullopt;
    for (const CompositorWindow& w : snapshot->windows)
      if (w.id == *snapshot->focused) return describe(w);
    return std::nullopt;
  }

  // The process's window nearest the front, a shown one before a hidden one.
  std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
    const auto snapshot = take();
    if (!snapshot) return std::nullopt;
    const CompositorWindow* found = nullptr;
    for (const CompositorWindow& w : snapshot->windows) {
      if (w.pid != pid) continue;
      if (w.onScreen) return describe(w);
      if (!found) found = &w;
    }
    if (!found) return std::nullopt;
    return describe(*found);
  }

 private:
  std::optional<CompositorSnapshot> take() {
    if (!snapshot_) return std::nullopt;
    return snapshot_();
  }

  static RunningApplication describe(const CompositorWindow& window) {
    RunningApplication app;
    // A pid the compositor could not tell (0) names no process.
    app.processIdentifier = window.pid && *window.pid > 0 && *window.pid <= INT32_MAX
                                ? static_cast<std::int32_t>(*window.pid)
                                : -1;
    app.localizedName = window.ownerName;
    if (!app.localizedName && window.appId && !window.appId->empty())
      app.localizedName = window.appId;
    if (window.appId && !window.appId->empty()) app.bundleIdentifier = window.appId;
    app.activationPolicy = kActivationPolicyRegular;
    app.focusedWindowTitle = window.title;
    return app;
  }

  std::function<std::optional<CompositorSnapshot>()> snapshot_;
};

}  // namespace

std::unique_ptr<Workspace> makeCompositorWorkspace(
    std::function<std::optional<CompositorSnapshot>()> snapshot) {
  return std::make_unique<CompositorWorkspace>(std::move(snapshot));
}

}  // namespace orvane
