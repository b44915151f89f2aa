#include "hit_testing.hpp"

#include <cmath>

#include "text.hpp"

namespace orvane::selector {
namespace {

// Owner names match when they are the same text in Unicode, whichever normalization form
// either side arrived in.
bool isExcludedOwner(const std::set<std::string>& excluded, const std::string& name) {
  if (excluded.count(name)) return true;
  const std::string decomposed = canonicalDecomposition(name);
  for (const auto& candidate : excluded) {
    if (canonicalDecomposition(candidate) == decomposed) return true;
  }
  return false;
}

}  // namespace

std::optional<WindowCandidate> windowUnderCursor(WindowServer& server,
                                                 const std::set<std::int32_t>& excludedPids,
                                                 const std::set<std::string>& excludedOwnerNames) {
  const auto pointer = server.cursorLocation();
  if (!pointer) return std::nullopt;
  const auto records = recordsOf(server.copyWindowInfo(kOnScreenSnapshot, 0));
  if (!records) return std::nullopt;
  for (const auto& record : *records) {
    if (readInt64(record, kCGWindowLayer) != 0) continue;
    const std::int32_t pid = readInt32(record, kCGWindowOwnerPID).value_or(-1);
    if (excludedPids.count(pid)) continue;
    std::string ownerName = readString(record, kCGWindowOwnerName).value_or("");
    if (isExcludedOwner(excludedOwnerNames, ownerName)) continue;
    if (auto alpha = readDouble(record, kCGWindowAlpha); alpha && !(*alpha > 0.01)) continue;
    const auto* boundsValue = find(record, kCGWindowBounds);
    if (!boundsValue || !std::get_if<Dictionary>(&boundsValue->data)) continue;
    const auto rect = rectFromDictionary(*boundsValue);
    if (!rect) continue;
    if (!(std::abs(rect->width) >= 32) || !(std::abs(rect->height) >= 32)) continue;
    if (!containsPoint(*rect, *pointer)) continue;
    const auto windowId = readUInt32(record, kCGWindowNumber);
    if (!windowId || *windowId == 0) continue;
    return WindowCandidate{*windowId,
                           pid,
                           std::move(ownerName),
                           readString(record, kCGWindowName).value_or(""),
                           *rect,
                           displayIdForWindow(server, *rect)};
  }
  return std::nullopt;
}

DisplayId displayUnderCursor(WindowServer& server) {
  const auto pointer = server.cursorLocation();
  if (!pointer) return server.mainDisplayId();
  for (DisplayId display : activeDisplayList(server)) {
    if (containsPoint(server.displayBounds(display), *pointer)) return display;
  }
  return server.mainDisplayId();
}

DisplayId displayIdForWindow(WindowServer& server, const Rect& rect) {
  DisplayId best = server.mainDisplayId();
  double bestArea = 0;
  for (DisplayId display : activeDisplayList(server)) {
    const double area = intersectionArea(rect, server.displayBounds(display));
    if (area > bestArea) {
      best = display;
      bestArea = area;
    }
  }
  return best;
}

DisplayId screenDisplayId(WindowServer& server, const ScreenInfo& screen) {
  if (screen.screenNumber) {
    // NSNumber's unsigned 32-bit value of whatever number it holds.
    if (const auto* i = std::get_if<std::int64_t>(&screen.screenNumber->data)) {
      return static_cast<DisplayId>(*i);
    }
    if (const auto* d = std::get_if<double>(&screen.screenNumber->data)) {
      if (std::isfinite(*d) && std::abs(*d) < 9223372036854775808.0) {
        return static_cast<DisplayId>(static_cast<std::int64_t>(*d));
      }
    }
  }
  return server.mainDisplayId();
}

}  // namespace orvane::selector
