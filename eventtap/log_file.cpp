#include "log_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "output.hpp"

namespace orvane::eventtap {
namespace {

std::string describe(const std::string& path, int error) {
  if (path.empty()) return std::strerror(error);
  return path + ": " + std::strerror(error);
}

// The directory part of a path as the system resolves it: "." for a bare name, "/" for a name
// in the root.
std::string directoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  const auto end = path.find_last_not_of('/', slash);
  if (end == std::string::npos) return "/";
  return path.substr(0, end + 1);
}

std::string nameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Flushes what was written to the file down to the storage device.
bool syncToDisk(int fd) {
#if defined(__APPLE__)
  // NOTE: fsync on macOS leaves the data in the drive's cache; F_FULLFSYNC flushes that too.
  // Some file systems refuse it, and then fsync is the best there is.
  if (::fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  return ::fsync(fd) == 0;
}

}  // namespace

std::string temporaryPathFor(const std::string& outputPath, std::string_view random) {
  std::string directory = directoryOf(outputPath);
  if (directory.back() != '/') directory += '/';
  // A name near the file system's limit of 255 bytes still leaves room for the additions;
  // it is cut between two UTF-8 sequences, which some file systems insist on.
  std::string name = nameOf(outputPath);
  constexpr std::size_t kLongestName = 200;
  if (name.size() > kLongestName) {
    std::size_t cut = kLongestName;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return directory + "." + name + "." + std::string(random) + ".tmp";
}

namespace {

std::string randomLetters() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::string out(12, 'x');
  for (char& c : out) c = kAlphabet[device() % (sizeof kAlphabet - 1)];
  return out;
}

constexpr int kNameAttempts = 100;

// A new file at a random name beside the log, as mkstemp makes one: never through an existing
// file or link. Returns the descriptor, or -1 with errno set.
int createNamed(const std::string& outputPath, std::string& temporary) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary = temporaryPathFor(outputPath, randomLetters());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

#if defined(O_TMPFILE)
// Gives the complete unnamed file its name: the log's own where there is no log yet (so a kill
// at any moment leaves either nothing or the whole log), else a random one beside it, for the
// rename that replaces the old log (`temporary` is then set). False with errno set.
bool linkUnnamed(int fd, const std::string& outputPath, std::string& temporary) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, outputPath.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return true;
  }
  if (errno != EEXIST) return false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary = temporaryPathFor(outputPath, randomLetters());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}
#endif

}  // namespace

std::optional<std::string> createDirectories(const std::string& path) {
  if (path.empty() || isDirectory(path)) return std::nullopt;
  // Every prefix that ends before a slash, then the whole path.
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty() && prefix.back() != '/' && ::mkdir(prefix.c_str(), 0777) != 0) {
      const int error = errno;
      if (error != EEXIST || !isDirectory(prefix)) {
        return describe(prefix, error == EEXIST ? ENOTDIR : error);
      }
    }
    if (end == std::string::npos) break;
  }
  return std::nullopt;
}

std::optional<std::string> writeEventLog(const std::string& outputPath, const EventLog& log,
                                         Staging staging) {
  if (!hasOnlyFiniteNumbers(log)) return "the log holds a number that is not finite";
  if (outputPath.empty()) return describe(outputPath, ENOENT);
  const std::string directory = directoryOf(outputPath);
  if (auto failure = createDirectories(directory)) return failure;
  // A directory at the path would make the rename fail after all the writing; and a path that
  // ends in a slash can only ever name a directory.
  if (outputPath.back() == '/' || isDirectory(outputPath)) return describe(outputPath, EISDIR);

  std::string temporary;  // empty while the file has no name
  int fd = -1;
#if defined(O_TMPFILE)
  if (staging == Staging::unnamedFirst) {
    fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    // NOTE: file systems without unnamed files answer EOPNOTSUPP (EISDIR on old kernels).
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return describe(directory, errno);
    }
  }
#else
  (void)staging;
#endif
  if (fd < 0) {
    fd = createNamed(outputPath, temporary);
    if (fd < 0) return describe(temporary, errno);
  }

  int error = 0;
  const auto result = encodeEventLog(log, [&](std::string_view bytes) {
    if (writeAll(fd, bytes)) return true;
    error = errno;
    return false;
  });
  if (result == EncodeResult::ok && !syncToDisk(fd)) error = errno;
#if defined(O_TMPFILE)
  // The document is whole and on the disk: only now does it get a name.
  if (result == EncodeResult::ok && error == 0 && temporary.empty() &&
      !linkUnnamed(fd, outputPath, temporary)) {
    // NOTE: naming an unnamed file goes through /proc, which a container may lack; the
    // document is then written again to a file named from the start.
    ::close(fd);
    return writeEventLog(outputPath, log, Staging::namedOnly);
  }
#endif
  if (::close(fd) != 0 && error == 0 && result == EncodeResult::ok) error = errno;
  if (result == EncodeResult::ok && error == 0 && !temporary.empty() &&
      ::rename(temporary.c_str(), outputPath.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
    return describe(outputPath, error);
  }
  if (result != EncodeResult::ok || error != 0) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    if (result == EncodeResult::nonFiniteNumber) return "the log holds a number that is not finite";
    return describe(temporary.empty() ? directory : temporary, error ? error : EIO);
  }

  // The rename is only durable once the directory is on disk too. The log is in place by now,
  // so a directory that cannot be flushed (some file systems refuse) is not reported.
  const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryFd >= 0) {
    syncToDisk(directoryFd);
    ::close(directoryFd);
  }
  return std::nullopt;
}

}  // namespace orvane::eventtap
