// Which pixels of an overlay a repaint covers.
#pragma once

#include <vector>

#include "window_record.hpp"

namespace orvane::selector {

// The pixel rectangles (y downwards, whole pixels) that cover `dirty`, given in the view's
// points (y upwards) of an overlay `heightPoints` tall drawn at `scale` pixels a point into
// `pixelWidth` x `pixelHeight` pixels. Rectangles are rounded outwards, so nothing changed is
// left stale, and clipped to the overlay; those left empty are dropped. `whole` (a first paint,
// or no rectangle named) covers the overlay.
std::vector<Rect> damagedPixels(const std::vector<Rect>& dirty, bool whole, double heightPoints,
                                double scale, int pixelWidth, int pixelHeight);

}  // namespace orvane::selector
