// Activation on X11: the followed window comes to the front and takes the focus, through the
// window manager when one runs (_NET_ACTIVE_WINDOW), directly otherwise.
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "activation.hpp"
#include "window_activation.hpp"
#include "window_server.hpp"
#include "x11_session.hpp"
#include "x11_util.hpp"

namespace orvane::windowbounds {
namespace {

using x11::adopt;

class X11Activator {
 public:
  X11Activator(WindowServer& server, std::uint32_t windowId)
      : server_(server), windowId_(windowId), session_(x11::Session::get()) {
    if (session_) netActiveWindow_ = session_->atom("_NET_ACTIVE_WINDOW");
  }

  void activate(std::int32_t pid) {
    if (!session_ || !session_->usable()) return;
    auto* c = session_->connection();
    auto attrs =
        x11::reply<xcb_get_window_attributes_reply_t>(c, xcb_get_window_attributes(c, windowId_));
    xcb_window_t target = windowId_;
    bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
    if (!attrs) {
      // The followed window has closed: the owner's frontmost window still on screen.
      auto front = frontmostWindowOf(server_, pid);
      if (!front) return;
      target = *front;
      viewable = true;
    }
    auto manager = session_->requestWindowManager();
    if (session_->windowManagerRuns(manager)) {
      // Source indication 2 (a pager): the window manager honours it without a timestamp.
      xcb_client_message_event_t event;
      std::memset(&event, 0, sizeof event);
      event.response_type = XCB_CLIENT_MESSAGE;
      event.format = 32;
      event.window = target;
      event.type = netActiveWindow_;
      event.data.data32[0] = 2;
      event.data.data32[1] = XCB_CURRENT_TIME;
      xcb_send_event(c, 0, session_->root(),
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
    // Errors of requests on a window that closed meanwhile come as events: read them, so that
    // they do not pile up where no reader takes them.
    session_->pump();
  }

 private:
  WindowServer& server_;
  const std::uint32_t windowId_;
  x11::Session* session_;  // null without a display
  xcb_atom_t netActiveWindow_ = XCB_ATOM_NONE;
};

}  // namespace

std::unique_ptr<Activation> makeActivationX11(WindowServer& server, std::uint32_t windowId) {
  auto activator = std::make_shared<X11Activator>(server, windowId);
  return makeWindowActivation([activator](std::int32_t pid) { activator->activate(pid); });
}

}  // namespace orvane::windowbounds
