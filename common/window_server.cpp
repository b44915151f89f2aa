#include "window_server.hpp"

namespace orvane {

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
