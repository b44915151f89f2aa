// The selector's overlays on a Wayland compositor with layer-shell (sway, KWin): one layer-shell
// surface per output, on the overlay layer, over the whole output, with the keyboard
// exclusively; drawn with the same Cairo painting as on X11, into shared-memory buffers at the
// output's scale. It offers the overlay desktop interface, so the same application drives
// both.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "overlay_desktop.hpp"
#include "window_server.hpp"

namespace orvane::selector::wayland {

// What the overlays and the selector's window snapshot share. A Wayland client learns where the
// pointer is only from the events on its own surfaces, and the overlays cover every output: the
// snapshot answers the pointer position the overlays last saw. The compositor's window server
// gives the display numbers the overlays are tied to.
class SharedState {
 public:
  explicit SharedState(std::function<std::unique_ptr<WindowServer>()> makeServer)
      : makeServer_(std::move(makeServer)) {}

  // Made on first use: a warm-up never talks to the compositor.
  WindowServer& windowServer() {
    if (!server_) server_ = makeServer_();
    return *server_;
  }

  // Global points (origin at the main display's top-left, y down); nothing before the pointer
  // has been over an overlay.
  std::optional<Point> pointer;

 private:
  std::function<std::unique_ptr<WindowServer>()> makeServer_;
  std::unique_ptr<WindowServer> server_;
};

// The window server the selector hit-tests with: `shared`'s, with the pointer position the
// overlays saw (the compositor's own answer when they have seen none).
std::unique_ptr<WindowServer> makeSelectorWindowServer(std::shared_ptr<SharedState> shared);

// Not connected yet: making one costs nothing.
std::unique_ptr<linux_ui::Desktop> makeDesktop(std::shared_ptr<SharedState> shared);

// Which display number an output takes: the window server's display whose bounds are the
// output's frame (global points), else a number made from the output's name (never 0).
DisplayId displayIdForOutput(const Rect& frame, const std::string& name,
                             const std::vector<std::pair<DisplayId, Rect>>& displays);

}  // namespace orvane::selector::wayland
