#include "window_list.hpp"

#include <cmath>

#include "json.hpp"
#include "options.hpp"
#include "text.hpp"

namespace orvane::windowlist {
namespace {

// Truncation toward zero into [lo, hi]; nothing for values that do not fit (the window server
// never produces them; such a record is dropped).
std::optional<std::int64_t> truncated(double value, double lo, double hi) {
  if (!std::isfinite(value)) return std::nullopt;
  const double t = std::trunc(value);
  if (t < lo || t > hi) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

constexpr double kInt64Lo = -9223372036854775808.0;
constexpr double kInt64Hi = 9223372036854774784.0;  // largest double below 2^63

}  // namespace

std::optional<Exclusions> parseArguments(const std::vector<std::string>& arguments,
                                         std::int64_t ownPid) {
  Exclusions exclusions;
  exclusions.excludedPids.insert(ownPid);
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--exclude-pid") {
      if (i + 1 < arguments.size()) {
        if (auto pid = parseInt64(arguments[++i])) exclusions.excludedPids.insert(*pid);
      }
    } else if (argument == "--exclude-owner") {
      if (i + 1 < arguments.size()) exclusions.excludedOwners.insert(lowercased(arguments[++i]));
    } else {
      return std::nullopt;
    }
  }
  return exclusions;
}

double number(const RecordValue* value) {
  if (!value) return 0;
  if (const auto* d = std::get_if<double>(&value->data)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&value->data)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&value->data)) return *b ? 1 : 0;  // an NSNumber too
  return 0;
}

std::string string(const RecordValue* value) {
  if (!value) return {};
  if (const auto* s = std::get_if<std::string>(&value->data)) return *s;
  return {};
}

std::optional<WindowBounds> windowBounds(const RecordValue* value) {
  if (!value) return std::nullopt;
  const auto* dictionary = std::get_if<Dictionary>(&value->data);
  if (!dictionary) return std::nullopt;
  WindowBounds b{number(find(*dictionary, "X")), number(find(*dictionary, "Y")),
                 number(find(*dictionary, "Width")), number(find(*dictionary, "Height"))};
  if (!(b.width >= 32) || !(b.height >= 32)) return std::nullopt;
  return b;
}

std::vector<WindowTarget> recordableWindows(const std::vector<RecordValue>& snapshot,
                                            const Exclusions& exclusions) {
  std::vector<WindowTarget> windows;
  for (const auto& entry : snapshot) {
    const auto* record = std::get_if<Dictionary>(&entry.data);
    if (!record) continue;
    const auto layer = truncated(number(find(*record, kCGWindowLayer)), kInt64Lo, kInt64Hi);
    if (layer != 0) continue;
    if (!(number(find(*record, kCGWindowAlpha)) > 0.01)) continue;
    const auto bounds = windowBounds(find(*record, kCGWindowBounds));
    if (!bounds) continue;
    const auto id = truncated(number(find(*record, kCGWindowNumber)), 0, 4294967295.0);
    if (!id || *id == 0) continue;
    const auto pid = truncated(number(find(*record, kCGWindowOwnerPID)), kInt64Lo, kInt64Hi);
    if (!pid || exclusions.excludedPids.count(*pid)) continue;
    std::string ownerName = string(find(*record, kCGWindowOwnerName));
    if (exclusions.excludedOwners.count(lowercased(ownerName))) continue;
    windows.push_back({static_cast<std::uint32_t>(*id), *pid, std::move(ownerName),
                       string(find(*record, kCGWindowName)), *bounds});
  }
  return windows;
}

std::optional<std::string> encodeWindows(const std::vector<WindowTarget>& windows) {
  json::Array array;
  array.reserve(windows.size());
  for (const auto& w : windows) {
    array.push_back(json::Object{
        {"id", w.id},
        {"ownerPid", w.ownerPid},
        {"ownerName", w.ownerName},
        {"title", w.title},
        {"bounds", json::Object{{"x", w.bounds.x},
                                {"y", w.bounds.y},
                                {"width", w.bounds.width},
                                {"height", w.bounds.height}}},
    });
  }
  return json::encode(array, {.sortKeys = false, .escapeSlashes = true});
}

int run(const std::vector<std::string>& arguments, std::int64_t ownPid, WindowServer& server,
        Output& output) {
  const auto exclusions = parseArguments(arguments, ownPid);
  if (!exclusions) {
    output.writeErr(kUsage);
    return 2;
  }
  // A failed call, or anything but a list of dictionaries, is an empty snapshot.
  auto snapshot = server.copyWindowInfo(kOnScreenSnapshot, 0);
  std::vector<RecordValue> records;
  if (snapshot && recordsOf(snapshot)) records = std::move(*snapshot);
  const auto text = encodeWindows(recordableWindows(records, *exclusions));
  if (!text) return 0;  // a value that cannot be encoded: nothing is written
  output.writeOut(*text);
  output.writeOut("\n");
  return 0;
}

}  // namespace orvane::windowlist
