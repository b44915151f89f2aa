// The window server on a Wayland session with sway (or another compositor speaking its IPC),
// in the record vocabulary of CoreGraphics. Every snapshot is one get_tree; the displays are
// the tree's outputs, read again with the next snapshot or when they are older than a moment.
// What sway's IPC does not tell is absent: the pointer's position (no IPC request gives it).
// When the compositor cannot be reached it answers as the X11 backend does without an X
// server: no windows, no displays.
#include <chrono>
#include <memory>
#include <string>

#include "sway_windows.hpp"
#include "wayland_session.hpp"
#include "window_server.hpp"

namespace orvane {
namespace {

class SwayWindowServer final : public WindowServer {
 public:
  explicit SwayWindowServer(WaylandSession& session)
      : session_(session), names_(sway::OwnerNames::fromEnvironment()) {}

  std::optional<std::vector<RecordValue>> copyWindowInfo(std::uint32_t options,
                                                         std::uint32_t relativeToWindow) override {
    if (!refresh()) return std::nullopt;
    return sway::windowInfo(*tree_, options, relativeToWindow, names_);
  }

  std::uint32_t activeDisplayCount() override {
    return static_cast<std::uint32_t>(currentDisplays().size());
  }

  std::vector<DisplayId> activeDisplays(std::uint32_t capacity) override {
    std::vector<DisplayId> ids;
    for (const auto& d : currentDisplays()) {
      if (ids.size() == capacity) break;
      ids.push_back(d.id);
    }
    return ids;
  }

  Rect displayBounds(DisplayId display) override {
    for (const auto& d : currentDisplays()) {
      if (d.id == display) return d.bounds;
    }
    return {};
  }

  DisplayId mainDisplayId() override {
    const auto& displays = currentDisplays();
    return displays.empty() ? 1 : displays.front().id;
  }

  std::optional<Point> cursorLocation() override { return std::nullopt; }

  std::vector<ScreenInfo> screens() override {
    std::vector<ScreenInfo> list;
    for (const auto& d : currentDisplays()) {
      ScreenInfo& info = list.emplace_back();
      info.screenNumber.emplace(static_cast<std::int64_t>(d.id));
      info.backingScaleFactor = d.scale;
    }
    return list;
  }

 private:
  // A fresh tree; false (and the last tree dropped) when sway gives none.
  bool refresh() {
    tree_.reset();
    displays_.clear();
    if (!session_.ok()) return false;
    const bool answered = session_.request(sway::MessageType::getTree, {}, reply_);
    read_ = std::chrono::steady_clock::now();
    if (!answered) return false;
    // Most polls find nothing changed: the same bytes need no reading.
    if (reply_ == lastReply_ && lastTree_) {
      tree_ = lastTree_;
      displays_ = lastDisplays_;
      return true;
    }
    auto parsed = sway::parseTree(reply_);
    lastTree_.reset();
    if (!parsed) {
      lastReply_.clear();
      return false;
    }
    tree_ = std::make_shared<const sway::SwayNode>(std::move(*parsed));
    displays_ = sway::displaysOf(*tree_);
    std::swap(reply_, lastReply_);
    lastTree_ = tree_;
    lastDisplays_ = displays_;
    return true;
  }

  // Displays as read with the latest snapshot, so that display queries right after one cost
  // no request; read afresh when older than a moment.
  const std::vector<sway::Display>& currentDisplays() {
    if (session_.ok() &&
        (!tree_ || std::chrono::steady_clock::now() - read_ > std::chrono::milliseconds(250))) {
      refresh();
    }
    return displays_;
  }

  WaylandSession& session_;
  sway::OwnerNames names_;
  std::shared_ptr<const sway::SwayNode> tree_;
  std::vector<sway::Display> displays_;
  // The reply being read, the last one read, and what that read as.
  std::string reply_;
  std::string lastReply_;
  std::shared_ptr<const sway::SwayNode> lastTree_;
  std::vector<sway::Display> lastDisplays_;
  std::chrono::steady_clock::time_point read_{};
};

}  // namespace

std::unique_ptr<WindowServer> makeWindowServerWayland() {
  return std::make_unique<SwayWindowServer>(WaylandSession::shared());
}

}  // namespace orvane
