// The workspace on an X11 desktop, in the vocabulary of NSWorkspace.
//
// Frontmost application: the owner of the window manager's _NET_ACTIVE_WINDOW; without a window
// manager, the owner of the top-level window that holds the input focus. An application is a
// process owning top-level windows; its pid and name are those the window-server backend gives
// its windows (so the name is the one orvane-window-list prints as ownerName). Bundle identifier:
// the window's _GTK_APPLICATION_ID, else its WM_CLASS class in lower case. Activation policy:
// regular when the application has a normal managed top-level window (not a dock, desktop,
// utility, splash or skip-taskbar window), accessory otherwise. The frontmost application comes
// with the title of its front window (_NET_WM_NAME, else WM_NAME), where that window has one.
#include <algorithm>
#include <utility>

#include "json.hpp"
#include "text.hpp"
#include "window_server.hpp"
#include "workspace.hpp"
#include "x11_session.hpp"
#include "x11_util.hpp"

namespace orvane {
namespace {

using x11::adopt;

enum Atom {
  NET_ACTIVE_WINDOW,
  GTK_APPLICATION_ID,
  UTF8_STRING,
  NET_WM_WINDOW_TYPE,
  NET_WM_WINDOW_TYPE_NORMAL,
  NET_WM_WINDOW_TYPE_DIALOG,
  NET_WM_STATE,
  NET_WM_STATE_SKIP_TASKBAR,
  kAtomCount
};

const std::vector<std::string_view> kAtomNames = {
    "_NET_ACTIVE_WINDOW",  "_GTK_APPLICATION_ID",        "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_STATE",       "_NET_WM_STATE_SKIP_TASKBAR",
};

// What the window server says about one window.
struct Owned {
  xcb_window_t window = XCB_WINDOW_NONE;
  std::int32_t pid = -1;
  std::optional<std::string> name;
  std::int64_t layer = 0;
  std::optional<std::string> title;
};

// The properties that give a window's bundle identifier and whether it is a regular window.
struct Pending {
  x11::PendingProperty appId, wmClass, type, state;
};

class X11Workspace : public Workspace {
 public:
  X11Workspace() : windows_(makeWindowServerX11()) { session_ = hold_.get(); }

  std::optional<RunningApplication> frontmostApplication() override {
    session_ = hold_.get();
    if (!session_ || !session_->usable()) return std::nullopt;
    return whole([this] { return readFrontmost(); });
  }

  std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
    session_ = hold_.get();
    if (!session_ || !session_->usable()) return std::nullopt;
    return whole([this, pid] { return readApplication(pid); });
  }

 private:
  // What `read` gives, unless a reply it waited for did not come in time: then nothing rather
  // than an application described in part.
  template <typename Read>
  std::optional<RunningApplication> whole(Read read) {
    const auto unanswered = x11::unanswered(session_->connection());
    auto app = read();
    if (x11::unanswered(session_->connection()) != unanswered) return std::nullopt;
    return app;
  }

  std::optional<RunningApplication> readFrontmost() {
    const xcb_window_t front = frontWindow();
    if (front == XCB_WINDOW_NONE) return std::nullopt;
    // The window's properties travel with the window server's requests.
    auto pending = request(front);
    auto owned = ownersOf(windows_->copyWindowInfo(kSingleWindowSnapshot, front));
    auto it =
        std::find_if(owned.begin(), owned.end(), [&](const Owned& o) { return o.window == front; });
    if (it == owned.end()) {
      forget(pending);
      return std::nullopt;
    }
    RunningApplication app = describe(*it, pending);
    app.focusedWindowTitle = it->title;
    if (app.activationPolicy != kActivationPolicyRegular && anyRegularWindow(it->pid)) {
      app.activationPolicy = kActivationPolicyRegular;
    }
    return app;
  }

  std::optional<RunningApplication> readApplication(std::int32_t pid) {
    std::vector<Owned> mine;
    for (auto& o : ownersOf(windows_->copyWindowInfo(kCGWindowListExcludeDesktopElements, 0))) {
      if (o.pid == pid) mine.push_back(std::move(o));
    }
    if (mine.empty()) return std::nullopt;
    std::vector<Pending> pending;
    for (const auto& o : mine) pending.push_back(request(o.window));
    // Described by its first regular window, else by its first window.
    std::optional<RunningApplication> first, regular;
    for (size_t i = 0; i < mine.size(); ++i) {
      RunningApplication app = describe(mine[i], pending[i]);
      if (!regular && app.activationPolicy == kActivationPolicyRegular) regular = app;
      if (!first) first = std::move(app);
    }
    return regular ? regular : first;
  }

