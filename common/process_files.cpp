#include "process_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "json.hpp"

namespace orvane {

std::string readFilePrefix(const std::string& path, std::size_t limit) {
  std::string text;
  // Opening a FIFO would wait for a writer, and reading a device may never end: only regular
  // files are read, and the open itself never waits.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return text;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return text;
  }
  char buffer[4096];
  while (text.size() < limit) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (text.size() > limit) text.resize(limit);
  return text;
}

std::optional<std::string> programName(std::int64_t pid) {
  if (pid <= 0) return std::nullopt;
  // readlink itself: the library's read_symlink would stat the link first, on every poll.
  char target[4096];
  const ssize_t length =
      ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof target) {
    std::string_view path(target, static_cast<std::size_t>(length));
    std::string name(path.substr(path.rfind('/') + 1));
    constexpr std::string_view kDeleted = " (deleted)";
    if (name.size() > kDeleted.size() && name.ends_with(kDeleted))
      name.resize(name.size() - kDeleted.size());
    if (!name.empty()) return json::sanitizeUtf8(name);
  }
  std::string comm = readFilePrefix("/proc/" + std::to_string(pid) + "/comm", 4096);
  if (const auto end = comm.find('\n'); end != std::string::npos) comm.resize(end);
  if (!comm.empty()) return json::sanitizeUtf8(comm);
  return std::nullopt;
}

}  // namespace orvane
