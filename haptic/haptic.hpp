// orvane-haptic: plays the feedback pattern named on each line of standard input.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "haptic_performer.hpp"

namespace orvane::haptic {

// "generic" and "level-change" exactly; every other line, the empty one included, is alignment.
HapticPattern patternForLine(std::string_view line);

// Lines of a file descriptor, each without its line break ("\n", or "\r\n"); a last line
// without one still counts. A read error ends the input like end-of-file.
//
// Only the first `kKeptBytes` bytes of a line are kept: no pattern name is that long, so a
// longer line plays alignment whatever follows, and memory stays flat however long a line is.
class LineReader {
 public:
  static constexpr std::size_t kKeptBytes = 64;

  explicit LineReader(int fd) : fd_(fd) {}
  // The next line, cut to its first kKeptBytes + 1 bytes when longer (so it still compares
  // unequal to every name); nothing at the end of the input.
  std::optional<std::string> next();

 private:
  bool fill();

  int fd_;
  char chunk_[4096];
  std::size_t begin_ = 0, end_ = 0;
  bool ended_ = false;
};

// Plays every line of `inputFd` in order until its end; the exit status, always 0.
int run(int inputFd, HapticPerformer& performer);

}  // namespace orvane::haptic
