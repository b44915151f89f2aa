#include "run_loop.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvane
