#include "pixel_points_x11.hpp"

#include <xcb/randr.h>

#include "x11_util.hpp"

namespace orvane::x11 {

PointMapping::PointMapping(xcb_connection_t* connection, xcb_window_t root)
    : c_(connection), root_(root) {
  if (!c_ || xcb_connection_has_error(c_)) return;
  const auto* randr = xcb_get_extension_data(c_, &xcb_randr_id);
  if (randr && randr->present) {
    auto version =
        adopt(xcb_randr_query_version_reply(c_, xcb_randr_query_version(c_, 1, 5), nullptr));
    hasRandr_ = version && (version->major_version > 1 || version->minor_version >= 5);
  }
}

void PointMapping::refresh() {
  const auto now = std::chrono::steady_clock::now();
  if (read_ && now - readAt_ < std::chrono::milliseconds(250)) return;
  read_ = true;
  readAt_ = now;
  if (!c_ || xcb_connection_has_error(c_)) return;
  auto resources = requestProperty(c_, root_, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 1 << 16);
  xcb_randr_get_monitors_cookie_t monitors{};
  if (hasRandr_) monitors = xcb_randr_get_monitors(c_, root_, 1);
  scale_ = 1;
  if (auto text = takeProperty(c_, resources)) {
    if (auto dpi = xftDpi(text->bytes); dpi && *dpi > 0) scale_ = *dpi / 96.0;
  }
  originX_ = originY_ = 0;
  if (hasRandr_) {
    auto reply = adopt(xcb_randr_get_monitors_reply(c_, monitors, nullptr));
    bool first = true;
    for (auto it = reply ? xcb_randr_get_monitors_monitors_iterator(reply.get())
                         : xcb_randr_monitor_info_iterator_t{};
         reply && it.rem; xcb_randr_monitor_info_next(&it)) {
      // The primary monitor, else the first one, as the window server's main display.
      if (first || it.data->primary) {
        originX_ = it.data->x;
        originY_ = it.data->y;
        first = false;
        if (it.data->primary) break;
      }
    }
  }
}

Point PointMapping::toPoints(double xPixels, double yPixels) {
  refresh();
  return {(xPixels - originX_) / scale_, (yPixels - originY_) / scale_};
}

Point PointMapping::toPixels(Point points) {
  refresh();
  return {points.x * scale_ + originX_, points.y * scale_ + originY_};
}

Rect PointMapping::toPoints(const Rect& pixels) {
  refresh();
  return {(pixels.x - originX_) / scale_, (pixels.y - originY_) / scale_, pixels.width / scale_,
          pixels.height / scale_};
}

}  // namespace orvane::x11
