// Turns a screenshot into what text recognition reads best: dark text on white, enlarged when
// the text is small. Plain pixel buffers, so every decision can be tried on small images.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane::ocr {

// An 8-bit grey image as plain rows.
struct GrayImage {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;
  std::uint8_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

// Dark text on white: every panel mapped as a whole, whatever its shade and its text's
// polarity, with its contrast stretched so faint text comes out black; edges between panels
// of clearly different shades become thin black rules.
GrayImage normalised(const GrayImage& in);

// Bounding box of one dark connected component of a normalised image.
struct ComponentBox {
  int width = 0, height = 0;
};

// The height of most letters: the median height of the components, ignoring specks and
// rules; nothing when there are too few to tell.
std::optional<int> typicalGlyphHeight(std::vector<ComponentBox> components);

// How much to enlarge an image of `width` x `height` pixels whose letters are `glyphHeight`
// high (nothing: unknown): 1 when enlarging would not help, else at most kMaxScale and never
// past kMaxScaledPixels.
double enlargement(std::optional<int> glyphHeight, int width, int height);

}  // namespace orvane::ocr
