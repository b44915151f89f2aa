#include "line_writer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>

namespace orvane {
namespace {

const json::Value kLine = json::Object{{"type", "url"},
                                       {"url", "https://a.b/c"},
                                       {"atUnixMs", std::int64_t{1700000000000}},
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

// A reader that has stopped reading: every write waits until it reads again.
class StalledOutput final : public Output {
 public:
  std::string out;
  void writeOut(std::string_view bytes) override {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return reading_; });
    out.append(bytes);
  }
  void writeErr(std::string_view) override {}
  std::size_t written() {
    std::lock_guard lock(mutex_);
    return out.size();
  }
  void readAgain() {
    {
      std::lock_guard lock(mutex_);
      reading_ = true;
    }
    wake_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool reading_ = false;
};

TEST(LineWriter, QueueHeldByAStalledReaderDropsWhatDoesNotFitUntilItReadsAgain) {
  StalledOutput out;
  std::string expected;
  {
    auto queue = makeThreadWriteQueue(out, 100);
    for (int i = 0; i < 50; ++i) {
      char text[16];
      std::snprintf(text, sizeof text, "line %03d\n", i);  // 9 bytes
      queue->submit(text);
      if (i < 11) expected += text;  // the text being written counts until it is written
    }
    out.readAgain();
    // Room again once the reader reads: the next line is written after the kept ones.
    for (int tries = 0; tries < 5000 && out.written() < expected.size(); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    queue->submit("after\n");
  }
  EXPECT_EQ(out.out, expected + "after\n");
}

TEST(LineWriter, QueueRoomCountsWhatItTurnsAway) {
  QueueRoom room(10);
  EXPECT_TRUE(room.take(6));
  EXPECT_FALSE(room.take(5));
  EXPECT_TRUE(room.take(4));
  EXPECT_FALSE(room.take(1));
  EXPECT_FALSE(room.take(11));
  EXPECT_EQ(room.dropped(), 3u);
  room.give(6);
  EXPECT_EQ(room.queuedBytes(), 4u);
  EXPECT_TRUE(room.take(6));
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
