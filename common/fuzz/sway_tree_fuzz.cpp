// Any bytes as sway's get_tree reply: read, mapped to records and displays, never a crash.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sway_windows.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace orvane;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto tree = sway::parseTree(text);
  if (!tree) return 0;
  sway::OwnerNames names({}, [](std::int64_t) { return std::optional<std::string>(); });
  const auto displays = sway::displaysOf(*tree);
  for (const auto& d : displays) {
    if (d.id == 0 || !(d.scale > 0)) std::abort();
  }
  const auto all = sway::windowInfo(*tree, 0, 0, names);
  const auto onScreen = sway::windowInfo(*tree, kOnScreenSnapshot, 0, names);
  if (onScreen.size() > all.size()) std::abort();
  for (const auto& record : all) {
    const auto number = readUInt32(std::get<Dictionary>(record.data), kCGWindowNumber);
    if (!number || *number == 0) std::abort();
    if (sway::windowInfo(*tree, kSingleWindowSnapshot, *number, names).size() != 1) std::abort();
  }
  return 0;
}
