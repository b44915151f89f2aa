#include "damage.hpp"

#include <gtest/gtest.h>

namespace orvane::selector {
namespace {

bool same(const Rect& a, const Rect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

TEST(DamagedPixels, FlipsRoundsOutwardsAndClips) {
  // An overlay 100 x 50 points at scale 2: 200 x 100 pixels.
  auto pixels = damagedPixels({{10.25, 5.5, 20, 10}}, false, 50, 2, 200, 100);
  ASSERT_EQ(pixels.size(), 1u);
  // y up to y down: the top edge is 50 - (5.5 + 10) = 34.5 points, 69 pixels.
  EXPECT_TRUE(same(pixels[0], {20, 69, 41, 20}));
  // Half outside on the left and the top; fully outside; empty.
  pixels =
      damagedPixels({{-5, 45, 10, 10}, {150, 0, 10, 10}, {3, 3, 0, 4}}, false, 50, 2, 200, 100);
  ASSERT_EQ(pixels.size(), 1u);
  EXPECT_TRUE(same(pixels[0], {0, 0, 10, 10}));
  // A fractional scale still covers every touched pixel.
  pixels = damagedPixels({{1, 1, 1, 1}}, false, 10, 1.5, 15, 15);
  ASSERT_EQ(pixels.size(), 1u);
  EXPECT_TRUE(same(pixels[0], {1, 12, 2, 2}));
}

TEST(DamagedPixels, AFirstPaintOrNoRectangleCoversTheOverlay) {
  EXPECT_TRUE(same(damagedPixels({{1, 1, 1, 1}}, true, 50, 2, 200, 100)[0], {0, 0, 200, 100}));
  EXPECT_TRUE(same(damagedPixels({}, false, 50, 2, 200, 100)[0], {0, 0, 200, 100}));
  EXPECT_TRUE(damagedPixels({}, true, 50, 2, 0, 100).empty());
}

}  // namespace
}  // namespace orvane::selector
