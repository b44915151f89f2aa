#include "output.hpp"

#include <unistd.h>

#include <cerrno>

namespace orvane {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void StandardOutput::writeOut(std::string_view bytes) { writeAll(STDOUT_FILENO, bytes); }
void StandardOutput::writeErr(std::string_view bytes) { writeAll(STDERR_FILENO, bytes); }

}  // namespace orvane
