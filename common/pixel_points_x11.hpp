// Root-window pixels to global points on X11, counted as the window-server backend counts
// them: from the top-left of the primary RandR monitor, divided by the Xft.dpi scale factor
// (96 dpi is 1). Never included by a seam header.
#pragma once

#include <xcb/xcb.h>

#include <chrono>

#include "window_record.hpp"

namespace orvane::x11 {

class PointMapping {
 public:
  // The connection must outlive the mapping.
  PointMapping(xcb_connection_t* connection, xcb_window_t root);

  Point toPoints(double xPixels, double yPixels);
  Rect toPoints(const Rect& pixels);
  // Global points back to root-window pixels.
  Point toPixels(Point points);

 private:
  // The layout is read again when it is older than a moment, so that a burst of conversions
  // costs one round trip and a changed layout is seen soon.
  void refresh();

  xcb_connection_t* c_;
  xcb_window_t root_;
  bool hasRandr_ = false;
  double originX_ = 0, originY_ = 0, scale_ = 1;
  std::chrono::steady_clock::time_point readAt_{};
  bool read_ = false;
};

}  // namespace orvane::x11
