// The X11 side of the AT-SPI accessibility backend (accessibility_atspi.cpp): the accessibility
// bus address the root window publishes, the root-window pixels AT-SPI counts screen
// coordinates in, and the X11 window server, all through the process's X11 session.
#include <memory>
#include <optional>
#include <string>

#include "accessibility_atspi.hpp"
#include "x11_session.hpp"
#include "x11_util.hpp"

namespace orvane {

std::unique_ptr<Accessibility> makeAccessibilityX11() {
  x11::Session* session = x11::Session::get();
  // Without the display there is no desktop: the backend reads nothing.
  if (!session) {
    AtspiDesktopSide late;
    late.displayLate = true;
    return makeAccessibilityAtspi(std::move(late));
  }
  auto points = std::make_shared<x11::PointMapping>(*session);
  AtspiDesktopSide side;
  // The root window's AT_SPI_BUS, which libatspi reads before asking the session bus.
  side.publishedBusAddress = [session]() -> std::optional<std::string> {
    const auto atom = session->existingAtom("AT_SPI_BUS");
    if (atom == XCB_ATOM_NONE) return std::nullopt;
    auto* c = session->connection();
    auto property =
        x11::takeProperty(c, x11::requestProperty(c, session->root(), atom, XCB_ATOM_STRING));
    session->settle();
    if (!property || property->format != 8 || property->bytes.empty()) return std::nullopt;
    return std::move(property->bytes);
  };
  side.pixelsToPoints = [points](const Rect& pixels) { return points->toPoints(pixels); };
  side.pointsToPixels = [points](Point p) { return points->toPixels(p); };
  side.makeWindowServer = [] { return makeWindowServerX11(); };
  return makeAccessibilityAtspi(std::move(side));
}

}  // namespace orvane
