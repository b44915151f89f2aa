#include "window_server_fake.hpp"

#include <algorithm>

namespace orvane {

std::optional<std::vector<RecordValue>> FakeWindowServer::copyWindowInfo(
    std::uint32_t options, std::uint32_t relativeToWindow) {
  queries.push_back({options, relativeToWindow});
  if (!windows || !(options & kCGWindowListOptionIncludingWindow) || !onlyTheIncludedWindow) {
    return windows;
  }
  // Like the window server: only the records of the given window.
  std::vector<RecordValue> matching;
  for (const auto& entry : *windows) {
    const auto* record = std::get_if<Dictionary>(&entry.data);
    if (record && readUInt32(*record, kCGWindowNumber) == relativeToWindow) {
      matching.push_back(entry);
    }
  }
  return matching;
}

std::uint32_t FakeWindowServer::activeDisplayCount() {
  return static_cast<std::uint32_t>(displays.size());
}

std::vector<DisplayId> FakeWindowServer::activeDisplays(std::uint32_t capacity) {
  std::vector<DisplayId> ids;
  for (const auto& d : displays) {
    if (ids.size() == capacity) break;
    ids.push_back(d.id);
  }
  return ids;
}

Rect FakeWindowServer::displayBounds(DisplayId display) {
  for (const auto& d : displays) {
    if (d.id == display) return d.bounds;
  }
  return {};
}

DisplayId FakeWindowServer::mainDisplayId() { return displays.empty() ? 1 : displays.front().id; }

}  // namespace orvane
