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

#include "compositor.hpp"
#include "session_bus.hpp"
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

std::string_view platformName(PlatformId id) {
  switch (id) {
    case PlatformId::macOS:
      return "macos";
    case PlatformId::x11:
      return "x11";
    case PlatformId::wayland:
      return "wayland";
  }
  return "";
}

std::span<const PlatformId> builtPlatforms() {
#if defined(__APPLE__)
  static constexpr PlatformId built[] = {PlatformId::macOS};
#elif defined(ORVANE_WAYLAND)
  static constexpr PlatformId built[] = {PlatformId::x11, PlatformId::wayland};
#else
  static constexpr PlatformId built[] = {PlatformId::x11};
#endif
  return built;
}

namespace {

// The adapter for a Wayland session, in the order they are tried.
CompositorId compositorOf(const PlatformEnvironment& environment) {
  if (environment.compositorIpc) return CompositorId::sway;
  if (environment.gnomeShell && environment.gnomeShellExtension) return CompositorId::gnomeShell;
  if (environment.kwin) return CompositorId::kwin;
  return CompositorId::none;
}

}  // namespace

PlatformChoice choosePlatform(const PlatformEnvironment& environment,
                              std::span<const PlatformId> built) {
  PlatformChoice choice;
  auto isBuilt = [&](PlatformId id) {
    for (PlatformId b : built)
      if (b == id) return true;
    return false;
  };
  auto chooseWayland = [&] {
    choice.id = PlatformId::wayland;
    choice.compositor = compositorOf(environment);
    if (choice.compositor == CompositorId::sway) choice.compositorIpc = *environment.compositorIpc;
  };
  if (environment.forced) {
    for (PlatformId id : built) {
      if (platformName(id) != *environment.forced) continue;
      choice.id = id;
      if (id == PlatformId::wayland) chooseWayland();
      return choice;
    }
    std::string names;
    for (PlatformId id : built) {
      if (!names.empty()) names += ", ";
      names += platformName(id);
    }
    choice.problem = "ORVANE_PLATFORM=" + *environment.forced +
                     " is not a platform of this build (" + names + "); choosing as if unset";
  }
  if (!built.empty()) choice.id = built.front();
  if (isBuilt(PlatformId::wayland) && environment.waylandSession) {
    if (compositorOf(environment) != CompositorId::none) {
      chooseWayland();
    } else if (environment.gnomeShell) {
      if (!choice.problem.empty()) choice.problem += "\n";
      choice.problem += std::string(
                            "GNOME Shell shows its windows to Orvane only through the "
                            "extension ") +
                        std::string(kGnomeShellExtensionUuid) +
                        "; enable it with `gnome-extensions enable " +
                        std::string(kGnomeShellExtensionUuid) +
                        "` and log in again. Until then only XWayland windows are seen.";
    }
  }
  return choice;
}

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
    const SessionBusPresence present = probeSessionBus();
    environment.gnomeShell = present.gnomeShell;
    environment.gnomeShellExtension = present.gnomeShellExtension;
    environment.kwin = present.kwin;
  }
#endif
  // Asking sway costs a process start (a tenth of a second): not when the session bus has
  // already named the compositor.
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
