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
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  std::optional<std::string> next();

 private:
  bool fill();

  int fd_;
  std::string buffer_;
  std::size_t start_ = 0;
  bool ended_ = false;
};

// Plays every line of `inputFd` in order until its end; the exit status, always 0.
int run(int inputFd, HapticPerformer& performer);

}  // namespace orvane::haptic
