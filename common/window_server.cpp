#include "window_server.hpp"

namespace orvane {

std::optional<WindowServer::WindowOwner> WindowServer::ownerAt(Point point) {
  auto records = recordsOf(copyWindowInfo(kOnScreenSnapshot, 0));
  if (!records) return std::nullopt;
  for (const auto& record : *records) {
    const RecordValue* bounds = find(record, kCGWindowBounds);
    auto rect = bounds ? rectFromDictionary(*bounds) : std::nullopt;
    if (!rect || !containsPoint(*rect, point)) continue;
    const auto pid = readInt32(record, kCGWindowOwnerPID);
    if (!pid) return std::nullopt;
    return WindowOwner{readInt64(record, kCGWindowNumber).value_or(0), *pid};
  }
  return std::nullopt;
}

std::vector<DisplayId> activeDisplayList(WindowServer& server) {
  const std::uint32_t count = server.activeDisplayCount();
  if (count == 0) return {};
  return server.activeDisplays(count);
}

std::optional<std::vector<WindowRecord>> recordsOf(
    const std::optional<std::vector<RecordValue>>& snapshot) {
  if (!snapshot) return std::nullopt;
  std::vector<WindowRecord> records;
  records.reserve(snapshot->size());
  for (const auto& entry : *snapshot) {
    const auto* dictionary = std::get_if<Dictionary>(&entry.data);
    if (!dictionary) return std::nullopt;
    records.push_back(*dictionary);
  }
  return records;
}

}  // namespace orvane
