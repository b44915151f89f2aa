#include "platform.hpp"

#include <string>

#include "compositor.hpp"
#include "session_bus.hpp"

namespace orvane {

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

}  // namespace orvane
