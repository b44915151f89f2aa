#include "window_record.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "window_server_fake.hpp"

namespace orvane {
namespace {

TEST(TypedReaders, MissingOtherKindOrInexactReadsAsNothing) {
  const WindowRecord r{{"i", 7},      {"neg", -1},           {"d", 7.0},
                       {"frac", 7.5}, {"big", 4294967296.0}, {"s", "text"},
                       {"b", true},   {"nan", std::nan("")}, {"huge", 1e19}};
  EXPECT_EQ(readInt64(r, "i"), 7);
  EXPECT_EQ(readInt64(r, "d"), 7);  // a whole double is exact
  EXPECT_FALSE(readInt64(r, "frac"));
  EXPECT_FALSE(readInt64(r, "nan"));
  EXPECT_FALSE(readInt64(r, "huge"));
  EXPECT_FALSE(readInt64(r, "missing"));
  EXPECT_FALSE(readInt64(r, "s"));
  EXPECT_FALSE(readInt64(r, "b"));
  EXPECT_EQ(readUInt32(r, "i"), 7u);
  EXPECT_FALSE(readUInt32(r, "neg"));
  EXPECT_FALSE(readUInt32(r, "big"));
  EXPECT_EQ(readInt32(r, "neg"), -1);
  EXPECT_FALSE(readInt32(r, "big"));
  EXPECT_EQ(readDouble(r, "i"), 7.0);
  EXPECT_EQ(readDouble(r, "frac"), 7.5);
  EXPECT_FALSE(readDouble(r, "s"));
  EXPECT_EQ(readBool(r, "b"), true);
  EXPECT_FALSE(readBool(r, "i"));  // a number is not a boolean
  EXPECT_EQ(readString(r, "s"), "text");
  EXPECT_FALSE(readString(r, "i"));
  EXPECT_EQ(readDictionary(r, "s"), nullptr);
}

TEST(RectFromDictionary, NeedsAllFourNumbers) {
  EXPECT_EQ(rectFromDictionary(Dictionary{{"X", 1}, {"Y", 2.5}, {"Width", 30}, {"Height", 40}}),
            (Rect{1, 2.5, 30, 40}));
  EXPECT_FALSE(rectFromDictionary(Dictionary{{"X", 1}, {"Y", 2}, {"Width", 3}}));
  EXPECT_FALSE(rectFromDictionary(Dictionary{{"X", 1}, {"Y", 2}, {"Width", 3}, {"Height", "4"}}));
  EXPECT_FALSE(rectFromDictionary(RecordValue("not a dictionary")));
  EXPECT_EQ(rectFromDictionary(dictionaryFromRect({-144.5, 0, 900, 700})),
            (Rect{-144.5, 0, 900, 700}));
}

TEST(Geometry, EdgesAndOverlap) {
  const Rect r{10, 20, 100, 50};
  EXPECT_TRUE(containsPoint(r, {10, 20}));                         // left and top edges inside
  EXPECT_FALSE(containsPoint(r, {110, 30}));                       // right edge outside
  EXPECT_FALSE(containsPoint(r, {50, 70}));                        // bottom edge outside
  EXPECT_TRUE(containsPoint(Rect{110, 70, -100, -50}, {10, 20}));  // negative size
  EXPECT_EQ(intersectionArea(r, Rect{60, 20, 100, 50}), 50 * 50);
  EXPECT_EQ(intersectionArea(r, Rect{110, 20, 10, 10}), 0);  // touching only
  EXPECT_EQ(intersectionArea(r, Rect{500, 500, 10, 10}), 0);
}

TEST(Snapshot, OnlyAListOfDictionariesCounts) {
  EXPECT_FALSE(recordsOf(std::nullopt));
  EXPECT_FALSE(recordsOf(std::vector<RecordValue>{Dictionary{}, RecordValue(3)}));
  auto ok = recordsOf(std::vector<RecordValue>{Dictionary{{"a", 1}}, Dictionary{}});
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->size(), 2u);
}

TEST(Snapshot, ActiveDisplayListAsksCountThenIds) {
  FakeWindowServer server;
  EXPECT_TRUE(activeDisplayList(server).empty());
  server.displays = {{5, {0, 0, 100, 100}}, {9, {100, 0, 100, 100}}};
  EXPECT_EQ(activeDisplayList(server), (std::vector<DisplayId>{5, 9}));
}

}  // namespace
}  // namespace orvane
