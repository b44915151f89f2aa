// What our GNOME Shell extension reports, read as the compositor seam's snapshot. Portable, so
// that it is tested without a shell.
//
// The extension gives Mutter's own numbers: monitor and window rectangles in the stage's
// pixels, which are physical pixels unless the layout is logical (scale-monitor-framebuffer).
// They become logical points here, per monitor: a monitor's size is divided by its scale, and
// monitors that touched in pixels still touch in points (a monitor that starts where another
// ends starts where that one ends in points). The origin is the primary monitor's top-left.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "compositor.hpp"

namespace orvane::gnome {

struct Monitor {
  std::string connector;  // empty until the extension knows it
  Rect pixels;            // in the stage's pixels
  double scale = 1;
};

struct Window {
  std::uint32_t number = 0;
  std::int64_t pid = 0;  // 0 when unknown
  std::string wmClass;
  std::string gtkApplicationId;
  std::string appName;  // the desktop entry's Name=, empty without a desktop entry
  std::string title;
  Rect frame;        // in the stage's pixels
  int monitor = -1;  // -1 when on none
  bool minimized = false;
  bool onScreen = false;
  bool xwayland = false;
};

struct ShellState {
  std::vector<Monitor> monitors;
  bool logicalLayout = false;
  int primary = 0;
  std::uint32_t focused = 0;    // 0 for none
  std::vector<Window> windows;  // front to back
};

// An output's id from its connector (FNV-1a, 32 bits); from its index when the connector is
// not known yet. Never 0.
DisplayId outputId(const std::string& connector, std::size_t index);

// Each monitor's bounds in logical points from the primary monitor's top-left, by index.
std::vector<Rect> logicalBounds(const ShellState& state);

// The snapshot: windows numbered 0 left out, titles and names bounded as on X11, owner names
// as on sway (an XWayland window's WM_CLASS; a native one's desktop entry name, else its app
// id, else its program), outputs with the primary first. `program`: a process's executable
// name, nothing when unknown.
CompositorSnapshot snapshotOf(
    const ShellState& state,
    const std::function<std::optional<std::string>(std::int64_t)>& program);

}  // namespace orvane::gnome
