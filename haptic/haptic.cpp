#include "haptic.hpp"

#include <unistd.h>

#include <cerrno>

namespace orvane::haptic {

HapticPattern patternForLine(std::string_view line) {
  if (line == "generic") return HapticPattern::generic;
  if (line == "level-change") return HapticPattern::levelChange;
  return HapticPattern::alignment;
}

bool LineReader::fill() {
  if (ended_) return false;
  // Drop what was handed out already so the buffer holds one line at most.
  buffer_.erase(0, start_);
  start_ = 0;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    ended_ = true;
    return false;
  }
}

std::optional<std::string> LineReader::next() {
  std::size_t searched = start_;
  for (;;) {
    const std::size_t newline = buffer_.find('\n', searched);
    if (newline != std::string::npos) {
      std::size_t end = newline;
      if (end > start_ && buffer_[end - 1] == '\r') --end;
      std::string line = buffer_.substr(start_, end - start_);
      start_ = newline + 1;
      return line;
    }
    // Everything after start_ has been searched; fill() moves the line's start to 0.
    searched = buffer_.size() - start_;
    if (!fill()) break;
  }
  if (start_ >= buffer_.size()) return std::nullopt;
  std::string last = buffer_.substr(start_);
  start_ = buffer_.size();
  return last;
}

int run(int inputFd, HapticPerformer& performer) {
  LineReader reader(inputFd);
  while (auto line = reader.next()) performer.perform(patternForLine(*line), PerformanceTime::now);
  return 0;
}

}  // namespace orvane::haptic
