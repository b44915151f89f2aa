// What the platform choice and KWin's adapters share. The choice asks the session bus which
// compositor is there (probeCompositorBus), and KWin's adapter starts within that question,
// so that a tool on KWin pays one round trip for both: the probe sends the calls that load
// the adapter's script with its own, and the adapter made next (makeKWinCompositor) is the
// one so started. Programs link one of two builds of it:
//   - orvane_compositor_backends (compositor_kwin.cpp, compositor_gnome_shell.cpp): GIO's
//     connection, for the tools that go on;
//   - orvane_compositor_backends_once (compositor_bus_once.cpp): a connection of our own
//     (bus_wire.hpp) and no GIO, for a tool that takes one snapshot and ends (window-list);
//     GIO's start alone costs such a tool a quarter of its time.
#pragma once

#include <chrono>
#include <vector>

#include "kwin_state.hpp"
#include "session_bus.hpp"

namespace orvane {

// Which compositors the session bus has, asked within the probe's deadline (see
// probeSessionBus); KWin's adapter is started with the question. Nothing present without a bus.
SessionBusPresence probeCompositorBus();

// Each output's logical rect and scale as KWin tells its Wayland clients; nothing when the
// session's display cannot be reached within the deadline (kwin_outputs.cpp).
std::vector<kwin::OutputScale> readOutputScales(std::chrono::milliseconds within);

}  // namespace orvane
