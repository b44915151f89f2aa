#include "run_loop.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

std::vector<std::string> split(const std::vector<std::string>& chunks, bool finish = true) {
  std::vector<std::string> lines;
  LineSplitter splitter([&](const std::string& line) { lines.push_back(line); });
  for (const auto& c : chunks) splitter.feed(c.data(), c.size());
  if (finish) splitter.finish();
  return lines;
}

using Lines = std::vector<std::string>;

TEST(LineSplitter, LinesAcrossChunksWithTheirBreaksRemoved) {
  EXPECT_EQ(split({"acti", "vate\nx\r\n\n", "activate"}), (Lines{"activate", "x", "", "activate"}));
  EXPECT_EQ(split({"activate"}, false), Lines{});  // not a line until its break or the end
  EXPECT_EQ(split({" activate \r\r\n"}), Lines{" activate \r"});
  EXPECT_EQ(split({std::string("a\0b\n", 4)}), Lines{std::string("a\0b", 3)});
}

TEST(LineSplitter, OverlongLinesAreSkippedWhole) {
  const std::string longest(RunLoop::kMaxInputLine, 'a');
  const std::string tooLong(RunLoop::kMaxInputLine + 1, 'a');
  EXPECT_EQ(split({longest + "\r\n", "ok\n"}), (Lines{longest, "ok"}));
  EXPECT_EQ(split({tooLong + "\n", "ok\n"}), Lines{"ok"});
  // Arriving in pieces, and with "activate" at the start of the long line.
  EXPECT_EQ(split({"activate", std::string(3000, 'x'), std::string(3000, 'x'), "\nactivate\n"}),
            Lines{"activate"});
  EXPECT_EQ(split({tooLong}), Lines{});
}

TEST(EarlyStopSignals, AStopHeldBackAtStartUpIsKeptAndReported) {
  sigset_t stops, previous;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  EXPECT_FALSE(EarlyStopSignals().stoppedEarly());

  kill(getpid(), SIGTERM);
  ASSERT_TRUE(stopSignalWaiting());
  const EarlyStopSignals early;
  // Still waiting: a handler that only notes it does not discard it, as SIG_IGN would.
  EXPECT_TRUE(stopSignalWaiting());
  EXPECT_TRUE(early.stoppedEarly());
  // Let through, it reaches the handler instead of ending the process, and is still known.
  pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  EXPECT_FALSE(stopSignalWaiting());
  EXPECT_TRUE(early.stoppedEarly());

  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
}

}  // namespace
}  // namespace orvane
