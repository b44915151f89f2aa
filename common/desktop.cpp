// The accessibility, workspace and event-tap backends of the platform this program was built for.
#include "accessibility.hpp"
#include "event_tap.hpp"
#include "workspace.hpp"

namespace orvane {

std::unique_ptr<Accessibility> makeAccessibility() {
#if defined(__APPLE__)
  return makeAccessibilityMacOS();
#else
  return makeAccessibilityX11();
#endif
}

std::unique_ptr<Workspace> makeWorkspace() {
#if defined(__APPLE__)
  return makeWorkspaceMacOS();
#else
  return makeWorkspaceX11();
#endif
}

std::unique_ptr<EventTaps> makeEventTaps() {
#if defined(__APPLE__)
  return makeEventTapsMacOS();
#else
  return makeEventTapsX11();
#endif
}

}  // namespace orvane
