// A text measurer for unit tests: every character (code point) advances half the font size,
// a line is the font size plus 4 high, and wrapping breaks at any character.
#pragma once

#include <cmath>

#include "text.hpp"
#include "text_measure.hpp"

namespace orvane::selector {

class FixedAdvanceMeasurer final : public TextMeasurer {
 public:
  static double advance(Font font) { return font.size / 2; }
  static double lineHeight(Font font) { return font.size + 4; }

  static std::size_t characters(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size();) {
      i += decodeUtf8(std::string_view(text).substr(i)).length;
      ++n;
    }
    return n;
  }

  Size labelSize(const std::string& text, Font font) override {
    return {static_cast<double>(characters(text)) * advance(font), lineHeight(font)};
  }

  Size wrappedLabelSize(const std::string& text, Font font, double widthLimit) override {
    const double n = static_cast<double>(characters(text));
    const double perLine = std::max(1.0, std::floor(widthLimit / advance(font)));
    const double lines = std::max(1.0, std::ceil(n / perLine));
    return {std::min(n, perLine) * advance(font), lines * lineHeight(font)};
  }
};

}  // namespace orvane::selector
