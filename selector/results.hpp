// The three results a selection prints, and the writer that prints one.
#pragma once

#include <cstdint>
#include <string>

#include "json.hpp"
#include "output.hpp"

namespace orvane::selector {

struct WindowBoundsOutput {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct WindowSelectionOutput {
  std::string kind = "window";
  std::uint32_t windowId = 0;
  std::int32_t ownerPid = -1;
  std::string ownerName;
  std::string title;
  std::uint32_t displayId = 0;
  WindowBoundsOutput bounds;
};

struct ScreenSelectionOutput {
  std::string kind = "screen";
  std::uint32_t displayId = 0;
};

struct CancelledOutput {
  bool cancelled = true;
};

json::Value toJson(const WindowBoundsOutput& value);
json::Value toJson(const WindowSelectionOutput& value);
json::Value toJson(const ScreenSelectionOutput& value);
json::Value toJson(const CancelledOutput& value);

inline constexpr std::string_view kCancelledLine = "{\"cancelled\":true}\n";

// The cancellation line written to `fd` with write(2) alone, for the paths that end the
// process from an error or a signal: it allocates nothing and takes no lock.
void writeCancelledLine(int fd);

// Compact JSON of `value`, "/" unescaped, in one write, then "\n" in a second. A value that
// cannot be encoded (a number that is not finite) prints the cancellation line instead, in
// one write, so the host always gets one well-formed line.
void writeJsonValue(Output& output, const json::Value& value);

template <typename Record>
void writeJson(Output& output, const Record& value) {
  writeJsonValue(output, toJson(value));
}

}  // namespace orvane::selector
