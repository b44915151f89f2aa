// What the KWin script sends, read as a snapshot, and the numbers made from window UUIDs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "kwin_state.hpp"

namespace orvane::kwin {
namespace {

sway::OwnerNames programs() {
  return sway::OwnerNames({}, [](std::int64_t pid) { return "prog" + std::to_string(pid); });
}

TEST(KWinNumbers, StableAcrossSpellingsAndOrderAndNeverShared) {
  EXPECT_EQ(windowNumber("{B39E6B91-05E6-40C1-AE7B-68FB369B001B}"),
            windowNumber("b39e6b91-05e6-40c1-ae7b-68fb369b001b"));
  EXPECT_NE(windowNumber("b39e6b91-05e6-40c1-ae7b-68fb369b001b"), 0u);
  // These two share a hash: each process must still give each its own number, the same one.
  const std::string a = "{00000000-0000-4000-8000-00000004b9cc}";
  const std::string b = "{00000000-0000-4000-8000-0000000b2b18}";
  ASSERT_EQ(windowNumber(a), windowNumber(b));
  const auto forward = windowNumbers({a, b, "{11111111-0000-4000-8000-000000000000}"});
  const auto backward = windowNumbers({"{11111111-0000-4000-8000-000000000000}", b, a});
  EXPECT_NE(forward[0], forward[1]);
  EXPECT_EQ(forward[0], windowNumber(a));
  EXPECT_EQ(forward[0], backward[2]);
  EXPECT_EQ(forward[1], backward[1]);
  EXPECT_EQ(forward[2], backward[0]);
}

TEST(KWinState, ScreensWindowsOrderAndFocus) {
  const std::string json = R"({"desk": 1, "act": "{AAAA}", "screens": [[0, 0, 1280, 800],
      [1280, 0, 1280, 800]],
    "w": [
      {"id": "{aaaa}", "pid": 10, "rc": "named", "df": "named", "t": "Front",
       "g": [100, 50, 400, 300], "m": false, "d": 1, "a": false, "s": 0, "o": 5, "x": false},
      {"id": "{bbbb}", "pid": 11, "rc": "XFix", "df": "", "t": "X",
       "g": [1400, 60, 300, 200], "m": false, "d": -1, "a": true, "s": 1, "o": 7, "x": true},
      {"id": "{cccc}", "pid": 12, "rc": "plain", "df": "plain", "t": "Minimized",
       "g": [0, 0, 10, 10], "m": true, "d": 1, "a": false, "s": 0, "o": 9, "x": false},
      {"id": "{dddd}", "pid": 0, "rc": "", "df": "", "t": "Elsewhere",
       "g": [0, 0, 10, 10], "m": false, "d": 2, "a": false, "s": 0, "o": 1, "x": false},
      {"id": "{eeee}", "pid": 13, "rc": "selector", "df": "", "t": "",
       "g": [0, 0, 1280, 800], "m": false, "d": 1, "a": false, "s": 0, "o": 99, "x": false},
      "junk"
    ]})";
  const std::string dir = ::testing::TempDir() + "kwin-entries-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir + "/applications");
  std::ofstream(dir + "/applications/named.desktop")
      << "[Desktop Entry]\nName=Named App\nExec=true\n";
  sway::OwnerNames names({dir}, [](std::int64_t pid) { return "prog" + std::to_string(pid); });
  const auto state = parseState(json, names);
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(state);
  const CompositorSnapshot& s = state->snapshot;
  ASSERT_EQ(s.outputs.size(), 2u);
  EXPECT_EQ(s.outputs[0].bounds, (Rect{0, 0, 1280, 800}));
  EXPECT_EQ(s.outputs[1].bounds, (Rect{1280, 0, 1280, 800}));

  // Shown windows by stacking order, front first, then hidden ones; no layer-shell surface.
  std::vector<std::string> titles;
  for (const auto& w : s.windows) titles.push_back(w.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"X", "Front", "Minimized", "Elsewhere"}));
  const CompositorWindow& x = s.windows[0];
  const CompositorWindow& front = s.windows[1];
  EXPECT_TRUE(x.onScreen && front.onScreen);
  EXPECT_FALSE(s.windows[2].onScreen || s.windows[3].onScreen);
  EXPECT_EQ(x.frame, (Rect{1400, 60, 300, 200}));
  EXPECT_EQ(x.output, s.outputs[1].id);
  EXPECT_EQ(x.ownerName, "XFix");
  EXPECT_EQ(x.appId, "xfix");
  EXPECT_TRUE(x.xwayland);
  EXPECT_EQ(front.ownerName, "Named App");
  EXPECT_EQ(front.appId, "named");
  EXPECT_EQ(front.pid, 10);
  EXPECT_FALSE(s.windows[3].pid);
  EXPECT_EQ(s.focused, front.id);
  EXPECT_EQ(front.id, windowNumber("aaaa"));
  ASSERT_EQ(state->uuids.size(), 4u);
  EXPECT_EQ(state->uuids[1].uuid, "{aaaa}");
  EXPECT_EQ(state->uuids[1].number, front.id);
}

TEST(KWinState, OutputScalesFromWaylandFollowTheirScreens) {
  EXPECT_EQ(outputScale(2560, 1600, 0, 1280, 800, 2), 2.0);
  EXPECT_EQ(outputScale(1920, 1080, 0, 1536, 864, 2), 1.25);  // fractional: wl_output says 2
  EXPECT_EQ(outputScale(1080, 1920, 1, 1536, 864, 2), 1.25);  // a quarter turn
  EXPECT_EQ(outputScale(0, 0, 0, 0, 0, 3), 3.0);              // no logical size
  EXPECT_EQ(outputScale(0, 0, 0, 0, 0, 0), 1.0);

  auto names = programs();
  // The main screen is KWin's second; the other one's logical rect moved (origin kept).
  const std::string json =
      R"({"screens": [[640, 0, 640, 400], [0, 0, 1280, 800], [0, 800, 100, 100]], "w": []})";
  const auto state =
      parseState(json, names, {{Rect{0, 0, 1280, 800}, 1.5}, {Rect{640, 0, 1280, 800}, 2}});
  ASSERT_TRUE(state);
  const auto& outputs = state->snapshot.outputs;
  ASSERT_EQ(outputs.size(), 3u);
  EXPECT_EQ(outputs[0].scale, 1.5);
  EXPECT_EQ(outputs[1].scale, 2.0);
  EXPECT_EQ(outputs[2].scale, 1.0);
  EXPECT_EQ(state->screens[0], (Rect{640, 0, 640, 400}));
}

TEST(KWinState, MalformedMessagesAreNotSnapshots) {
  auto names = programs();
  for (const char* text : {"", "[]", "{\"w\": []}", "{\"screens\": [[0, 0, 1]], \"w\": []}",
                           "{\"screens\": [], \"w\": {}}", "{\"screens\": [], \"w\": [}"}) {
    EXPECT_FALSE(parseState(text, names)) << text;
  }
  const auto empty = parseState(R"({"screens": [], "w": []})", names);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->snapshot.windows.empty());
  EXPECT_FALSE(empty->snapshot.focused);
}

}  // namespace
}  // namespace orvane::kwin
