// The Wayland backend's pieces that need no compositor: which display number an output takes,
// and the window server that answers the pointer the overlays saw.
#include <gtest/gtest.h>

#include "desktop_wayland.hpp"
#include "hit_testing.hpp"
#include "window_server_fake.hpp"

namespace orvane::selector::wayland {
namespace {

TEST(OutputDisplayId, IsTheDisplayWithTheOutputsBoundsAndElseStableAndNeverZero) {
  const std::vector<std::pair<DisplayId, Rect>> displays = {{71, {0, 0, 1280, 720}},
                                                            {92, {1280, 0, 400, 300}}};
  EXPECT_EQ(displayIdForOutput({1280, 0, 400, 300}, "HEADLESS-2", displays), 92u);
  // Layout coordinates are whole points; the window server's may carry rounding.
  EXPECT_EQ(displayIdForOutput({0.25, 0, 1280, 720.25}, "HEADLESS-1", displays), 71u);
  // No display of that size there: a number of the name, the same on every run.
  const DisplayId a = displayIdForOutput({1280, 0, 400, 301}, "HEADLESS-2", displays);
  EXPECT_NE(a, 92u);
  EXPECT_NE(a, 0u);
  EXPECT_EQ(a, displayIdForOutput({0, 0, 1, 1}, "HEADLESS-2", {}));
  EXPECT_NE(a, displayIdForOutput({0, 0, 1, 1}, "HEADLESS-3", {}));
  EXPECT_NE(displayIdForOutput({0, 0, 1, 1}, "", {}), 0u);
}

TEST(SelectorWindowServer, AnswersThePointerTheOverlaysSawAndPassesTheRestThrough) {
  auto* fake = new FakeWindowServer;
  fake->displays = {{5, {0, 0, 1280, 720}}, {6, {1280, 0, 400, 300}}};
  fake->cursor = Point{1, 1};
  auto shared =
      std::make_shared<SharedState>([fake] { return std::unique_ptr<WindowServer>(fake); });
  auto server = makeSelectorWindowServer(shared);
  // Before the pointer has been over an overlay: the compositor's own answer.
  ASSERT_TRUE(server->cursorLocation());
  EXPECT_EQ(server->cursorLocation()->x, 1);
  shared->pointer = Point{1300.5, 20};
  EXPECT_EQ(server->cursorLocation()->x, 1300.5);
  EXPECT_EQ(server->cursorLocation()->y, 20);
  EXPECT_EQ(displayUnderCursor(*server), 6u);
  EXPECT_EQ(server->mainDisplayId(), 5u);
}

TEST(SelectorWindowServer, IsMadeOnFirstUseOnly) {
  int made = 0;
  auto shared = std::make_shared<SharedState>([&made] {
    ++made;
    return std::unique_ptr<WindowServer>(new FakeWindowServer);
  });
  auto server = makeSelectorWindowServer(shared);
  EXPECT_EQ(made, 0);
  server->activeDisplayCount();
  server->activeDisplayCount();
  EXPECT_EQ(made, 1);
}

}  // namespace
}  // namespace orvane::selector::wayland
