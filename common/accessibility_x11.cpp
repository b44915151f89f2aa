// The X11 side of the AT-SPI accessibility backend (accessibility_atspi.cpp): the accessibility
// bus address the root window publishes, the root-window pixels AT-SPI counts screen
// coordinates in, and the X11 window server.
#include <memory>
#include <optional>
#include <string>

#include "accessibility_atspi.hpp"
#include "pixel_points_x11.hpp"
#include "x11_util.hpp"

namespace orvane {
namespace {

// Shared by the side's functions. The mapping uses the connection, so it is declared after it.
struct X11Side {
  x11::Connection conn;
  std::optional<x11::PointMapping> points;

  // The root window's AT_SPI_BUS, which libatspi reads before asking the session bus.
  std::optional<std::string> busAddress() {
    auto atom = conn.intern({"AT_SPI_BUS"}, true);
    if (atom.empty() || atom[0] == XCB_ATOM_NONE) return std::nullopt;
    auto property = x11::takeProperty(
        conn.get(), x11::requestProperty(conn.get(), conn.root(), atom[0], XCB_ATOM_STRING));
    if (!property || property->format != 8 || property->bytes.empty()) return std::nullopt;
    return std::move(property->bytes);
  }
};

}  // namespace

std::unique_ptr<Accessibility> makeAccessibilityX11() {
  auto x = std::make_shared<X11Side>();
  // Without the display there is no desktop: the backend reads nothing.
  if (!x->conn.ok()) return makeAccessibilityAtspi({});
  x->points.emplace(x->conn.get(), x->conn.root());
  AtspiDesktopSide side;
  side.publishedBusAddress = [x] { return x->busAddress(); };
  side.pixelsToPoints = [x](const Rect& pixels) { return x->points->toPoints(pixels); };
  side.pointsToPixels = [x](Point points) { return x->points->toPixels(points); };
  side.makeWindowServer = [] { return makeWindowServerX11(); };
  return makeAccessibilityAtspi(std::move(side));
}

}  // namespace orvane
