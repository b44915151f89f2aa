// The Wayland side of the AT-SPI accessibility backend (accessibility_atspi.cpp). Applications
// publish the same tree on the accessibility bus as on X11; the display publishes no bus
// address of its own, so the session bus names it. AT-SPI's screen coordinates are taken as
// layout points: a Wayland client does not know where its surfaces are, so what it answers is
// at best that, and no tool reads element frames here (there are no event taps to ask about).
#include "accessibility_atspi.hpp"
#include "compositor.hpp"

namespace orvane {

std::unique_ptr<Accessibility> makeAccessibilityWayland() {
  // Without the compositor there is no desktop: the backend reads nothing.
  if (!sharedCompositor().ok()) return makeAccessibilityAtspi({});
  AtspiDesktopSide side;
  side.pixelsToPoints = [](const Rect& pixels) { return pixels; };
  side.pointsToPixels = [](Point points) { return points; };
  side.makeWindowServer = [] { return makeWindowServer(); };
  return makeAccessibilityAtspi(std::move(side));
}

}  // namespace orvane
