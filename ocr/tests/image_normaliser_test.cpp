#include "image_normaliser.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace orvane::ocr {
namespace {

GrayImage filled(int width, int height, std::uint8_t shade) {
  return {width, height, std::vector<std::uint8_t>(std::size_t(width) * height, shade)};
}

void paint(GrayImage& image, int x0, int y0, int x1, int y1, std::uint8_t shade) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) image.pixels[std::size_t(y) * image.width + x] = shade;
  }
}

// A "letter": a 2-pixel stroke in the middle of every 16-pixel tile of the area, a minority of
// each tile as text is.
void letters(GrayImage& image, int x0, int y0, int x1, int y1, std::uint8_t ink) {
  for (int ty = y0; ty < y1; ty += 16) {
    for (int tx = x0; tx < x1; tx += 16) paint(image, tx + 7, ty + 4, tx + 9, ty + 12, ink);
  }
}

TEST(ImageNormaliser, TextOfEitherPolarityBecomesBlackOnWhite) {
  for (const auto& [background, ink] :
       {std::pair<std::uint8_t, std::uint8_t>{240, 20}, {30, 230}, {128, 60}, {128, 200}}) {
    GrayImage image = filled(64, 64, background);
    letters(image, 0, 0, 64, 64, ink);
    const GrayImage out = normalised(image);
    ASSERT_EQ(out.width, 64);
    ASSERT_EQ(out.height, 64);
    EXPECT_EQ(out.at(8, 8), 0) << int(background) << " / " << int(ink);
    EXPECT_EQ(out.at(2, 2), 255) << int(background) << " / " << int(ink);
  }
}

TEST(ImageNormaliser, FaintTextIsStretchedToFullContrast) {
  GrayImage image = filled(64, 64, 200);
  letters(image, 0, 0, 64, 64, 150);  // 50 levels of contrast only
  const GrayImage out = normalised(image);
  EXPECT_EQ(out.at(8, 8), 0);
  EXPECT_EQ(out.at(0, 0), 255);
  // Noise below the ink threshold stays near white, it is not stretched into text.
  image.pixels[0] = 190;
  EXPECT_GT(normalised(image).at(0, 0), 200);
}

TEST(ImageNormaliser, SideBySidePanelsKeepTheirOwnPolarityAndAreRuledApart) {
  // Left: dark text on white; right: light text on a dark panel.
  GrayImage image = filled(128, 64, 245);
  paint(image, 64, 0, 128, 64, 25);
  letters(image, 0, 0, 64, 64, 15);
  letters(image, 64, 0, 128, 64, 235);
  const GrayImage out = normalised(image);
  EXPECT_EQ(out.at(8, 8), 0);
  EXPECT_EQ(out.at(72, 8), 0);
  EXPECT_EQ(out.at(2, 2), 255);
  EXPECT_EQ(out.at(100, 2), 255);
  // The edge between them is drawn where no text is near.
  EXPECT_EQ(out.at(63, 0), 0);
  EXPECT_EQ(out.at(63, 62), 0);
  EXPECT_EQ(out.at(60, 30), 255);
}

TEST(ImageNormaliser, FlatAndEmptyImages) {
  const GrayImage flat = normalised(filled(20, 7, 90));
  for (const std::uint8_t v : flat.pixels) EXPECT_EQ(v, 255);
  EXPECT_TRUE(normalised(filled(0, 0, 0)).pixels.empty());
}

TEST(GlyphHeight, MedianOfLetterSizedComponents) {
  EXPECT_EQ(typicalGlyphHeight({{5, 9}, {6, 10}, {4, 11}, {300, 2}, {2, 2}, {5, 400}}), 10);
  // Rules (wider than four heights) and specks do not count; too few letters tell nothing.
  EXPECT_EQ(typicalGlyphHeight({{5, 9}, {6, 10}, {100, 12}, {3, 3}}), std::nullopt);
  EXPECT_EQ(typicalGlyphHeight({}), std::nullopt);
}

TEST(Enlargement, SmallTextIsEnlargedWithinLimits) {
  EXPECT_DOUBLE_EQ(enlargement(10, 800, 600), 2.0);
  EXPECT_DOUBLE_EQ(enlargement(4, 800, 600), 4.0);  // at most four times
  // Text that is large enough, or only a little small, and unknown text size: as it is.
  EXPECT_DOUBLE_EQ(enlargement(20, 800, 600), 1.0);
  EXPECT_DOUBLE_EQ(enlargement(30, 800, 600), 1.0);
  EXPECT_DOUBLE_EQ(enlargement(18, 800, 600), 1.0);
  EXPECT_DOUBLE_EQ(enlargement(std::nullopt, 800, 600), 1.0);
  // A large screenshot stops where the enlarged image would pass 40 million pixels.
  EXPECT_NEAR(enlargement(5, 5000, 4000), std::sqrt(2.0), 1e-9);
  EXPECT_DOUBLE_EQ(enlargement(5, 8000, 6000), 1.0);
}

}  // namespace
}  // namespace orvane::ocr
