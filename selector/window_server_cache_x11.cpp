// Hit-testing asks for a whole window list on every pointer move; on X11 that costs about a
// dozen requests per window. The list only changes when the desktop does, and the server
// tells us when: structure changes of the root's children (frames, or clients without a
// window manager), property changes on the root (stacking order, active window, resources)
// and on each listed client (title, opacity, frame extents, state). Any such event drops the
// kept snapshot; the events are read without blocking before each list request, through the
// process's X session, which the overlays read too.
#include "window_server_cache_x11.hpp"

#include <xcb/xcb.h>

#include <chrono>
#include <set>
#include <utility>

#include "window_record.hpp"
#include "x11_session.hpp"

namespace orvane::selector {
namespace {

// However quiet the desktop, a snapshot is not served for longer than this.
constexpr auto kMaxAge = std::chrono::milliseconds(250);

class CachingWindowServer final : public WindowServer {
 public:
  explicit CachingWindowServer(std::unique_ptr<WindowServer> inner)
      : inner_(std::move(inner)), session_(x11::Session::get()) {
    if (!session_ || !session_->usable()) return;
    // Only what can drop the snapshot is kept until the next request.
    inbox_ = session_->subscribe(
        {}, [this](const xcb_generic_event_t* e) { return selectedHere(e->response_type & 0x7f); });
    session_->selectEvents(session_->root(),
                           XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
    xcb_flush(session_->connection());
    watching_ = true;
  }

  std::optional<std::vector<RecordValue>> copyWindowInfo(std::uint32_t options,
                                                         std::uint32_t relativeToWindow) override {
    // A single window's records are cheap and never kept.
    if (!watching_ || (options & kCGWindowListOptionIncludingWindow)) {
      return inner_->copyWindowInfo(options, relativeToWindow);
    }
    drainEvents();
    const auto now = std::chrono::steady_clock::now();
    if (valid_ && options == options_ && relativeToWindow == relativeTo_ &&
        now - takenAt_ <= kMaxAge) {
      return snapshot_;
    }
    // Events that arrive while the snapshot is taken may describe a change it missed: they
    // are read at the next request and drop it then.
    snapshot_ = inner_->copyWindowInfo(options, relativeToWindow);
    options_ = options;
    relativeTo_ = relativeToWindow;
    takenAt_ = now;
    valid_ = !session_->broken();
    if (valid_) watchClients();
    return snapshot_;
  }

  std::uint32_t activeDisplayCount() override { return inner_->activeDisplayCount(); }
  std::vector<DisplayId> activeDisplays(std::uint32_t capacity) override {
    return inner_->activeDisplays(capacity);
  }
  Rect displayBounds(DisplayId display) override { return inner_->displayBounds(display); }
  DisplayId mainDisplayId() override { return inner_->mainDisplayId(); }
  std::optional<Point> cursorLocation() override { return inner_->cursorLocation(); }
  std::vector<ScreenInfo> screens() override { return inner_->screens(); }

 private:
  void drainEvents() {
    session_->pump();
    for (const auto& event : inbox_->take()) {
      if (changesDesktop(event.get())) valid_ = false;
    }
    if (session_->broken()) valid_ = false;
  }

  // What this cache selected: structure changes of the root's children and property changes
  // of the root and the listed clients.
  static bool selectedHere(std::uint8_t type) {
    switch (type) {
      case XCB_CREATE_NOTIFY:
      case XCB_DESTROY_NOTIFY:
      case XCB_UNMAP_NOTIFY:
      case XCB_MAP_NOTIFY:
      case XCB_REPARENT_NOTIFY:
      case XCB_CONFIGURE_NOTIFY:
      case XCB_GRAVITY_NOTIFY:
      case XCB_CIRCULATE_NOTIFY:
      case XCB_PROPERTY_NOTIFY:
        return true;
      default:
        return false;
    }
  }

  // Errors (a listed window gone before its mask was set) and the overlays' own events say
  // nothing about the desktop.
  bool changesDesktop(const xcb_generic_event_t* event) const {
    const std::uint8_t type = event->response_type & 0x7f;
    if (!selectedHere(type)) return false;
    if (type == XCB_PROPERTY_NOTIFY) {
      const auto window = reinterpret_cast<const xcb_property_notify_event_t*>(event)->window;
      return window == session_->root() || watched_.count(window) != 0;
    }
    // The window the notification was selected on (the parent, for a creation).
    return reinterpret_cast<const xcb_map_notify_event_t*>(event)->event == session_->root();
  }

  // Property changes of the listed clients: titles, opacity and frame extents live there.
  void watchClients() {
    if (!snapshot_) return;
    bool asked = false;
    for (const auto& value : *snapshot_) {
      const auto* record = std::get_if<Dictionary>(&value.data);
      if (!record) continue;
      const auto id = readUInt32(*record, kCGWindowNumber);
      if (!id || *id == 0 || !watched_.insert(*id).second) continue;
      session_->selectEvents(*id, XCB_EVENT_MASK_PROPERTY_CHANGE);
      asked = true;
    }
    if (asked) xcb_flush(session_->connection());
  }

  std::unique_ptr<WindowServer> inner_;
  x11::Session* session_;              // null without a display
  std::shared_ptr<x11::Inbox> inbox_;  // the events read since the last request
  bool watching_ = false;
  bool valid_ = false;
  std::optional<std::vector<RecordValue>> snapshot_;
  std::uint32_t options_ = 0;
  std::uint32_t relativeTo_ = 0;
  std::chrono::steady_clock::time_point takenAt_;
  std::set<std::uint32_t> watched_;
};

}  // namespace

std::unique_ptr<WindowServer> makeCachingWindowServerX11(std::unique_ptr<WindowServer> inner) {
  return std::make_unique<CachingWindowServer>(std::move(inner));
}

std::unique_ptr<WindowServer> makeSelectorWindowServerX11() {
  return makeCachingWindowServerX11(makeWindowServerX11());
}

}  // namespace orvane::selector
