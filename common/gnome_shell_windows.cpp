#include "gnome_shell_windows.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "sway_ipc.hpp"

namespace orvane::gnome {
namespace {

bool usable(const Monitor& m) {
  return std::isfinite(m.pixels.x) && std::isfinite(m.pixels.y) && m.pixels.width > 0 &&
         m.pixels.height > 0 && std::isfinite(m.pixels.width) && std::isfinite(m.pixels.height) &&
         std::isfinite(m.scale) && m.scale > 0;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One axis of the physical layout in points: each start follows the end of the monitor it
// touches, when one does, else it is the pixel start itself.
void placeAxis(const std::vector<Monitor>& monitors, std::vector<Rect>& out, bool horizontal) {
  const auto start = [&](const Rect& r) { return horizontal ? r.x : r.y; };
  const auto extent = [&](const Rect& r) { return horizontal ? r.width : r.height; };
  std::vector<std::size_t> order(monitors.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return start(monitors[a].pixels) < start(monitors[b].pixels);
  });
  std::vector<bool> placed(monitors.size(), false);
  for (std::size_t i : order) {
    double value = start(monitors[i].pixels);
    for (std::size_t j : order) {
      if (!placed[j]) continue;
      if (start(monitors[j].pixels) + extent(monitors[j].pixels) == start(monitors[i].pixels)) {
        value = start(out[j]) + extent(out[j]);
        break;
      }
    }
    (horizontal ? out[i].x : out[i].y) = value;
    placed[i] = true;
  }
}

}  // namespace

DisplayId outputId(const std::string& connector, std::size_t index) {
  if (connector.empty()) return static_cast<DisplayId>(index + 1);
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : connector) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash ? hash : 1;
}

std::vector<Rect> logicalBounds(const ShellState& state) {
  std::vector<Rect> out(state.monitors.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Monitor& m = state.monitors[i];
    out[i] = m.pixels;
    if (!state.logicalLayout && usable(m)) {
      out[i].width = m.pixels.width / m.scale;
      out[i].height = m.pixels.height / m.scale;
    }
  }
  if (!state.logicalLayout) {
    placeAxis(state.monitors, out, true);
    placeAxis(state.monitors, out, false);
  }
  if (state.primary >= 0 && static_cast<std::size_t>(state.primary) < out.size()) {
    const Rect origin = out[static_cast<std::size_t>(state.primary)];
    for (Rect& r : out) {
      r.x -= origin.x;
      r.y -= origin.y;
    }
  }
  return out;
}

CompositorSnapshot snapshotOf(
    const ShellState& state,
    const std::function<std::optional<std::string>(std::int64_t)>& program) {
  CompositorSnapshot snapshot;
  const std::vector<Rect> bounds = logicalBounds(state);
  std::vector<DisplayId> ids(state.monitors.size());
  for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = outputId(state.monitors[i].connector, i);
  const std::size_t primary =
      state.primary >= 0 && static_cast<std::size_t>(state.primary) < ids.size()
          ? static_cast<std::size_t>(state.primary)
          : 0;
  for (std::size_t k = 0; k < ids.size(); ++k) {
    // The primary monitor first, the others in Mutter's order.
    const std::size_t i = k == 0 ? primary : (k <= primary ? k - 1 : k);
    if (!usable(state.monitors[i])) continue;
    CompositorOutput& o = snapshot.outputs.emplace_back();
    o.id = ids[i];
    o.name = sway::boundedText(state.monitors[i].connector);
    o.bounds = bounds[i];
    o.scale = state.monitors[i].scale;
  }

  for (const Window& w : state.windows) {
    if (w.number == 0) continue;
    CompositorWindow& c = snapshot.windows.emplace_back();
    c.id = w.number;
    if (w.pid > 0) c.pid = w.pid;
    c.title = sway::boundedText(w.title);
    c.xwayland = w.xwayland;
    c.onScreen = w.onScreen;
    if (w.xwayland) {
      if (!w.wmClass.empty()) {
        c.appId = sway::boundedText(lower(w.wmClass));
        c.ownerName = sway::boundedText(w.wmClass);
      }
    } else {
      const std::string& id = w.gtkApplicationId.empty() ? w.wmClass : w.gtkApplicationId;
      if (!id.empty()) c.appId = sway::boundedText(id);
      if (!w.appName.empty())
        c.ownerName = sway::boundedText(w.appName);
      else
        c.ownerName = c.appId;
    }
    if (!c.ownerName && w.pid > 0 && program) c.ownerName = program(w.pid);
    // The frame in points on its monitor; on none, in the stage's pixels from the primary's.
    Rect frame = w.frame;
    const bool onMonitor = w.monitor >= 0 && static_cast<std::size_t>(w.monitor) < bounds.size() &&
                           usable(state.monitors[static_cast<std::size_t>(w.monitor)]);
    if (onMonitor) {
      const auto m = static_cast<std::size_t>(w.monitor);
      const Monitor& monitor = state.monitors[m];
      const double scale = state.logicalLayout ? 1.0 : monitor.scale;
      frame.x = bounds[m].x + (w.frame.x - monitor.pixels.x) / scale;
      frame.y = bounds[m].y + (w.frame.y - monitor.pixels.y) / scale;
      frame.width = w.frame.width / scale;
      frame.height = w.frame.height / scale;
      c.output = ids[m];
    } else if (primary < state.monitors.size()) {
      frame.x -= state.monitors[primary].pixels.x;
      frame.y -= state.monitors[primary].pixels.y;
    }
    c.frame = frame;
  }
  if (state.focused != 0) {
    for (const CompositorWindow& c : snapshot.windows) {
      if (c.id == state.focused) snapshot.focused = c.id;
    }
  }
  return snapshot;
}

}  // namespace orvane::gnome
