#include "damage.hpp"

#include <algorithm>
#include <cmath>

namespace orvane::selector {

std::vector<Rect> damagedPixels(const std::vector<Rect>& dirty, bool whole, double heightPoints,
                                double scale, int pixelWidth, int pixelHeight) {
  std::vector<Rect> pixels;
  if (whole || dirty.empty()) {
    if (pixelWidth > 0 && pixelHeight > 0)
      pixels.push_back({0, 0, double(pixelWidth), double(pixelHeight)});
    return pixels;
  }
  for (const Rect& r : dirty) {
    const double top = heightPoints - (r.y + r.height);
    const double x0 = std::max(0.0, std::floor(r.x * scale));
    const double y0 = std::max(0.0, std::floor(top * scale));
    const double x1 = std::min<double>(pixelWidth, std::ceil((r.x + r.width) * scale));
    const double y1 = std::min<double>(pixelHeight, std::ceil((top + r.height) * scale));
    if (x1 <= x0 || y1 <= y0) continue;
    pixels.push_back({x0, y0, x1 - x0, y1 - y0});
  }
  return pixels;
}

}  // namespace orvane::selector
