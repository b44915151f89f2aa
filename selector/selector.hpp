// The selector's entry point, shared by every platform's main(): the warm-up answer, the
// usage line, and a selection run on the platform's application.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "application.hpp"
#include "canvas.hpp"
#include "output.hpp"
#include "window_server.hpp"

namespace orvane::selector {

// The accent colour of the overlay and the pill. Green is 111/255.
inline constexpr Color orvaneBrandBlue{0, 111 / 255.0, 1, 1};

// Corner radius of the system's windows in points: 16 at start; the launch probe may replace
// it. Read by every rounded highlight.
inline constexpr double kDefaultWindowCornerRadius = 16;
extern double resolvedWindowCornerRadius;

struct SelectorPlatform {
  // The shared application object. May answer nothing when there is no desktop to show the
  // selection on (X11: the display cannot be opened); a selection then prints the
  // cancellation at once, so that the host still gets its one line.
  std::function<std::unique_ptr<Application>()> makeApplication;
  // Asked only for a selection, after the application.
  std::function<std::unique_ptr<WindowServer>()> makeWindowServer;
};

// The selector on a Wayland compositor with layer shell (sway and other wlroots compositors):
// its application, and the compositor's window snapshot, which takes the pointer position from
// the overlays.
SelectorPlatform selectorPlatformWayland();

// The whole run after the program's own name; returns the exit status (0, or 2 after the
// usage line). A selection returns only if the application's loop ever stops; normally the
// application terminates the process after the result.
int runSelector(const std::vector<std::string>& arguments, const SelectorPlatform& platform,
                Output& output);

}  // namespace orvane::selector
