#include "window_record.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane {

const RecordValue* find(const Dictionary& dictionary, std::string_view key) {
  for (const auto& [k, v] : dictionary) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::optional<std::int64_t> asInt64(const RecordValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value.data)) return *i;
  if (const auto* d = std::get_if<double>(&value.data)) {
    // 2^63 is exactly representable as a double and is the first value out of range.
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -9223372036854775808.0 &&
        *d < 9223372036854775808.0) {
      return static_cast<std::int64_t>(*d);
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> asUInt32(const RecordValue& value) {
  auto i = asInt64(value);
  if (!i || *i < 0 || *i > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*i);
}

std::optional<double> asDouble(const RecordValue& value) {
  if (const auto* d = std::get_if<double>(&value.data)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&value.data)) {
    const double d = static_cast<double>(*i);
    // Only integers that a double holds exactly.
    if (d >= 9223372036854775808.0 || static_cast<std::int64_t>(d) != *i) return std::nullopt;
    return d;
  }
  return std::nullopt;
}

std::optional<std::int64_t> readInt64(const Dictionary& record, std::string_view key) {
  const auto* v = find(record, key);
  return v ? asInt64(*v) : std::nullopt;
}

std::optional<std::int32_t> readInt32(const Dictionary& record, std::string_view key) {
  auto i = readInt64(record, key);
  if (!i || *i < std::numeric_limits<std::int32_t>::min() ||
      *i > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(*i);
}

std::optional<std::uint32_t> readUInt32(const Dictionary& record, std::string_view key) {
  const auto* v = find(record, key);
  return v ? asUInt32(*v) : std::nullopt;
}

std::optional<double> readDouble(const Dictionary& record, std::string_view key) {
  const auto* v = find(record, key);
  return v ? asDouble(*v) : std::nullopt;
}

std::optional<bool> readBool(const Dictionary& record, std::string_view key) {
  const auto* v = find(record, key);
  if (!v) return std::nullopt;
  if (const auto* b = std::get_if<bool>(&v->data)) return *b;
  return std::nullopt;
}

std::optional<std::string> readString(const Dictionary& record, std::string_view key) {
  const auto* v = find(record, key);
  if (!v) return std::nullopt;
  if (const auto* s = std::get_if<std::string>(&v->data)) return *s;
  return std::nullopt;
}

const Dictionary* readDictionary(const Dictionary& record, std::string_view key) {
  const auto* v = find(record, key);
  return v ? std::get_if<Dictionary>(&v->data) : nullptr;
}

Rect standardized(const Rect& r) {
  Rect s = r;
  if (s.width < 0) {
    s.x += s.width;
    s.width = -s.width;
  }
  if (s.height < 0) {
    s.y += s.height;
    s.height = -s.height;
  }
  return s;
}

bool containsPoint(const Rect& rect, Point p) {
  const Rect r = standardized(rect);
  return p.x >= r.x && p.x < r.x + r.width && p.y >= r.y && p.y < r.y + r.height;
}

double intersectionArea(const Rect& first, const Rect& second) {
  const Rect a = standardized(first), b = standardized(second);
  const double w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
  const double h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
  if (!(w > 0) || !(h > 0)) return 0;
  return w * h;
}

Dictionary dictionaryFromRect(const Rect& r) {
  return {{"Height", r.height}, {"Width", r.width}, {"X", r.x}, {"Y", r.y}};
}

}  // namespace orvane
