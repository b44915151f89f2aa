#include "line_writer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

namespace orvane {
namespace {

const json::Value kLine = json::Object{
    {"type", "url"}, {"url", "https://a.b/c"}, {"atUnixMs", std::int64_t{1700000000000}},
    {"bounds", json::Object{{"y", 2.5}, {"x", -1}}}};
const char* kBytes =
    "{\"atUnixMs\":1700000000000,\"bounds\":{\"x\":-1,\"y\":2.5},\"type\":\"url\","
    "\"url\":\"https:\\/\\/a.b\\/c\"}";

TEST(LineWriter, SerialisesSortedCompactWithEscapedSlashes) {
  EXPECT_EQ(serializeLine(kLine), kBytes);
  EXPECT_FALSE(serializeLine(json::Object{{"x", std::numeric_limits<double>::infinity()}}));
}

TEST(LineWriter, DirectFormIsTwoWritesAndDropsWhatCannotBeWritten) {
  CapturedOutput out;
  EXPECT_TRUE(emitDirect(out, kLine));
  EXPECT_EQ(out.out, std::string(kBytes) + "\n");
  EXPECT_EQ(out.outWrites, 2);
  EXPECT_FALSE(emitDirect(out, json::Object{{"x", std::numeric_limits<double>::quiet_NaN()}}));
  EXPECT_EQ(out.outWrites, 2);
}

TEST(LineWriter, QueuedFormKeepsOrderWithOneWritePerLine) {
  CapturedOutput out;
  {
    auto queue = makeThreadWriteQueue(out);
    for (int i = 0; i < 200; ++i) {
      emit(*queue, json::Object{{"n", i}});
      if (i == 100) emit(*queue, json::Object{{"bad", std::numeric_limits<double>::infinity()}});
    }
  }  // the queue writes what is left before it goes
  std::string expected;
  for (int i = 0; i < 200; ++i) expected += "{\"n\":" + std::to_string(i) + "}\n";
  EXPECT_EQ(out.out, expected);
  EXPECT_EQ(out.outWrites, 200);
}

TEST(LineWriter, ClockIsWallClockMilliseconds) {
  using namespace std::chrono;
  const auto before = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const auto now = nowUnixMs();
  const auto after = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  EXPECT_GE(now, before - 1);
  EXPECT_LE(now, after + 1);
}

}  // namespace
}  // namespace orvane
