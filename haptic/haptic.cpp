#include "haptic.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane::haptic {

HapticPattern patternForLine(std::string_view line) {
  if (line == "generic") return HapticPattern::generic;
  if (line == "level-change") return HapticPattern::levelChange;
  return HapticPattern::alignment;
}

bool LineReader::fill() {
  if (ended_) return false;
  for (;;) {
    const ssize_t n = ::read(fd_, chunk_, sizeof chunk_);
    if (n > 0) {
      begin_ = 0;
      end_ = static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    ended_ = true;
    return false;
  }
}

std::optional<std::string> LineReader::next() {
  // One byte more than any name is enough to tell, and one more again for a "\r" before "\n".
  constexpr std::size_t kLimit = kKeptBytes + 2;
  std::string line;
  bool overlong = false;
  bool any = false;  // a byte of this line was read: even an empty last line counts
  bool ended = false;
  while (!ended) {
    if (begin_ == end_ && !fill()) break;
    any = true;
    const char* start = chunk_ + begin_;
    const std::size_t available = end_ - begin_;
    const void* found = std::memchr(start, '\n', available);
    const std::size_t take =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - start) : available;
    const std::size_t room = kLimit - line.size();
    if (take > room) overlong = true;
    line.append(start, std::min(take, room));
    begin_ += found ? take + 1 : take;
    if (found) {
      if (!overlong && !line.empty() && line.back() == '\r') line.pop_back();
      ended = true;
    }
  }
  if (!any) return std::nullopt;
  if (overlong || line.size() > kKeptBytes) line.resize(kKeptBytes + 1);
  return line;
}

int run(int inputFd, HapticPerformer& performer) {
  LineReader reader(inputFd);
  while (auto line = reader.next()) performer.perform(patternForLine(*line), PerformanceTime::now);
  return 0;
}

}  // namespace orvane::haptic
