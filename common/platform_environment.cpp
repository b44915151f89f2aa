// The platform choice for this process: its environment read (sway's socket, the session
// bus's compositors), and the choice made once.
#include "platform.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session_bus.hpp"
#if defined(ORVANE_WAYLAND)
#include "compositor_kwin.hpp"
#endif
#include "text.hpp"

extern char** environ;

namespace orvane {
namespace {

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

#if !defined(__APPLE__)
// Finding sway is a Linux matter; macOS has neither SOCK_CLOEXEC nor pipe2.

// Whether a compositor listens on `path`. Only asked, never waited for: a listener whose queue
// is full (a compositor that is busy, or stopped) refuses a non-blocking connect with EAGAIN
// but is there all the same, and the backend's own deadlines tell whether it answers.
bool socketAnswers(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  int result;
  do {
    result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  const bool ok = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
  close(fd);
  return ok;
}

// `sway --get-socketpath`: how sway's own tools find it when SWAYSOCK is not set. It answers
// at once from its environment; one that does not within a second is ended.
std::optional<std::string> askSwayForSocket() {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char program[] = "sway";
  char option[] = "--get-socketpath";
  char* arguments[] = {program, option, nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "sway", &actions, nullptr, arguments, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  if (spawned == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    bool ended = false;  // the output is complete
    while (text.size() <= 4096) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{out[0], POLLIN, 0};
      const int n = poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::array<char, 512> buffer{};
      const ssize_t got = read(out[0], buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ended = true;
        break;
      }
      text.append(buffer.data(), static_cast<std::size_t>(got));
    }
    if (!ended) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) text.clear();
  }
  close(out[0]);
  text = std::string(trimmed(text, TrimSet::kWhitespaceAndNewlines));
  if (text.empty()) return std::nullopt;
  return text;
}
#endif

}  // namespace

PlatformEnvironment readPlatformEnvironment() {
  PlatformEnvironment environment;
  environment.forced = environmentValue("ORVANE_PLATFORM");
  environment.waylandSession = environmentValue("WAYLAND_DISPLAY").has_value();
  bool wantsIpc = environment.waylandSession;
  if (environment.forced) wantsIpc = *environment.forced == platformName(PlatformId::wayland);
#if !defined(__APPLE__)
  if (wantsIpc) {
    if (auto sock = environmentValue("SWAYSOCK"); sock && socketAnswers(*sock))
      environment.compositorIpc = sock;
  }
#if defined(ORVANE_WAYLAND)
  if (wantsIpc && !environment.compositorIpc) {
    // KWin's adapter loads its script in the probe's round trip: on KWin, the tools pay one
    // round trip fewer.
    const SessionBusPresence present = probeCompositorBus();
    environment.gnomeShell = present.gnomeShell;
    environment.gnomeShellExtension = present.gnomeShellExtension;
    environment.kwin = present.kwin;
  }
#endif
  // Asking sway's program costs a process (a third of a one-shot tool's time): only when no
  // other compositor is on the session bus.
  if (wantsIpc && !environment.compositorIpc && !environment.gnomeShell && !environment.kwin) {
    if (auto asked = askSwayForSocket(); asked && socketAnswers(*asked))
      environment.compositorIpc = asked;
  }
#else
  (void)wantsIpc;
#endif
  return environment;
}

const PlatformChoice& currentPlatform() {
  static const PlatformChoice choice = [] {
    PlatformChoice c = choosePlatform(readPlatformEnvironment(), builtPlatforms());
    if (!c.problem.empty()) std::fprintf(stderr, "%s\n", c.problem.c_str());
    return c;
  }();
  return choice;
}

}  // namespace orvane