  // _NET_ACTIVE_WINDOW when a window manager runs (its check window names itself), else the
  // top-level window of the input focus.
  xcb_window_t frontWindow() {
    auto* c = session_->connection();
    auto manager = session_->requestWindowManager();
    auto active =
        x11::requestProperty(c, session_->root(), atoms_[NET_ACTIVE_WINDOW], XCB_ATOM_WINDOW, 1);
    auto focusCookie = xcb_get_input_focus(c);
    const bool managed = session_->windowManagerRuns(manager);
    auto activeWindow = firstCardinal(x11::takeProperty(c, active));
    auto focus = x11::reply<xcb_get_input_focus_reply_t>(c, focusCookie);
    if (managed) return activeWindow.value_or(XCB_WINDOW_NONE);
    if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == session_->root()) {
      return XCB_WINDOW_NONE;
    }
    // Up to the root's child.
    xcb_window_t w = focus->focus;
    for (int depth = 0; depth < 64; ++depth) {
      auto tree = x11::reply<xcb_query_tree_reply_t>(c, xcb_query_tree(c, w));
      if (!tree) return XCB_WINDOW_NONE;
      if (tree->parent == session_->root() || tree->parent == XCB_WINDOW_NONE) return w;
      w = tree->parent;
    }
    return XCB_WINDOW_NONE;
  }

  static std::optional<std::uint32_t> firstCardinal(const std::optional<x11::Property>& p) {
    if (!p || p->format != 32) return std::nullopt;
    auto values = p->cardinals();
    if (values.empty()) return std::nullopt;
    return values[0];
  }

  static std::vector<Owned> ownersOf(const std::optional<std::vector<RecordValue>>& snapshot) {
    std::vector<Owned> out;
    auto records = recordsOf(snapshot);
    if (!records) return out;
    for (const auto& record : *records) {
      auto number = readUInt32(record, kCGWindowNumber);
      auto pid = readInt32(record, kCGWindowOwnerPID);
      if (!number || !pid) continue;
      out.push_back({*number, *pid, readString(record, kCGWindowOwnerName),
                     readInt64(record, kCGWindowLayer).value_or(0),
                     readString(record, kCGWindowName)});
    }
    return out;
  }

  Pending request(xcb_window_t w) {
    auto* c = session_->connection();
    return {x11::requestProperty(c, w, atoms_[GTK_APPLICATION_ID], atoms_[UTF8_STRING]),
            x11::requestProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING),
            x11::requestProperty(c, w, atoms_[NET_WM_WINDOW_TYPE], XCB_ATOM_ATOM, 32),
            x11::requestProperty(c, w, atoms_[NET_WM_STATE], XCB_ATOM_ATOM, 32)};
  }

  RunningApplication describe(const Owned& o, Pending& p) {
    auto* c = session_->connection();
    auto appId = x11::takeProperty(c, p.appId);
    auto wmClass = x11::takeProperty(c, p.wmClass);
    auto type = x11::takeProperty(c, p.type);
    auto state = x11::takeProperty(c, p.state);

    RunningApplication app;
    app.processIdentifier = o.pid;
    app.localizedName = o.name;
    if (appId && appId->format == 8 && !appId->bytes.empty()) {
      app.bundleIdentifier = json::sanitizeUtf8(appId->bytes);
    } else if (auto cls = x11::wmClassName(wmClass)) {
      app.bundleIdentifier = lowercased(*cls);
    }
    auto has = [](const std::optional<x11::Property>& p, xcb_atom_t atom) {
      if (!p || p->format != 32 || atom == XCB_ATOM_NONE) return false;
      auto list = p->cardinals();
      return std::find(list.begin(), list.end(), atom) != list.end();
    };
    bool normalType = true;
    if (type && type->format == 32 && !type->cardinals().empty()) {
      // The first type the window names that the window manager knows decides; only the
      // normal and dialog types make an ordinary window.
      normalType = has(type, atoms_[NET_WM_WINDOW_TYPE_NORMAL]) ||
                   has(type, atoms_[NET_WM_WINDOW_TYPE_DIALOG]);
    }
    // Layers 0 and 3 are managed windows; docks, menus, tooltips and override-redirect windows
    // lie on others.
    const bool managed = o.layer == 0 || o.layer == 3;
    const bool regular = managed && normalType && !has(state, atoms_[NET_WM_STATE_SKIP_TASKBAR]);
    app.activationPolicy = regular ? kActivationPolicyRegular : kActivationPolicyAccessory;
    return app;
  }

  // Replies asked for but not needed, taken so that none stays queued.
  void forget(Pending& p) {
    auto* c = session_->connection();
    for (auto* pending : {&p.appId, &p.wmClass, &p.type, &p.state}) x11::takeProperty(c, *pending);
  }

  bool anyRegularWindow(std::int32_t pid) {
    auto app = runningApplication(pid);
    return app && app->activationPolicy == kActivationPolicyRegular;
  }

  // Taken again while no display has answered (a server stalled at start-up).
  x11::SessionHold hold_{kAtomNames};
  x11::Session* session_ = nullptr;  // null without a display
  const std::vector<xcb_atom_t>& atoms_ = hold_.atoms();
  std::unique_ptr<WindowServer> windows_;
};

}  // namespace

std::unique_ptr<Workspace> makeWorkspaceX11() { return std::make_unique<X11Workspace>(); }

}  // namespace orvane
