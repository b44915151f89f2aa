// Which offerable window and which display lie under the pointer, and which display holds a
// window. Free functions without state: every call asks the window server afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "window_server.hpp"

namespace orvane::selector {

// The window under the pointer. Two candidates are equal when all six fields are.
struct WindowCandidate {
  std::uint32_t windowId = 0;
  std::int32_t ownerPid = -1;
  std::string ownerName;
  std::string title;
  Rect bounds;
  DisplayId displayId = 0;
  bool operator==(const WindowCandidate&) const = default;
};

std::optional<WindowCandidate> windowUnderCursor(WindowServer& server,
                                                 const std::set<std::int32_t>& excludedPids,
                                                 const std::set<std::string>& excludedOwnerNames);

DisplayId displayUnderCursor(WindowServer& server);

// The display holding the largest part of `rect`; the main display when none holds any.
DisplayId displayIdForWindow(WindowServer& server, const Rect& rect);

// The display of one of the application kit's screens; the main display when its
// "NSScreenNumber" is missing or not a number.
DisplayId screenDisplayId(WindowServer& server, const ScreenInfo& screen);

}  // namespace orvane::selector
