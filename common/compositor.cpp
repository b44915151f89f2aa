#include "compositor.hpp"

#include <limits>

namespace orvane {
std::string_view compositorName(CompositorId id) {
  switch (id) {
    case CompositorId::none:
      return "none";
    case CompositorId::sway:
      return "sway";
    case CompositorId::gnomeShell:
      return "gnome-shell";
    case CompositorId::kwin:
      return "kwin";
  }
  return "";
}

WindowRecord recordOf(const CompositorWindow& window) {
  WindowRecord record;
  record.emplace_back(std::string(kCGWindowNumber), static_cast<std::int64_t>(window.id));
  record.emplace_back(std::string(kCGWindowLayer), std::int64_t{0});
  record.emplace_back(std::string(kCGWindowBounds), dictionaryFromRect(window.frame));
  record.emplace_back(std::string(kCGWindowAlpha), 1.0);
  if (window.pid && *window.pid > 0 && *window.pid <= std::numeric_limits<std::int32_t>::max())
    record.emplace_back(std::string(kCGWindowOwnerPID), *window.pid);
  if (window.ownerName) record.emplace_back(std::string(kCGWindowOwnerName), *window.ownerName);
  record.emplace_back(std::string(kCGWindowName), window.title);
  record.emplace_back(std::string(kCGWindowIsOnscreen), window.onScreen);
  return record;
}

std::vector<RecordValue> windowInfo(const CompositorSnapshot& snapshot, std::uint32_t options,
                                    std::uint32_t relativeToWindow) {
  std::vector<RecordValue> records;
  const bool one = options & kCGWindowListOptionIncludingWindow;
  for (const CompositorWindow& window : snapshot.windows) {
    if (one && window.id != relativeToWindow) continue;
    if ((options & kCGWindowListOptionOnScreenOnly) && !window.onScreen) continue;
    records.emplace_back(recordOf(window));
    if (one) break;
  }
  return records;
}

}  // namespace orvane
