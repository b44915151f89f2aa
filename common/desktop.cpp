// The accessibility, workspace and event-tap backends of the platform chosen for this process.
#include "accessibility.hpp"
#include "event_tap.hpp"
#include "platform.hpp"
#include "workspace.hpp"

namespace orvane {

std::unique_ptr<Accessibility> makeAccessibility() {
#if defined(__APPLE__)
  return makeAccessibilityMacOS();
#else
  switch (currentPlatform().id) {
    case PlatformId::wayland:
      return makeAccessibilityWayland();
    case PlatformId::x11:
    default:
      return makeAccessibilityX11();
  }
#endif
}

std::unique_ptr<Workspace> makeWorkspace() {
#if defined(__APPLE__)
  return makeWorkspaceMacOS();
#else
  switch (currentPlatform().id) {
    case PlatformId::wayland:
      return makeWorkspaceWayland();
    case PlatformId::x11:
    default:
      return makeWorkspaceX11();
  }
#endif
}

std::unique_ptr<EventTaps> makeEventTaps() {
#if defined(__APPLE__)
  return makeEventTapsMacOS();
#else
  switch (currentPlatform().id) {
    case PlatformId::wayland:
      return makeEventTapsWayland();
    case PlatformId::x11:
    default:
      return makeEventTapsX11();
  }
#endif
}

}  // namespace orvane
