// KWin's side of the compositor seam that needs no KWin: what the adapter's script sends, read
// as a snapshot, the window numbers made from KWin's window UUIDs, and the script's text. The
// adapters themselves (the script's loading and the bus traffic) are in compositor_kwin.cpp and
// compositor_bus_once.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compositor.hpp"
#include "sway_windows.hpp"

namespace orvane::kwin {

// A window's number from its UUID: the same in every process for the same UUID (the tools
// hand numbers to each other), never 0. Case and braces do not matter.
std::uint32_t windowNumber(std::string_view uuid);

// Numbers for the UUIDs of one listing, all different: where two UUIDs share a number, the
// one that sorts later takes the next free one, so that every process that sees the same
// windows numbers them alike.
std::vector<std::uint32_t> windowNumbers(const std::vector<std::string>& uuids);

struct ScriptWindow {
  std::uint32_t number = 0;
  std::string uuid;
};

// An output as KWin shows it to Wayland clients: its logical rect in KWin's own coordinates
// (those of the script's screens) and its scale. KWin's scripts give no scale.
struct OutputScale {
  Rect logical;
  double scale = 1;
};

// An output's scale from what Wayland says of it: the current mode's size in pixels over the
// logical size (xdg-output), which tells fractional scales too, to the nearest 1/120; the
// integer wl_output scale when the logical size is unknown; 1 when neither is usable. Odd
// transforms (a quarter turn) swap the mode's sides.
double outputScale(int modeWidth, int modeHeight, int transform, int logicalWidth,
                   int logicalHeight, int integerScale);

struct ScriptState {
  CompositorSnapshot snapshot;
  // Each listed window's UUID, by number.
  std::vector<ScriptWindow> uuids;
  // The script's screens in KWin's coordinates, in its order.
  std::vector<Rect> screens;
};

// The script's state message, a JSON object:
//   {"desk": current desktop, "act": active window's UUID or "",
//    "screens": [[x, y, w, h], ...] in KWin's order,
//    "w": [{"id": UUID, "pid": n, "rc": resource class, "df": desktop file name, "t": caption,
//           "g": [x, y, w, h] frame, "m": minimized, "d": desktop, "a": on all desktops,
//           "s": screen index, "o": stacking order (higher nearer the front), "x": XWayland}]}
// Windows without a caption (layer-shell surfaces) are left out. Each screen takes the scale
// of the output in `scales` with the same logical rect, else of the one at the same origin,
// else 1. Nothing when the message is not such an object.
std::optional<ScriptState> parseState(std::string_view json, sway::OwnerNames& names,
                                      const std::vector<OutputScale>& scales = {});

// The script the adapters load into KWin (see compositor_kwin.cpp), calling `owner` (a unique
// bus name): the one that serves a process that goes on, or with `oneShotPluginName` (its name
// as loaded) the one that sends its state once and unloads itself.
std::string scriptSource(std::string_view owner, std::string_view oneShotPluginName = {});

// Writes `source` to a new file only this user reads (in the runtime directory, else the
// temporary one) and sets `path` to it; false when it could not be written (`path` is then
// what is left to remove, or empty).
bool writeScriptFile(const std::string& source, std::string& path);

}  // namespace orvane::kwin
