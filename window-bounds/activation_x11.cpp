// Activation on X11: the followed window comes to the front and takes the focus, through the
// window manager when one runs (_NET_ACTIVE_WINDOW), directly otherwise.
#include <signal.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "activation.hpp"
#include "window_server.hpp"
#include "x11_util.hpp"

namespace orvane::windowbounds {
namespace {

using x11::adopt;

class X11Activator {
 public:
  X11Activator(WindowServer& server, std::uint32_t windowId)
      : server_(server), windowId_(windowId) {
    if (conn_.ok()) {
      auto atoms = conn_.intern({"_NET_ACTIVE_WINDOW", "_NET_SUPPORTING_WM_CHECK"}, false);
      netActiveWindow_ = atoms[0];
      supportingWmCheck_ = atoms[1];
    }
  }

  void activate(std::int32_t pid) {
    if (!conn_.ok() || xcb_connection_has_error(conn_.get())) return;
    auto* c = conn_.get();
    auto attrs =
        adopt(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, windowId_), nullptr));
    xcb_window_t target = windowId_;
    bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
    if (!attrs) {
      // The followed window has closed: the owner's frontmost window still on screen.
      auto front = frontmostWindowOf(pid);
      if (!front) return;
      target = *front;
      viewable = true;
    }
    if (windowManagerRuns()) {
      // Source indication 2 (a pager): the window manager honours it without a timestamp.
      xcb_client_message_event_t event;
      std::memset(&event, 0, sizeof event);
      event.response_type = XCB_CLIENT_MESSAGE;
      event.format = 32;
      event.window = target;
      event.type = netActiveWindow_;
      event.data.data32[0] = 2;
      event.data.data32[1] = XCB_CURRENT_TIME;
      xcb_send_event(c, 0, conn_.root(),
                     XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                     reinterpret_cast<const char*>(&event));
    } else {
      const std::uint32_t above = XCB_STACK_MODE_ABOVE;
      xcb_configure_window(c, target, XCB_CONFIG_WINDOW_STACK_MODE, &above);
      // Focus on a window that is not viewable is an error.
      if (viewable) {
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, target, XCB_CURRENT_TIME);
      }
    }
    xcb_flush(c);
    // Nothing reads this connection's events: drop what has arrived (errors of requests on a
    // window that closed meanwhile) so that they do not pile up.
    while (xcb_generic_event_t* pending = xcb_poll_for_event(c)) std::free(pending);
  }

 private:
  // An EWMH window manager names a window of its own on the root, which names itself again.
  bool windowManagerRuns() {
    auto* c = conn_.get();
    auto check = x11::takeProperty(
        c, x11::requestProperty(c, conn_.root(), supportingWmCheck_, XCB_ATOM_WINDOW, 1));
    if (!check || check->cardinals().empty()) return false;
    const xcb_window_t child = check->cardinals()[0];
    auto again = x11::takeProperty(
        c, x11::requestProperty(c, child, supportingWmCheck_, XCB_ATOM_WINDOW, 1));
    return again && !again->cardinals().empty() && again->cardinals()[0] == child;
  }

  std::optional<xcb_window_t> frontmostWindowOf(std::int32_t pid) {
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
  const std::uint32_t windowId_;
  x11::Connection conn_;
  xcb_atom_t netActiveWindow_ = XCB_ATOM_NONE;
  xcb_atom_t supportingWmCheck_ = XCB_ATOM_NONE;
};

class X11Application final : public RunningApplication {
 public:
  X11Application(std::shared_ptr<X11Activator> activator, std::int32_t pid)
      : activator_(std::move(activator)), pid_(pid) {}
  void activate() override { activator_->activate(pid_); }

 private:
  std::shared_ptr<X11Activator> activator_;
  std::int32_t pid_;
};

class X11Activation final : public Activation {
 public:
  X11Activation(WindowServer& server, std::uint32_t windowId)
      : activator_(std::make_shared<X11Activator>(server, windowId)) {}

  std::shared_ptr<RunningApplication> runningApplication(std::int32_t pid) override {
    // A process that exists, whether or not it may be signalled by us.
    if (pid < 1 || (::kill(pid, 0) != 0 && errno != EPERM)) return nullptr;
    return std::make_shared<X11Application>(activator_, pid);
  }

 private:
  std::shared_ptr<X11Activator> activator_;
};

}  // namespace

std::unique_ptr<Activation> makeActivationX11(WindowServer& server, std::uint32_t windowId) {
  return std::make_unique<X11Activation>(server, windowId);
}

}  // namespace orvane::windowbounds
