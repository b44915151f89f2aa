#include <gtest/gtest.h>

#include "pointer_history_x11.hpp"

namespace orvane::x11 {
namespace {

std::pair<int, int> xy(std::optional<RootPixel> p) {
  return p ? std::pair<int, int>{p->x, p->y} : std::pair<int, int>{-1, -1};
}

TEST(PointerHistory, EachTimeGetsTheLatestPositionAtOrBeforeIt) {
  PointerHistory h;
  EXPECT_FALSE(h.at(100));
  EXPECT_FALSE(h.reaches(100));
  h.add(100, {10, 20});  // moved
  h.add(130, {40, 50});  // moved, pressed and released at the same moment
  h.add(130, {40, 50});
  h.add(130, {40, 50});
  h.add(160, {70, 80});
  EXPECT_TRUE(h.reaches(130));
  EXPECT_FALSE(h.reaches(161));
  EXPECT_FALSE(h.at(99));  // older than anything seen: the caller asks the server instead
  EXPECT_EQ(xy(h.at(100)), std::make_pair(10, 20));
  EXPECT_EQ(xy(h.at(129)), std::make_pair(10, 20));
  EXPECT_EQ(xy(h.at(130)), std::make_pair(40, 50));
  EXPECT_EQ(xy(h.at(500)), std::make_pair(70, 80));
}

TEST(PointerHistory, ForgetsWhatNoLaterEventCanNeedAndStaysBounded) {
  PointerHistory h;
  for (std::uint32_t t = 0; t < 10; ++t) h.add(t * 10, {static_cast<std::int16_t>(t), 0});
  EXPECT_EQ(xy(h.at(45)), std::make_pair(4, 0));
  EXPECT_EQ(h.size(), 6u);  // the answer stays: the next event may be as old
  EXPECT_EQ(xy(h.at(45)), std::make_pair(4, 0));

  PointerHistory full;
  for (std::uint32_t t = 0; t < PointerHistory::kLimit + 100; ++t) full.add(t, {1, 1});
  EXPECT_EQ(full.size(), PointerHistory::kLimit);
  EXPECT_FALSE(full.at(50));
}

TEST(PointerHistory, ServerTimeWrapsAround) {
  PointerHistory h;
  h.add(0xFFFFFFF0u, {1, 1});
  h.add(5, {2, 2});  // 21 ms later, after the wrap
  EXPECT_TRUE(h.reaches(0xFFFFFFFFu));
  EXPECT_EQ(xy(h.at(0xFFFFFFFFu)), std::make_pair(1, 1));
  EXPECT_EQ(xy(h.at(6)), std::make_pair(2, 2));
}

}  // namespace
}  // namespace orvane::x11
