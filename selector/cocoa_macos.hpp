// What the selector's macOS backend files share: colour and rectangle conversions, and the
// factories of the drawing and pill parts that the application backend puts together.
// Objective-C++ only.
#pragma once

#import <AppKit/AppKit.h>

#include <functional>
#include <memory>
#include <string>

#include "canvas.hpp"
#include "pill_surface.hpp"
#include "text_measure.hpp"

namespace orvane::selector {

inline NSRect nsRect(const Rect& r) { return NSMakeRect(r.x, r.y, r.width, r.height); }

// Black, white and clear are the named colours; anything else an sRGB colour. Another alpha
// is applied with colorWithAlphaComponent:.
inline NSColor* nsColor(Color c) {
  NSColor* base;
  if (c.red == 0 && c.green == 0 && c.blue == 0 && c.alpha == 0) return [NSColor clearColor];
  if (c.red == 0 && c.green == 0 && c.blue == 0) {
    base = [NSColor blackColor];
  } else if (c.red == 1 && c.green == 1 && c.blue == 1) {
    base = [NSColor whiteColor];
  } else {
    base = [NSColor colorWithSRGBRed:c.red green:c.green blue:c.blue alpha:1];
  }
  return c.alpha == 1 ? base : [base colorWithAlphaComponent:c.alpha];
}

inline NSFont* nsFont(Font font) {
  return [NSFont systemFontOfSize:font.size
                           weight:font.weight == FontWeight::semibold ? NSFontWeightSemibold
                                                                      : NSFontWeightMedium];
}

// The graphics context current while a view draws.
std::unique_ptr<Canvas> makeCanvasMacOS();

// The pill and the bubble as subviews of an overlay view, and label measuring.
std::unique_ptr<PillSurface> makePillSurfaceMacOS(NSView* overlay,
                                                  std::function<void(PillAction)> perform);
std::unique_ptr<BubbleSurface> makeBubbleSurfaceMacOS(NSView* overlay, const std::string& text);
std::unique_ptr<TextMeasurer> makeTextMeasurerMacOS();

}  // namespace orvane::selector
