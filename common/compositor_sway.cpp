// sway, and wlroots compositors speaking its IPC: every snapshot is one get_tree over the
// adapter's IPC session; activation is `[con_id=N] focus`, which also shows the window's
// workspace. sway gives no pointer position and needs no polling help: its overlays are
// layer-shell surfaces.
#include <memory>
#include <mutex>
#include <string>

#include "compositor.hpp"
#include "sway_session.hpp"
#include "sway_windows.hpp"

namespace orvane {
namespace {

class SwayCompositor final : public Compositor {
 public:
  explicit SwayCompositor(const std::string& socket)
      : session_(socket), names_(sway::OwnerNames::fromEnvironment()) {}

  CompositorId id() const override { return CompositorId::sway; }
  bool ok() const override { return session_.ok(); }
  bool stalled() const override { return session_.stalled(); }

  std::optional<CompositorSnapshot> snapshot() override {
    if (!session_.ok()) return std::nullopt;
    std::lock_guard guard(lock_);
    if (!session_.request(sway::MessageType::getTree, {}, reply_)) return std::nullopt;
    // Most polls find nothing changed: the same bytes need no reading.
    if (last_ && reply_ == lastReply_) return *last_;
    auto parsed = sway::parseTree(reply_);
    if (!parsed) {
      last_.reset();
      lastReply_.clear();
      return std::nullopt;
    }
    last_ = sway::snapshotOf(*parsed, names_);
    std::swap(reply_, lastReply_);
    return *last_;
  }

  bool activate(std::uint32_t window) override {
    if (!session_.ok()) return false;
    return session_.runCommand("[con_id=" + std::to_string(window) + "] focus");
  }

 private:
  SwaySession session_;
  std::mutex lock_;
  sway::OwnerNames names_;
  // The reply being read, the last one read, and what that read as.
  std::string reply_;
  std::string lastReply_;
  std::optional<CompositorSnapshot> last_;
};

}  // namespace

std::unique_ptr<Compositor> makeSwayCompositor(const std::string& ipcSocket) {
  return std::make_unique<SwayCompositor>(ipcSocket);
}

}  // namespace orvane
