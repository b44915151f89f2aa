// The extension's report -> snapshot mapping: pixels to points on a scaled monitor, the
// primary monitor as origin, owner names and app ids of native and XWayland windows.
#include "gnome_shell_windows.hpp"

#include <gtest/gtest.h>

namespace orvane::gnome {
namespace {

std::optional<std::string> program(std::int64_t pid) { return "prog" + std::to_string(pid); }

// A 1280x800 monitor at scale 1, and a 2048x1536 one at scale 2 on its right, in the
// physical layout Mutter uses unless scale-monitor-framebuffer is on.
ShellState twoMonitors() {
  ShellState state;
  state.monitors = {{"Meta-0", {0, 0, 1280, 800}, 1}, {"Meta-1", {1280, 0, 2048, 1536}, 2}};
  return state;
}

TEST(GnomeShellWindows, PhysicalPixelsBecomePointsPerMonitor) {
  ShellState state = twoMonitors();
  Window w;
  w.number = 7;
  w.frame = {1280 + 200, 100, 800, 600};
  w.monitor = 1;
  state.windows = {w};
  const CompositorSnapshot s = snapshotOf(state, program);
  ASSERT_EQ(s.outputs.size(), 2u);
  EXPECT_EQ(s.outputs[1].bounds, (Rect{1280, 0, 1024, 768}));
  EXPECT_EQ(s.outputs[1].scale, 2);
  ASSERT_EQ(s.windows.size(), 1u);
  EXPECT_EQ(s.windows[0].frame, (Rect{1380, 50, 400, 300}));
  EXPECT_EQ(s.windows[0].output, s.outputs[1].id);

  // A logical layout is already in points.
  state.logicalLayout = true;
  state.monitors[1].pixels = {1280, 0, 1024, 768};
  state.windows[0].frame = {1380, 50, 400, 300};
  EXPECT_EQ(snapshotOf(state, program).windows[0].frame, (Rect{1380, 50, 400, 300}));
}

TEST(GnomeShellWindows, PrimaryMonitorIsTheOriginAndComesFirst) {
  ShellState state = twoMonitors();
  state.primary = 1;
  Window w;
  w.number = 3;
  w.frame = {10, 20, 100, 100};
  w.monitor = 0;
  state.windows = {w};
  const CompositorSnapshot s = snapshotOf(state, program);
  ASSERT_EQ(s.outputs.size(), 2u);
  EXPECT_EQ(s.outputs[0].name, "Meta-1");
  EXPECT_EQ(s.outputs[0].bounds, (Rect{0, 0, 1024, 768}));
  EXPECT_EQ(s.outputs[1].bounds, (Rect{-1280, 0, 1280, 800}));
  EXPECT_EQ(s.windows[0].frame, (Rect{-1270, 20, 100, 100}));
  EXPECT_NE(outputId("Meta-0", 0), outputId("Meta-1", 1));
  EXPECT_EQ(outputId("", 4), 5u);
}

TEST(GnomeShellWindows, NamesIdsAndFocus) {
  ShellState state = twoMonitors();
  Window named, bare, anonymous, x, unnumbered;
  named.number = 1;
  named.gtkApplicationId = "org.orvane.Fixture";
  named.wmClass = "fixture";
  named.appName = "Orvane Fixture";
  bare.number = 2;
  bare.wmClass = "org.orvane.Bare";
  anonymous.number = 3;
  anonymous.pid = 42;
  x.number = 4;
  x.xwayland = true;
  x.wmClass = "XFixture";
  x.appName = "Some Entry";
  unnumbered.title = "never listed";
  state.windows = {named, bare, anonymous, x, unnumbered};
  state.focused = 4;
  const CompositorSnapshot s = snapshotOf(state, program);
  ASSERT_EQ(s.windows.size(), 4u);
  EXPECT_EQ(s.windows[0].ownerName, "Orvane Fixture");
  EXPECT_EQ(s.windows[0].appId, "org.orvane.Fixture");
  EXPECT_EQ(s.windows[1].ownerName, "org.orvane.Bare");
  EXPECT_EQ(s.windows[2].ownerName, "prog42");
  EXPECT_EQ(s.windows[2].appId, std::nullopt);
  EXPECT_EQ(s.windows[3].ownerName, "XFixture");
  EXPECT_EQ(s.windows[3].appId, "xfixture");
  EXPECT_EQ(s.focused, 4u);
  // A focus on a window the list leaves out is no focus.
  state.focused = 99;
  EXPECT_EQ(snapshotOf(state, program).focused, std::nullopt);
}

TEST(GnomeShellWindows, UnusableMonitorsAreNoOutputs) {
  ShellState state = twoMonitors();
  state.monitors[1].scale = 0;
  state.monitors.push_back({"Meta-2", {0, 0, 0, 0}, 1});
  Window w;
  w.number = 5;
  w.monitor = 1;
  w.frame = {1300, 10, 50, 50};
  state.windows = {w};
  const CompositorSnapshot s = snapshotOf(state, program);
  ASSERT_EQ(s.outputs.size(), 1u);
  EXPECT_EQ(s.windows[0].frame, (Rect{1300, 10, 50, 50}));
  EXPECT_EQ(s.windows[0].output, std::nullopt);
}

}  // namespace
}  // namespace orvane::gnome
