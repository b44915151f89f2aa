// The X11 side of the AT-SPI accessibility backend (accessibility_atspi.cpp): the accessibility
// bus address the root window publishes, the root-window pixels AT-SPI counts screen
// coordinates in, and the X11 window server, all through the process's X11 session.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "accessibility_atspi.hpp"
#include "x11_session.hpp"
#include "x11_util.hpp"

namespace orvane {
namespace {

// Whether the client with the input focus has handled the input the server sent it before
// now, shown by a _NET_WM_PING: the client answers it (to the root) when it reads it, after
// every event the server queued for it before; GDK reads an X event only once it has handled
// the one before, so GTK's answer comes after the key or press handled (and the focus change
// it made told over the accessibility bus). Nothing when there is no client to ask (no focus,
// no window that takes pings): the caller is then where it was without.
class FocusedClientPing {
 public:
  explicit FocusedClientPing(x11::Session& session) : session_(session) {}

  std::optional<bool> await(std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    auto* c = session_.connection();
    if (!session_.usable()) return false;
    const auto atoms = session_.atoms({"WM_PROTOCOLS", "_NET_WM_PING"});
    const xcb_atom_t protocols = atoms[0], ping = atoms[1];
    if (protocols == XCB_ATOM_NONE || ping == XCB_ATOM_NONE) return std::nullopt;
    auto focus = x11::reply<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus(c));
    if (!focus) return false;
    const xcb_window_t client = pingable(focus->focus, protocols, ping);
    if (client == XCB_WINDOW_NONE) return std::nullopt;
    if (!inbox_) {
      inbox_ = session_.subscribe(
          [this] {
            std::lock_guard lock(mutex_);
            cv_.notify_all();
          },
          [](const xcb_generic_event_t* e) {
            return (e->response_type & 0x7f) == XCB_CLIENT_MESSAGE;
          });
      session_.selectEvents(session_.root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    }
    const std::uint32_t token = ++token_;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = client;
    message.type = protocols;
    message.data.data32[0] = ping;
    message.data.data32[1] = token;  // the time stamp field, which the client sends back
    message.data.data32[2] = client;
    xcb_send_event(c, 0, client, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(c);
    const auto answered = [&] {
      for (const auto& e : inbox_->take()) {
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(e.get());
        if (m->type == protocols && m->format == 32 && m->data.data32[0] == ping &&
            m->data.data32[1] == token && m->data.data32[2] == client) {
          return true;
        }
      }
      return false;
    };
    std::unique_lock lock(mutex_);
    while (!answered()) {
      // One last look after the deadline: the answer may have come with the wake-up missed.
      if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) return answered();
    }
    return true;
  }

 private:
  // The window that takes pings for the focus: the focus window or its nearest ancestor that
  // does (GTK focuses a child of its top-level window). With the focus on the pointer's root (no
  // window manager), keys go to the window under the pointer: its top-level window, or the
  // client a window manager's frame holds. Kept for the next time, as focus stays a while.
  xcb_window_t pingable(xcb_window_t focus, xcb_atom_t protocols, xcb_atom_t ping) {
    if (focus == XCB_WINDOW_NONE) return XCB_WINDOW_NONE;
    auto* c = session_.connection();
    const bool underPointer = focus == XCB_INPUT_FOCUS_POINTER_ROOT || focus == session_.root();
    if (underPointer) {
      auto pointer =
          x11::reply<xcb_query_pointer_reply_t>(c, xcb_query_pointer(c, session_.root()));
      if (!pointer || pointer->child == XCB_WINDOW_NONE) return XCB_WINDOW_NONE;
      focus = pointer->child;
    }
    if (focus == lastFocus_) return lastClient_;
    xcb_window_t found = XCB_WINDOW_NONE;
    if (underPointer) {
      if (takesPing(focus, protocols, ping)) {
        found = focus;
      } else if (auto tree = x11::reply<xcb_query_tree_reply_t>(c, xcb_query_tree(c, focus))) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = xcb_query_tree_children_length(tree.get()); i-- > 0 && !found;) {
          if (takesPing(children[i], protocols, ping)) found = children[i];
        }
      }
    } else {
      xcb_window_t w = focus;
      for (int depth = 0; depth < 8 && w != XCB_WINDOW_NONE && w != session_.root(); ++depth) {
        if (takesPing(w, protocols, ping)) {
          found = w;
          break;
        }
        auto tree = x11::reply<xcb_query_tree_reply_t>(c, xcb_query_tree(c, w));
        if (!tree) break;
        w = tree->parent;
      }
    }
    session_.settle();
    lastFocus_ = focus;
    lastClient_ = found;
    return found;
  }

  bool takesPing(xcb_window_t w, xcb_atom_t protocols, xcb_atom_t ping) {
    auto* c = session_.connection();
    auto property = x11::takeProperty(c, x11::requestProperty(c, w, protocols, XCB_ATOM_ATOM));
    if (!property || property->format != 32) return false;
    for (std::uint32_t atom : property->cardinals()) {
      if (atom == ping) return true;
    }
    return false;
  }

  x11::Session& session_;
  std::shared_ptr<x11::Inbox> inbox_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::uint32_t token_ = 0;
  xcb_window_t lastFocus_ = XCB_WINDOW_NONE;
  xcb_window_t lastClient_ = XCB_WINDOW_NONE;
};

}  // namespace

std::unique_ptr<Accessibility> makeAccessibilityX11() {
  x11::Session* session = x11::Session::get();
  // Without the display there is no desktop: the backend reads nothing.
  if (!session) {
    AtspiDesktopSide late;
    late.displayLate = true;
    return makeAccessibilityAtspi(std::move(late));
  }
  auto points = std::make_shared<x11::PointMapping>(*session);
  AtspiDesktopSide side;
  // The root window's AT_SPI_BUS, which libatspi reads before asking the session bus.
  side.publishedBusAddress = [session]() -> std::optional<std::string> {
    const auto atom = session->existingAtom("AT_SPI_BUS");
    if (atom == XCB_ATOM_NONE) return std::nullopt;
    auto* c = session->connection();
    auto property =
        x11::takeProperty(c, x11::requestProperty(c, session->root(), atom, XCB_ATOM_STRING));
    session->settle();
    if (!property || property->format != 8 || property->bytes.empty()) return std::nullopt;
    return std::move(property->bytes);
  };
  side.pixelsToPoints = [points](const Rect& pixels) { return points->toPoints(pixels); };
  side.pointsToPixels = [points](Point p) { return points->toPixels(p); };
  side.makeWindowServer = [] { return makeWindowServerX11(); };
  auto ping = std::make_shared<FocusedClientPing>(*session);
  side.awaitInputHandled = [ping](std::chrono::milliseconds within) { return ping->await(within); };
  return makeAccessibilityAtspi(std::move(side));
}

}  // namespace orvane
