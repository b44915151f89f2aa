// The workspace of a Wayland session, read from the compositor's snapshots in the vocabulary
// of NSWorkspace.
//
// Frontmost application: the owner of the focused window. An application is a process owning
// windows: its pid is the window's, its name the owner name the window list gives the window
// (else its app id), its bundle identifier the window's app id. Every window is a managed,
// ordinary window, so every application is regular. The focused window's title is known for
// every client, accessible or not.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "compositor.hpp"
#include "workspace.hpp"

namespace orvane {

// `snapshot` gives nothing when the compositor cannot be asked.
std::unique_ptr<Workspace> makeCompositorWorkspace(
    std::function<std::optional<CompositorSnapshot>()> snapshot);

}  // namespace orvane
