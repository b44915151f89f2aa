#include "log_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

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

namespace {

constexpr std::size_t kRandomLength = 12;
constexpr std::string_view kTemporarySuffix = ".tmp";

// The temporary file's name without the random part: "." and the log's name, shortened to
// leave room for the additions near the file system's limit of 255 bytes, cut between two
// UTF-8 sequences, which some file systems insist on.
std::string temporaryPrefixFor(const std::string& outputPath) {
  std::string name = nameOf(outputPath);
  constexpr std::size_t kLongestName = 200;
  if (name.size() > kLongestName) {
    std::size_t cut = kLongestName;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return "." + name + ".";
}

bool isLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string temporaryPathFor(const std::string& outputPath, std::string_view random) {
  std::string directory = directoryOf(outputPath);
  if (directory.back() != '/') directory += '/';
  return directory + temporaryPrefixFor(outputPath) + std::string(random) +
         std::string(kTemporarySuffix);
}

int removeStaleCopies(const std::string& outputPath) {
  if (outputPath.empty() || outputPath.back() == '/') return 0;
  const std::string directory = directoryOf(outputPath);
  const std::string prefix = temporaryPrefixFor(outputPath);
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* listing = ::fdopendir(::dup(dirFd));
  if (!listing) {
    ::close(dirFd);
    return 0;
  }
  std::vector<std::string> candidates;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kRandomLength + kTemporarySuffix.size() ||
        name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) {
      continue;
    }
    const std::string_view random = name.substr(prefix.size(), kRandomLength);
    if (std::all_of(random.begin(), random.end(), isLetterOrDigit)) {
      candidates.emplace_back(name);
    }
  }
  ::closedir(listing);
  int removed = 0;
  for (const std::string& name : candidates) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held;
    struct stat named;
    // A live writer holds the lock for as long as the name exists; a file that has become the
    // log since it was opened no longer has the name, and is left alone.
    const bool stale = ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
                       held.st_uid == ::geteuid() && (held.st_mode & 07777 & ~0600) == 0 &&
                       held.st_nlink == 1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                       ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                       named.st_dev == held.st_dev && named.st_ino == held.st_ino;
    if (stale && ::unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
    ::close(fd);
  }
  ::close(dirFd);
  return removed;
}

namespace {

std::string randomLetters() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::string out(kRandomLength, 'x');
  for (char& c : out) c = kAlphabet[device() % (sizeof kAlphabet - 1)];
  return out;
}

constexpr int kNameAttempts = 100;

// The writer's lock on its temporary file, taken before the file has a name and held until it
// has become the log or is gone. Where the file system has no locks, the file still gets
// written; only a stale copy of it cannot be told from a live one.
void lockWhileNamed(int fd) { ::flock(fd, LOCK_EX); }

// A new file at a random name beside the log, as mkstemp makes one: never through an existing
// file or link, and locked. Returns the descriptor, or -1 with errno set.
int createNamed(const std::string& outputPath, std::string& temporary) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary = temporaryPathFor(outputPath, randomLetters());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return fd;
    lockWhileNamed(fd);
    // Between the creation and the lock, a recording starting on the same log may have taken
    // the file for a stale copy and removed it.
    struct stat held;
    struct stat named;
    if (::fstat(fd, &held) == 0 && ::lstat(temporary.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return fd;
    }
    ::close(fd);
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
    if (fd >= 0) lockWhileNamed(fd);
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
  // The descriptor, and with it the lock, stays open until the temporary name is gone. The
  // document reached the disk already, so closing it can fail no write.
  if (result == EncodeResult::ok && error == 0 && !temporary.empty() &&
      ::rename(temporary.c_str(), outputPath.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
    ::close(fd);
    return describe(outputPath, error);
  }
  if (result != EncodeResult::ok || error != 0) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    ::close(fd);
    if (result == EncodeResult::nonFiniteNumber) return "the log holds a number that is not finite";
    return describe(temporary.empty() ? directory : temporary, error ? error : EIO);
  }
  ::close(fd);

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
