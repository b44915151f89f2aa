// What the pill's and the bubble's layout need from a platform: the size a label takes.
// Sizes are in points. Called on the main thread.
#pragma once

#include <string>

namespace orvane::selector {

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

// NSFontWeightMedium and NSFontWeightSemibold of the system font.
enum class FontWeight { medium, semibold };

// The system font at a size in points (macOS: systemFontOfSize:weight:; elsewhere the
// desktop's sans-serif font at the same point size and the nearest weight).
struct Font {
  double size = 13;
  FontWeight weight = FontWeight::medium;
  bool operator==(const Font&) const = default;
};

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;

  // The fitted size of a one-line label showing `text` (labelWithString: then sizeToFit):
  // the text's width and the line's height, unrounded.
  virtual Size labelSize(const std::string& text, Font font) = 0;

  // The size a wrapping label (wrappingLabelWithString:) asks for when it may be at most
  // `widthLimit` wide and as high as it likes (sizeThatFits: with the largest finite height):
  // the widest wrapped line and the height of all lines.
  virtual Size wrappedLabelSize(const std::string& text, Font font, double widthLimit) = 0;
};

}  // namespace orvane::selector
