// The window server on a Wayland session, in the record vocabulary of CoreGraphics, from the
// snapshots of the process's compositor. The displays are the snapshot's outputs, read again
// with the next snapshot or when they are older than a moment. No compositor tells ordinary
// clients where the pointer is: its position is absent. When the compositor cannot be reached
// it answers as the X11 backend does without an X server: no windows, no displays.
#include <chrono>
#include <memory>
#include <string>

#include "compositor.hpp"
#include "window_server.hpp"

namespace orvane {
namespace {

class CompositorWindowServer final : public WindowServer {
 public:
  explicit CompositorWindowServer(Compositor& compositor) : compositor_(compositor) {}

  std::optional<std::vector<RecordValue>> copyWindowInfo(std::uint32_t options,
                                                         std::uint32_t relativeToWindow) override {
    if (!refresh()) return std::nullopt;
    return windowInfo(*snapshot_, options, relativeToWindow);
  }

  std::uint32_t activeDisplayCount() override {
    return static_cast<std::uint32_t>(currentOutputs().size());
  }

  std::vector<DisplayId> activeDisplays(std::uint32_t capacity) override {
    std::vector<DisplayId> ids;
    for (const auto& o : currentOutputs()) {
      if (ids.size() == capacity) break;
      ids.push_back(o.id);
    }
    return ids;
  }

  Rect displayBounds(DisplayId display) override {
    for (const auto& o : currentOutputs()) {
      if (o.id == display) return o.bounds;
    }
    return {};
  }

  DisplayId mainDisplayId() override {
    const auto& outputs = currentOutputs();
    return outputs.empty() ? 1 : outputs.front().id;
  }

  std::optional<Point> cursorLocation() override { return std::nullopt; }

  bool watchChanges(std::function<void()> changed) override {
    return compositor_.ok() && compositor_.watchChanges(std::move(changed));
  }

  std::vector<ScreenInfo> screens() override {
    if (compositor_.ok() && compositor_.wantScales()) refresh();
    std::vector<ScreenInfo> list;
    for (const auto& o : currentOutputs()) {
      ScreenInfo& info = list.emplace_back();
      info.screenNumber.emplace(static_cast<std::int64_t>(o.id));
      info.backingScaleFactor = o.scale;
    }
    return list;
  }

 private:
  // A fresh snapshot; false (and the last one dropped) when the compositor gives none.
  bool refresh() {
    snapshot_.reset();
    if (!compositor_.ok()) return false;
    snapshot_ = compositor_.snapshot();
    read_ = std::chrono::steady_clock::now();
    return snapshot_.has_value();
  }

  // Outputs as read with the latest snapshot, so that display queries right after one cost no
  // request; read afresh when older than a moment.
  const std::vector<CompositorOutput>& currentOutputs() {
    if (compositor_.ok() &&
        (!snapshot_ || std::chrono::steady_clock::now() - read_ > std::chrono::milliseconds(250))) {
      refresh();
    }
    static const std::vector<CompositorOutput> none;
    return snapshot_ ? snapshot_->outputs : none;
  }

  Compositor& compositor_;
  std::optional<CompositorSnapshot> snapshot_;
  std::chrono::steady_clock::time_point read_{};
};

}  // namespace

std::unique_ptr<WindowServer> makeWindowServerWayland() {
  return std::make_unique<CompositorWindowServer>(sharedCompositor());
}

}  // namespace orvane
