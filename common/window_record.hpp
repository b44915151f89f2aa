// The window server's window record: a dictionary of typed values, as the macOS window
// server gives it, and the typed readers every tool uses on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orvane {

struct RecordValue;
using Dictionary = std::vector<std::pair<std::string, RecordValue>>;

// One value of a record. Integers and doubles are kept apart, as a CFNumber keeps its kind.
struct RecordValue {
  std::variant<std::int64_t, double, bool, std::string, Dictionary> data;

  RecordValue(std::int64_t i) : data(i) {}
  RecordValue(int i) : data(static_cast<std::int64_t>(i)) {}
  RecordValue(std::uint32_t u) : data(static_cast<std::int64_t>(u)) {}
  RecordValue(double d) : data(d) {}
  RecordValue(bool b) : data(b) {}
  RecordValue(const char* s) : data(std::string(s)) {}
  RecordValue(std::string s) : data(std::move(s)) {}
  RecordValue(Dictionary d) : data(std::move(d)) {}
};

using WindowRecord = Dictionary;

inline constexpr std::string_view kCGWindowNumber = "kCGWindowNumber";
inline constexpr std::string_view kCGWindowOwnerPID = "kCGWindowOwnerPID";
inline constexpr std::string_view kCGWindowOwnerName = "kCGWindowOwnerName";
inline constexpr std::string_view kCGWindowName = "kCGWindowName";
inline constexpr std::string_view kCGWindowLayer = "kCGWindowLayer";
inline constexpr std::string_view kCGWindowBounds = "kCGWindowBounds";
inline constexpr std::string_view kCGWindowAlpha = "kCGWindowAlpha";
inline constexpr std::string_view kCGWindowIsOnscreen = "kCGWindowIsOnscreen";

// The window-list options of the window server.
inline constexpr std::uint32_t kCGWindowListOptionOnScreenOnly = 1;
inline constexpr std::uint32_t kCGWindowListOptionIncludingWindow = 8;
inline constexpr std::uint32_t kCGWindowListExcludeDesktopElements = 16;
inline constexpr std::uint32_t kOnScreenSnapshot =
    kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements;  // 17
inline constexpr std::uint32_t kSingleWindowSnapshot =
    kCGWindowListOptionIncludingWindow | kCGWindowListExcludeDesktopElements;  // 24

const RecordValue* find(const Dictionary& dictionary, std::string_view key);

// Typed conversions: a value that is missing, of another kind, or not exactly representable
// in the requested type reads as nothing.
std::optional<std::int64_t> readInt64(const Dictionary& record, std::string_view key);
std::optional<std::int32_t> readInt32(const Dictionary& record, std::string_view key);
std::optional<std::uint32_t> readUInt32(const Dictionary& record, std::string_view key);
std::optional<double> readDouble(const Dictionary& record, std::string_view key);
std::optional<bool> readBool(const Dictionary& record, std::string_view key);
std::optional<std::string> readString(const Dictionary& record, std::string_view key);
const Dictionary* readDictionary(const Dictionary& record, std::string_view key);

std::optional<std::int64_t> asInt64(const RecordValue& value);
std::optional<std::uint32_t> asUInt32(const RecordValue& value);
std::optional<double> asDouble(const RecordValue& value);

// Points, global display space: origin at the top-left of the main display, y downwards.
struct Point {
  double x = 0;
  double y = 0;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const Rect&) const = default;
};

// A rectangle with non-negative size covering the same area.
Rect standardized(const Rect& r);
// Left and top edges belong to the rectangle, right and bottom edges do not.
bool containsPoint(const Rect& r, Point p);
// Area of the overlap of two rectangles; 0 when they do not overlap.
double intersectionArea(const Rect& a, const Rect& b);

// Decodes a `kCGWindowBounds` value ("X", "Y", "Width", "Height"); nothing when it cannot.
std::optional<Rect> rectFromDictionary(const RecordValue& value);

// The "X"/"Y"/"Width"/"Height" dictionary the window server uses for a rectangle.
Dictionary dictionaryFromRect(const Rect& r);

}  // namespace orvane
