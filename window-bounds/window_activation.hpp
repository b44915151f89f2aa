// Activation on desktops that have windows but no applications to activate (X11, sway): an
// application is activated by bringing one of its windows forward.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "activation.hpp"
#include "window_server.hpp"

namespace orvane::windowbounds {

// The window to bring forward for `pid` once the followed window has closed: the owner's
// frontmost ordinary (layer 0) window still on screen. Nothing when it has none, or when the
// window server does not answer.
std::optional<std::uint32_t> frontmostWindowOf(WindowServer& server, std::int32_t pid);

// An Activation whose running applications are the processes that exist (whether or not we
// may signal them); activating one calls `activate` with its pid, on the caller's thread.
std::unique_ptr<Activation> makeWindowActivation(std::function<void(std::int32_t pid)> activate);

}  // namespace orvane::windowbounds
