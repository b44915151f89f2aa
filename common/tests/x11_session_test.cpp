#include <gtest/gtest.h>

#include "x11_session.hpp"

namespace orvane::x11 {
namespace {

Property wmClass(std::string bytes, xcb_atom_t type = XCB_ATOM_STRING, std::uint8_t format = 8) {
  return {type, format, std::move(bytes)};
}

// A 2x display to the right of and below a primary monitor that does not start at the root's
// origin: every tool counts from the primary monitor's top-left, in points.
TEST(X11Layout, PixelsAndPointsCountFromThePrimaryMonitorAtTheScale) {
  Layout layout;
  layout.scale = 2;
  layout.monitors = {{7, Rect{200, 100, 1920, 1080}, true},
                     {8, Rect{2120, 100, 1280, 1024}, false}};
  const Point p = layout.toPoints(200, 100);
  EXPECT_DOUBLE_EQ(p.x, 0);
  EXPECT_DOUBLE_EQ(p.y, 0);
  const Rect second = layout.toPoints(layout.monitors[1].pixels);
  EXPECT_DOUBLE_EQ(second.x, 960);
  EXPECT_DOUBLE_EQ(second.y, 0);
  EXPECT_DOUBLE_EQ(second.width, 640);
  EXPECT_DOUBLE_EQ(second.height, 512);
  // Left of and above the primary monitor is negative; back to pixels is exact.
  const Point left = layout.toPoints(100, 50);
  EXPECT_DOUBLE_EQ(left.x, -50);
  EXPECT_DOUBLE_EQ(left.y, -25);
  const Point back = layout.toPixels(left);
  EXPECT_DOUBLE_EQ(back.x, 100);
  EXPECT_DOUBLE_EQ(back.y, 50);
}

TEST(X11Layout, WithoutMonitorsTheRootOriginAndScaleStand) {
  Layout layout;
  layout.scale = 1.5;
  const Rect r = layout.toPoints(Rect{30, 60, 300, 150});
  EXPECT_DOUBLE_EQ(r.x, 20);
  EXPECT_DOUBLE_EQ(r.y, 40);
  EXPECT_DOUBLE_EQ(r.width, 200);
  EXPECT_DOUBLE_EQ(r.height, 100);
}

TEST(X11WmClass, TheClassNameIsTheSecondStringInUtf8) {
  EXPECT_EQ(wmClassName(wmClass(std::string("gedit\0Gedit\0", 12))), "Gedit");
  // Without its final NUL, as some clients set it.
  EXPECT_EQ(wmClassName(wmClass(std::string("xterm\0XTerm", 11))), "XTerm");
  // STRING is ISO 8859-1.
  EXPECT_EQ(wmClassName(wmClass(std::string("a\0Caf\xe9\0", 7))), "Caf\xc3\xa9");
}

TEST(X11WmClass, NoClassWhenThePropertyHasNone) {
  EXPECT_FALSE(wmClassName(std::nullopt));
  EXPECT_FALSE(wmClassName(wmClass("instance-only")));
  EXPECT_FALSE(wmClassName(wmClass(std::string("instance\0", 9))));
  EXPECT_FALSE(wmClassName(wmClass(std::string("a\0B\0", 4), XCB_ATOM_ATOM)));
  EXPECT_FALSE(wmClassName(wmClass(std::string("a\0B\0", 4), XCB_ATOM_STRING, 32)));
}

}  // namespace
}  // namespace orvane::x11
