#include <gtest/gtest.h>

#include "pointer_history_x11.hpp"

namespace orvane::x11 {
namespace {

std::pair<int, int> xy(std::optional<RootPixel> p) {
  return p ? std::pair<int, int>{p->x, p->y} : std::pair<int, int>{-1, -1};
}

TEST(PointerHistory, EachRawEventTakesTheNextRecordedOneOfItsKeyOrButton) {
  PointerHistory h;
  EXPECT_FALSE(h.match(XCB_BUTTON_PRESS, 1));
  // Clicks at three places within one millisecond, a key between them, and key code 1 as
  // a button number: matched by kind and detail, in order.
  h.add(XCB_BUTTON_PRESS, 1, {10, 10});
  h.add(XCB_BUTTON_RELEASE, 1, {10, 10});
  h.add(XCB_KEY_PRESS, 1, {15, 15});
  h.add(XCB_BUTTON_PRESS, 1, {20, 20});
  h.add(XCB_BUTTON_RELEASE, 1, {20, 20});
  h.add(XCB_BUTTON_PRESS, 1, {30, 30});
  EXPECT_EQ(xy(h.match(XCB_BUTTON_PRESS, 1)), std::make_pair(10, 10));
  EXPECT_EQ(xy(h.match(XCB_BUTTON_RELEASE, 1)), std::make_pair(10, 10));
  // The next release had no raw event handed on: the press after it still finds its own.
  EXPECT_EQ(xy(h.match(XCB_BUTTON_PRESS, 1)), std::make_pair(20, 20));
  EXPECT_EQ(xy(h.match(XCB_BUTTON_PRESS, 1)), std::make_pair(30, 30));
  EXPECT_EQ(h.size(), 1u);  // the key press stays for its own raw event
  EXPECT_EQ(xy(h.match(XCB_KEY_PRESS, 1)), std::make_pair(15, 15));
  EXPECT_FALSE(h.match(XCB_BUTTON_PRESS, 1));
}

TEST(PointerHistory, RepeatsOfAHeldKeyAreSkippedAndTheHistoryStaysBounded) {
  PointerHistory h;
  h.add(XCB_KEY_PRESS, 38, {1, 1});
  h.add(XCB_KEY_PRESS, 38, {2, 2});  // repeats: no raw event
  h.add(XCB_KEY_PRESS, 38, {3, 3});
  h.add(XCB_KEY_RELEASE, 38, {4, 4});
  h.add(XCB_KEY_PRESS, 38, {5, 5});
  EXPECT_EQ(xy(h.match(XCB_KEY_PRESS, 38)), std::make_pair(1, 1));
  EXPECT_EQ(xy(h.match(XCB_KEY_RELEASE, 38)), std::make_pair(4, 4));
  EXPECT_EQ(xy(h.match(XCB_KEY_PRESS, 38)), std::make_pair(5, 5));

  PointerHistory full;
  for (std::size_t i = 0; i < PointerHistory::kLimit + 100; ++i) {
    full.add(XCB_KEY_PRESS, static_cast<std::uint8_t>(i), {static_cast<std::int16_t>(i), 0});
  }
  EXPECT_EQ(full.size(), PointerHistory::kLimit);
}

}  // namespace
}  // namespace orvane::x11
