#include "haptic.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "haptic_performer_fake.hpp"

namespace orvane::haptic {
namespace {

using P = HapticPattern;

// Feeds `chunks` through a real pipe, one write each (with a pause between them when asked, so
// that the reader sees them in separate reads), and plays what arrives.
std::vector<P> play(const std::vector<std::string>& chunks, bool pause = false) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    for (const auto& chunk : chunks) {
      EXPECT_EQ(::write(fds[1], chunk.data(), chunk.size()), ssize_t(chunk.size()));
      if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::close(fds[1]);
  });
  FakeHapticPerformer performer;
  EXPECT_EQ(run(fds[0], performer), 0);
  writer.join();
  ::close(fds[0]);
  std::vector<P> patterns;
  for (const auto& [pattern, time] : performer.played) {
    EXPECT_EQ(time, PerformanceTime::now);
    patterns.push_back(pattern);
  }
  return patterns;
}

TEST(HapticPatternChoice, OnlyExactNamesSelectGenericAndLevelChange) {
  EXPECT_EQ(patternForLine("generic"), P::generic);
  EXPECT_EQ(patternForLine("level-change"), P::levelChange);
  for (const char* near :
       {"Generic", "GENERIC", "generic ", " generic", "generic\t", "level change", "level-change ",
        "levelChange", "alignment", "", "gener"}) {
    EXPECT_EQ(patternForLine(near), P::alignment) << '"' << near << '"';
  }
  EXPECT_EQ(patternForLine(std::string_view("generic\0", 8)), P::alignment);
}

TEST(HapticInput, PlaysEveryLineInOrderWithTimeNow) {
  EXPECT_EQ(play({"generic\nlevel-change\nwobble\n"}),
            (std::vector{P::generic, P::levelChange, P::alignment}));
}

TEST(HapticInput, NearMissesAndEmptyLinesPlayAlignment) {
  EXPECT_EQ(play({"Generic\ngeneric \n\nlevel-change\n\n"}),
            (std::vector{P::alignment, P::alignment, P::alignment, P::levelChange, P::alignment}));
}

TEST(HapticInput, LastLineWithoutLineBreakIsPlayed) {
  EXPECT_EQ(play({"alignment\ngeneric"}), (std::vector{P::alignment, P::generic}));
  EXPECT_EQ(play({"level-change"}), (std::vector{P::levelChange}));
}

TEST(HapticInput, EmptyInputPlaysNothing) {
  EXPECT_TRUE(play({}).empty());
  // A single line break is one empty line.
  EXPECT_EQ(play({"\n"}), (std::vector{P::alignment}));
}

TEST(HapticInput, CarriageReturnBeforeLineFeedBelongsToTheLineBreak) {
  EXPECT_EQ(play({"generic\r\nlevel-change\r\n\r\n"}),
            (std::vector{P::generic, P::levelChange, P::alignment}));
  // A carriage return elsewhere is part of the line.
  EXPECT_EQ(play({"generic\r"}), (std::vector{P::alignment}));
  EXPECT_EQ(play({"generic\r\r\n"}), (std::vector{P::alignment}));
}

TEST(HapticInput, LinesSplitAcrossReadsAreJoined) {
  EXPECT_EQ(play({"gen", "eric\nlevel", "-", "change", "\r", "\ngen", "eric"}, true),
            (std::vector{P::generic, P::levelChange, P::generic}));
}

TEST(HapticInput, LongBurstsKeepEveryLine) {
  // More than a pipe holds, and a line longer than one read.
  std::string input;
  std::vector<P> expected;
  for (int i = 0; i < 30000; ++i) {
    input += i % 3 == 0 ? "generic\n" : i % 3 == 1 ? "level-change\n" : "x\n";
    expected.push_back(i % 3 == 0 ? P::generic : i % 3 == 1 ? P::levelChange : P::alignment);
  }
  input += std::string(10000, 'g') + "\ngeneric";
  expected.push_back(P::alignment);
  expected.push_back(P::generic);
  EXPECT_EQ(play({input}), expected);
}

TEST(HapticInput, OverlongLinesPlayAlignmentAndAreNotKept) {
  // Names followed by more than the reader keeps, split across reads in every way.
  const std::string tail(LineReader::kKeptBytes * 3, 'x');
  EXPECT_EQ(play({"generic" + tail + "\ngeneric\n"}, true),
            (std::vector{P::alignment, P::generic}));
  EXPECT_EQ(play({"level-change" + tail + "\r\nlevel-change"}),
            (std::vector{P::alignment, P::levelChange}));
  // Exactly at the kept length, with and without "\r": still one line each.
  const std::string kept(LineReader::kKeptBytes, 'g');
  EXPECT_EQ(play({kept + "\r\n" + kept + "\n" + kept}),
            (std::vector{P::alignment, P::alignment, P::alignment}));
}

}  // namespace
}  // namespace orvane::haptic
