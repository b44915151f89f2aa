// The compositor seam under the Wayland backends. A Wayland session has no common window or
// input API, so everything compositor-specific comes from one adapter per compositor family:
// sway (and wlroots compositors speaking its IPC), KWin (a script loaded at run time) and
// GNOME Shell (an extension of ours). The window server, the workspace, activation and the
// selector take what they need from here, so that another compositor is one more adapter.
//
// Coordinates are logical points with the origin at the top-left of the main output, y
// downwards, as every other backend gives them. Every request to a compositor has a deadline;
// a compositor that stops answering looks like one that is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window_record.hpp"
#include "window_server.hpp"

namespace orvane {

// The compositor families with an adapter.
enum class CompositorId { none, sway, gnomeShell, kwin };

std::string_view compositorName(CompositorId id);

struct CompositorOutput {
  DisplayId id = 0;  // stable for the output's life, never 0
  std::string name;  // the connector ("DP-1"), empty when unknown
  Rect bounds;       // logical points, from the main output's top-left
  double scale = 1;
};

struct CompositorWindow {
  // Stable for the window's life, unique among the compositor's windows, never 0.
  std::uint32_t id = 0;
  std::optional<std::int64_t> pid;
  // The application's own id: a native client's app id (or desktop file name), an XWayland
  // client's WM_CLASS class in lower case; what the workspace gives as bundle identifier.
  std::optional<std::string> appId;
  // The application's name as the window list gives it: a native client's desktop entry
  // Name= (else its app id, else its program), an XWayland client's WM_CLASS class.
  std::optional<std::string> ownerName;
  std::string title;
  // The frame as the user sees it (title bar included, client shadows not), logical points
  // from the main output's top-left.
  Rect frame;
  std::optional<DisplayId> output;
  // Shown: not minimized, on an active workspace of an output, not in a scratchpad.
  bool onScreen = false;
  bool xwayland = false;
};

struct CompositorSnapshot {
  // Every window a user would call one (no panels, layer-shell surfaces or desktop), front to
  // back: the most recently focused first within what is shown, hidden windows after.
  std::vector<CompositorWindow> windows;
  // Active outputs, the main one (at the layout's origin, else the first) first.
  std::vector<CompositorOutput> outputs;
  // The window with the keyboard focus, nothing when none has it.
  std::optional<std::uint32_t> focused;
};

// How the selector's overlay reaches above every window.
enum class OverlayKind {
  layerShell,  // zwlr_layer_shell_v1 overlay surfaces (sway, KWin)
  placed,      // ordinary toplevels the compositor (our extension) places above everything
  none,
};

class Compositor {
 public:
  virtual ~Compositor() = default;

  virtual CompositorId id() const = 0;
  // False when the compositor could not be reached at start: the backends then behave as the
  // X11 ones do when there is no X server.
  virtual bool ok() const = 0;
  // Whether the compositor let the last deadline pass and has not answered since.
  virtual bool stalled() const { return false; }

  // One consistent snapshot of windows, outputs and focus; nothing when the compositor did
  // not answer within its deadline. Any thread.
  virtual std::optional<CompositorSnapshot> snapshot() = 0;
  // Outputs' scales cost some compositors a request of their own (KWin's scripts give none),
  // so snapshots carry them once someone has asked here; until then they say 1. True when the
  // snapshots did not carry them yet: the next one will.
  virtual bool wantScales() { return false; }
  // Gives `window` the focus (showing its workspace, unminimizing it); false when the
  // compositor refused or did not answer.
  virtual bool activate(std::uint32_t window) = 0;

  // Asks for `changed` to be called on the main thread, while the run loop runs, whenever the
  // focused window, a title or a window's frame may have changed. False when this compositor
  // gives no such notifications: callers then poll snapshot().
  virtual bool watchChanges(std::function<void()> changed) {
    (void)changed;
    return false;
  }

  virtual OverlayKind overlay() const { return OverlayKind::layerShell; }
  // For OverlayKind::placed: asks the compositor to put the selector's toplevel whose title
  // is `title` over the whole of `output`, above everything, and to keep it there; false
  // when it could not.
  virtual bool placeOverlay(const std::string& title, DisplayId output) {
    (void)title;
    (void)output;
    return false;
  }
};

// The compositor of this process's Wayland session (currentPlatform().compositor), made on
// first use and shared by every backend. Never null: without a compositor, one that is not
// ok().
Compositor& sharedCompositor();

// The adapters. Each connects within its deadlines; one that could not is not ok().
std::unique_ptr<Compositor> makeSwayCompositor(const std::string& ipcSocket);
std::unique_ptr<Compositor> makeKWinCompositor();
std::unique_ptr<Compositor> makeGnomeShellCompositor();
std::unique_ptr<Compositor> makeAbsentCompositor();

// ---- portable: a snapshot in the window server's vocabulary ----

// The record of one window, keys as the X11 backend writes them (layer 0, alpha 1, owner pid
// when it is a valid pid, owner name when known, name, on-screen).
WindowRecord recordOf(const CompositorWindow& window);

// The window server's answer for `options` (on-screen only, one window) from one snapshot.
std::vector<RecordValue> windowInfo(const CompositorSnapshot& snapshot, std::uint32_t options,
                                    std::uint32_t relativeToWindow);

}  // namespace orvane
