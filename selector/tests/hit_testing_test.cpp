#include "hit_testing.hpp"

#include <gtest/gtest.h>

#include "window_server_fake.hpp"

namespace orvane::selector {
namespace {

Dictionary window(std::int64_t id, Rect bounds = {0, 0, 400, 300}) {
  return {{std::string(kCGWindowNumber), id},
          {std::string(kCGWindowLayer), 0},
          {std::string(kCGWindowOwnerPID), 50},
          {std::string(kCGWindowOwnerName), "Notes"},
          {std::string(kCGWindowName), "List"},
          {std::string(kCGWindowBounds), dictionaryFromRect(bounds)}};
}

Dictionary set(Dictionary d, std::string_view key, std::optional<RecordValue> v) {
  std::erase_if(d, [&](const auto& e) { return e.first == key; });
  if (v) d.emplace_back(std::string(key), std::move(*v));
  return d;
}

struct HitTesting : ::testing::Test {
  FakeWindowServer server;
  HitTesting() {
    server.displays = {{1, {0, 0, 1000, 800}}, {2, {1000, 0, 1000, 800}}};
    server.cursor = Point{100, 100};
  }
  std::optional<std::uint32_t> hit(const std::vector<Dictionary>& records,
                                   std::set<std::int32_t> pids = {},
                                   std::set<std::string> owners = {}) {
    server.windows = std::vector<RecordValue>(records.begin(), records.end());
    auto c = windowUnderCursor(server, pids, owners);
    return c ? std::optional(c->windowId) : std::nullopt;
  }
};

TEST_F(HitTesting, FirstOfferableWindowFromTheFront) {
  const auto back = window(9);
  EXPECT_EQ(hit({window(1), back}), 1u);
  // Windows in front that fail a test are looked through.
  EXPECT_EQ(hit({set(window(1), kCGWindowLayer, 3), back}), 9u);
  EXPECT_EQ(hit({set(window(1), kCGWindowLayer, std::nullopt), back}), 9u);
  EXPECT_EQ(hit({set(window(1), kCGWindowAlpha, 0.01), back}), 9u);
  EXPECT_EQ(hit({set(window(1), kCGWindowAlpha, 0.02), back}), 1u);
  EXPECT_EQ(hit({set(window(1), kCGWindowNumber, 0), back}), 9u);
  EXPECT_EQ(hit({set(window(1), kCGWindowNumber, std::nullopt), back}), 9u);
  EXPECT_EQ(hit({set(window(1), kCGWindowBounds, "x"), back}), 9u);
  EXPECT_EQ(hit({window(1, {0, 0, 31.5, 300}), back}), 9u);
  EXPECT_EQ(hit({window(1, {0, 0, 300, 31.5}), back}), 9u);
  EXPECT_EQ(hit({window(1, {400, 300, -400, -300}), back}), 1u);     // sizes taken as absolute
  EXPECT_EQ(hit({set(window(1), kCGWindowLayer, 0.5), back}), 9u);   // not an integer
  EXPECT_EQ(hit({set(window(1), kCGWindowNumber, 1.5), back}), 9u);  // not an integer
  EXPECT_EQ(hit({window(1, {100, 100, 32, 32}), back}), 1u);
  EXPECT_EQ(hit({window(1, {200, 200, 300, 300}), back}), 9u);  // not under the pointer
  // Wholly covered at the pointer by an offerable window: never the answer.
  EXPECT_EQ(hit({back, window(1)}), 9u);
  EXPECT_FALSE(hit({}));
}

TEST_F(HitTesting, ExclusionsAndDefaults) {
  const auto noPid = set(window(1), kCGWindowOwnerPID, std::nullopt);
  const auto noOwner = set(window(2), kCGWindowOwnerName, std::nullopt);
  EXPECT_EQ(hit({noPid}, {50}), 1u);
  EXPECT_FALSE(hit({noPid}, {-1}));
  EXPECT_EQ(hit({noOwner}, {}, {"Notes"}), 2u);
  EXPECT_FALSE(hit({noOwner}, {}, {""}));
  EXPECT_FALSE(hit({window(3)}, {}, {"Notes"}));
  EXPECT_EQ(hit({window(3)}, {}, {"notes"}), 3u);  // case-sensitive
  // Canonically equivalent names are the same name.
  EXPECT_FALSE(hit({set(window(5), kCGWindowOwnerName, "Caf\u00E9")}, {}, {"Cafe\u0301"}));
  EXPECT_EQ(hit({set(window(5), kCGWindowOwnerName, "Caf\u00E9")}, {}, {"Cafe"}), 5u);
  EXPECT_FALSE(hit({window(6)}, {50}));

  server.windows = std::vector<RecordValue>{
      set(set(window(4), kCGWindowOwnerPID, std::nullopt), kCGWindowName, std::nullopt)};
  auto c = windowUnderCursor(server, {}, {});
  ASSERT_TRUE(c);
  EXPECT_EQ(server.queries.back().options, 17u);
  EXPECT_EQ(server.queries.back().relativeToWindow, 0u);
  EXPECT_EQ(*c, (WindowCandidate{4, -1, "Notes", "", {0, 0, 400, 300}, 1}));
}

TEST_F(HitTesting, PointerEdgesAndFailures) {
  server.cursor = Point{0, 0};
  EXPECT_EQ(hit({window(1)}), 1u);  // left/top edge inside
  server.cursor = Point{400, 10};
  EXPECT_FALSE(hit({window(1)}));  // right edge outside
  server.cursor = Point{10, 300};
  EXPECT_FALSE(hit({window(1)}));  // bottom edge outside
  server.cursor = std::nullopt;
  EXPECT_FALSE(hit({window(1)}));
  server.cursor = Point{10, 10};
  server.windows = std::nullopt;
  EXPECT_FALSE(windowUnderCursor(server, {}, {}));
  server.windows = std::vector<RecordValue>{window(1), RecordValue(3)};  // not all dictionaries
  EXPECT_FALSE(windowUnderCursor(server, {}, {}));
}

TEST_F(HitTesting, DisplayMapping) {
  EXPECT_EQ(displayIdForWindow(server, {1000 - 40, 0, 100, 100}), 2u);  // 60 % on display 2
  EXPECT_EQ(displayIdForWindow(server, {950, 0, 100, 100}), 1u);        // equal split: first
  EXPECT_EQ(displayIdForWindow(server, {5000, 5000, 10, 10}), 1u);      // off every display
  EXPECT_EQ(displayIdForWindow(server, {1000, 0, 0, 100}), 1u);         // zero area
  server.displays = {{7, {0, 0, 1000, 800}}, {3, {-1000, 0, 1000, 800}}};
  EXPECT_EQ(displayIdForWindow(server, {-600, 0, 500, 100}), 3u);
  EXPECT_EQ(displayIdForWindow(server, {-50, 0, 100, 100}), 7u);  // tie: first in the list

  server.displays = {{1, {0, 0, 1000, 800}}, {2, {1000, 0, 1000, 800}}};
  server.cursor = Point{1000, 5};
  EXPECT_EQ(displayUnderCursor(server), 2u);  // the boundary belongs to the right display
  server.cursor = Point{999.5, 5};
  EXPECT_EQ(displayUnderCursor(server), 1u);
  server.cursor = Point{-5, -5};
  EXPECT_EQ(displayUnderCursor(server), 1u);
  server.cursor = std::nullopt;
  EXPECT_EQ(displayUnderCursor(server), 1u);
}

TEST_F(HitTesting, ScreenDisplayId) {
  EXPECT_EQ(screenDisplayId(server, {RecordValue(2), 2.0}), 2u);
  EXPECT_EQ(screenDisplayId(server, {std::nullopt, 1.0}), 1u);
  EXPECT_EQ(screenDisplayId(server, {RecordValue("2"), 1.0}), 1u);
}

}  // namespace
}  // namespace orvane::selector
