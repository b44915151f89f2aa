// sway's tree read as the window server's vocabulary: window records front to back and the
// displays. Portable: it works on parsed trees, so that it is tested with trees captured from
// a real sway.
//
// Window number: the container id. Bounds: the container's `rect` grown by its title bar
// (`deco_rect`, which sway keeps apart), in layout coordinates (logical points) from the
// top-left of the main display. On screen: sway shows it (`visible`) on an active output;
// hidden workspaces and the scratchpad are not on screen. Order: per workspace, in the focus
// order of outputs and workspaces, fullscreen containers first, then floating ones, then
// tiled ones, each group in the order of the `focus` arrays.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "compositor.hpp"
#include "sway_ipc.hpp"
#include "window_server.hpp"

namespace orvane::sway {

struct Display {
  DisplayId id = 0;
  std::string name;
  Rect bounds;  // points, from the main display's top-left
  double scale = 1;
};

// Outputs, main display first (the output at layout (0,0), else the first active one), then
// in the tree's order. The scratchpad's pseudo output is not one.
std::vector<Display> displaysOf(const SwayNode& root);

// A display id from an output's make, model and serial (FNV-1a, 32 bits), with its name
// mixed in when `withName`; never 0.
DisplayId displayId(const std::string& make, const std::string& model, const std::string& serial,
                    const std::string& name, bool withName);

// A window container and where it is in the tree.
struct View {
  const SwayNode* node = nullptr;
  bool onScreen = false;
};

// Every view of the tree, front to back.
std::vector<View> viewsOf(const SwayNode& root);

// Owner names: a native window's desktop entry name (else its app_id, else its program); an
// XWayland window's WM_CLASS class (else its program), as on X11.
class OwnerNames {
 public:
  // `dataDirs`: where desktop entries are looked for (each + "/applications"), in order.
  // `program`: a process's executable name, nothing when unknown.
  OwnerNames(std::vector<std::string> dataDirs,
             std::function<std::optional<std::string>(std::int64_t pid)> program);
  // XDG_DATA_HOME (default ~/.local/share), then XDG_DATA_DIRS (default
  // /usr/local/share:/usr/share); programs read from /proc.
  static OwnerNames fromEnvironment();

  std::optional<std::string> ownerName(const SwayNode& view);
  // The same from a window's parts, for compositors that describe windows otherwise.
  std::optional<std::string> ownerName(bool xwayland, const std::optional<std::string>& appId,
                                       const std::optional<std::string>& windowClass,
                                       std::optional<std::int64_t> pid);

 private:
  std::optional<std::string> desktopEntryName(const std::string& appId);

  std::vector<std::string> dataDirs_;
  std::function<std::optional<std::string>(std::int64_t)> program_;
  std::map<std::string, std::optional<std::string>> cache_;
};

// The `Name=` of a desktop entry's "[Desktop Entry]" group, escapes undone; nothing when it
// has none.
std::optional<std::string> desktopEntryName(std::string_view text);

// The view the user works in; nothing when the focus is on a workspace without views.
const SwayNode* focusedView(const SwayNode& root);
// The view's bundle identifier: its app_id; an XWayland view's class in lower case, as the
// X11 workspace reads WM_CLASS. Nothing when it has none.
std::optional<std::string> bundleIdOf(const SwayNode& view);

// The tree as the compositor seam's snapshot: views front to back (those whose container id
// cannot be a window number left out), each output a view's centre lies on, the focused view.
CompositorSnapshot snapshotOf(const SwayNode& root, OwnerNames& names);

// The window server's answer for `options` (on-screen only, one window, desktop elements
// excluded) from one tree.
std::vector<RecordValue> windowInfo(const SwayNode& root, std::uint32_t options,
                                    std::uint32_t relativeToWindow, OwnerNames& names);

}  // namespace orvane::sway
