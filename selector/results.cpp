#include "results.hpp"

#include <unistd.h>

#include <cerrno>

namespace orvane::selector {

json::Value toJson(const WindowBoundsOutput& value) {
  return json::Object{
      {"x", value.x}, {"y", value.y}, {"width", value.width}, {"height", value.height}};
}

json::Value toJson(const WindowSelectionOutput& value) {
  return json::Object{{"kind", value.kind},
                      {"windowId", value.windowId},
                      {"ownerPid", value.ownerPid},
                      {"ownerName", value.ownerName},
                      {"title", value.title},
                      {"displayId", value.displayId},
                      {"bounds", toJson(value.bounds)}};
}

json::Value toJson(const ScreenSelectionOutput& value) {
  return json::Object{{"kind", value.kind}, {"displayId", value.displayId}};
}

json::Value toJson(const CancelledOutput& value) {
  return json::Object{{"cancelled", value.cancelled}};
}

void writeCancelledLine(int fd) {
  const char* p = kCancelledLine.data();
  std::size_t left = kCancelledLine.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nobody reads any more: nothing else to do
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void writeJsonValue(Output& output, const json::Value& value) {
  json::Options options;
  options.escapeSlashes = false;
  if (auto text = json::encode(value, options)) {
    output.writeOut(*text);
    output.writeOut("\n");
  } else {
    output.writeOut(kCancelledLine);
  }
}

}  // namespace orvane::selector
