// The AT-SPI 2 accessibility backend, shared by the Linux desktops: X11 today, and any desktop
// whose applications publish the same AT-SPI tree. What differs between desktops is given to it
// as a small side of that desktop. Never included by a seam header.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "accessibility.hpp"
#include "window_record.hpp"
#include "window_server.hpp"

namespace orvane {

// What the AT-SPI backend asks of the desktop it runs on. Each function is called on the thread
// that made the backend.
struct AtspiDesktopSide {
  // The accessibility bus address the display itself publishes, which libatspi looks at before
  // the session bus (X11: the root window's AT_SPI_BUS); nothing when it publishes none, and an
  // empty function for a display that has no such place. Then the session bus's
  // org.a11y.Bus.GetAddress is asked.
  std::function<std::optional<std::string>()> publishedBusAddress;
  // AT-SPI screen coordinates (the display's pixels) to global points, and back.
  std::function<Rect(const Rect&)> pixelsToPoints;
  std::function<Point(Point)> pointsToPixels;
  // The window server that names the window under a point (WindowServer::ownerAt); made once, on
  // the first element-at-position query.
  std::function<std::unique_ptr<WindowServer>()> makeWindowServer;
  // Waits until the application with the input focus has handled the input the display sent
  // it before now: true once shown, false when not shown within the time; nothing where it
  // cannot be asked (may be empty).
  std::function<std::optional<bool>(std::chrono::milliseconds)> awaitInputHandled;
  // Set when the display did not answer when the side was made: nothing above is set then,
  // and a service made again later may find it.
  bool displayLate = false;

  // A side without the coordinate conversions is no desktop at all (the display could not be
  // reached): the backend then reads nothing and never calls libatspi.
  bool reachable() const { return pixelsToPoints && pointsToPixels && makeWindowServer; }
};

std::unique_ptr<Accessibility> makeAccessibilityAtspi(AtspiDesktopSide side);

}  // namespace orvane
