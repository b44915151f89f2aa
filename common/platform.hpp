// Which desktop platform this process talks to, chosen once at start-up (as GLFW 3.4 chooses
// between its X11 and Wayland backends). Every backend factory (`makeWindowServer()`,
// `makeAccessibility()`, …) asks `currentPlatform()` and builds that platform's backend; a
// factory per seam keeps a tool from linking the backends of seams it does not use.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvane {

enum class CompositorId;

enum class PlatformId { macOS, x11, wayland };

std::string_view platformName(PlatformId id);

// The backends compiled into this build, in the order they are tried: macOS alone on Apple;
// on Linux X11 first in the list of names, though a supported Wayland session is chosen
// before it (see choosePlatform).
std::span<const PlatformId> builtPlatforms();

// What the choice depends on, read from the process's environment.
struct PlatformEnvironment {
  std::optional<std::string> forced;         // ORVANE_PLATFORM
  bool waylandSession = false;               // WAYLAND_DISPLAY set and not empty
  std::optional<std::string> compositorIpc;  // the sway IPC socket, when one was found
  // What answers on the session bus (asked only inside a Wayland session without sway).
  bool gnomeShell = false;           // org.gnome.Shell
  bool gnomeShellExtension = false;  // our extension's interface
  bool kwin = false;                 // org.kde.KWin
};

struct PlatformChoice {
  PlatformId id = PlatformId::x11;
  // The sway IPC socket the Wayland backend talks to (empty for other platforms, and when
  // Wayland was forced without a compositor to talk to: the backend then cannot start).
  std::string compositorIpc;
  // The compositor adapter of a Wayland choice; none otherwise, and when Wayland was forced
  // without a compositor that answers.
  CompositorId compositor{};
  // A message for standard error when the environment asked for something this build cannot
  // do (an unknown ORVANE_PLATFORM), or when GNOME Shell runs without our extension; empty
  // otherwise.
  std::string problem;
};

// The rule, kept free of the environment so that it can be tested:
// - ORVANE_PLATFORM names a built backend: that one, whether or not it can start;
// - otherwise a Wayland session whose compositor has an adapter means Wayland: sway when its
//   IPC answers, then GNOME Shell when our extension answers, then KWin;
// - otherwise X11, which also serves unsupported Wayland compositors through XWayland (GNOME
//   Shell without our extension among them, with a line on how to enable it).
PlatformChoice choosePlatform(const PlatformEnvironment& environment,
                              std::span<const PlatformId> built);

// This process's environment (looking for sway's socket only inside a Wayland session).
PlatformEnvironment readPlatformEnvironment();

// The choice for this process, made on first use; the problem, if any, is written to
// standard error then, once.
const PlatformChoice& currentPlatform();

}  // namespace orvane
