// The tree -> records mapping, on a tree captured from a real headless sway: two outputs (the
// second at scale 2), a floating window, a tabbed container holding an XWayland window, a
// hidden workspace and a scratchpad window.
#include "sway_windows.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvane::sway {
namespace {

std::string capturedTree() {
  std::ifstream in(std::string(ORVANE_TEST_DATA) + "/sway_tree.json");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

OwnerNames noEntries() {
  return OwnerNames({}, [](std::int64_t pid) { return "prog" + std::to_string(pid); });
}

std::vector<std::int64_t> ids(const std::vector<RecordValue>& records) {
  std::vector<std::int64_t> out;
  for (const auto& r : records) {
    out.push_back(readInt64(std::get<Dictionary>(r.data), kCGWindowNumber).value_or(-1));
  }
  return out;
}

TEST(SwayTree, CapturedTreeReadsIntoNodes) {
  const auto tree = parseTree(capturedTree());
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->type, "root");
  ASSERT_EQ(tree->nodes.size(), 3u);  // the scratchpad's output and two real ones
  const SwayNode& second = tree->nodes[2];
  EXPECT_EQ(second.name, "HEADLESS-2");
  EXPECT_TRUE(second.active);
  EXPECT_EQ(second.scale, 2);
  EXPECT_EQ(second.make, "headless");
  EXPECT_EQ(second.rect, (SwayRect{1280, 0, 512, 384}));
  const SwayNode& tabbed = tree->nodes[1].nodes[0].nodes[0];
  EXPECT_FALSE(tabbed.view());
  EXPECT_EQ(tabbed.focus, (std::vector<std::int64_t>{16, 9, 11, 7}));
  const SwayNode& x = tabbed.nodes[2];
  EXPECT_TRUE(x.view());
  EXPECT_EQ(x.shell, "xwayland");
  EXPECT_EQ(x.windowClass, "XFix");
  EXPECT_FALSE(x.appId);  // null in the JSON
  EXPECT_EQ(x.decoRect.height, 25);
}

TEST(SwayTree, ViewsFrontToBackAndOnScreen) {
  const auto tree = parseTree(capturedTree());
  ASSERT_TRUE(tree);
  std::vector<std::pair<std::int64_t, bool>> got;
  for (const auto& v : viewsOf(*tree)) got.emplace_back(v.node->id, v.onScreen);
  // Focused output first; on its visible workspace the floating window above the tiled ones,
  // these in the tabbed container's focus order (only the shown tab is visible); then the
  // hidden workspace, the other output, and the scratchpad last.
  const std::vector<std::pair<std::int64_t, bool>> expected = {{8, true},   {16, true}, {9, false},
                                                               {11, false}, {7, false}, {14, false},
                                                               {15, true},  {12, false}};
  EXPECT_EQ(got, expected);
}

TEST(SwayTree, RecordsCarryEveryKeyAsOnX11) {
  const auto tree = parseTree(capturedTree());
  ASSERT_TRUE(tree);
  auto names = noEntries();
  const auto all = windowInfo(*tree, 0, 0, names);
  EXPECT_EQ(ids(all), (std::vector<std::int64_t>{8, 16, 9, 11, 7, 14, 15, 12}));
  const auto onScreen = windowInfo(*tree, kOnScreenSnapshot, 0, names);
  EXPECT_EQ(ids(onScreen), (std::vector<std::int64_t>{8, 16, 15}));

  const auto& floating = std::get<Dictionary>(onScreen[0].data);
  std::vector<std::string> keys;
  for (const auto& [k, v] : floating) keys.push_back(k);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"kCGWindowNumber", "kCGWindowLayer", "kCGWindowBounds",
                                      "kCGWindowAlpha", "kCGWindowOwnerPID", "kCGWindowOwnerName",
                                      "kCGWindowName", "kCGWindowIsOnscreen"}));
  EXPECT_EQ(readInt64(floating, kCGWindowLayer), 0);
  EXPECT_EQ(readDouble(floating, kCGWindowAlpha), 1.0);
  EXPECT_EQ(readInt64(floating, kCGWindowOwnerPID), 9062);
  EXPECT_EQ(readString(floating, kCGWindowName), "Floating");
  // The title bar above `rect` belongs to the window.
  EXPECT_EQ(rectFromDictionary(*find(floating, kCGWindowBounds)), (Rect{100, 80, 640, 720}));
  // XWayland: WM_CLASS class; native: app_id without a desktop entry.
  EXPECT_EQ(readString(std::get<Dictionary>(onScreen[1].data), kCGWindowOwnerName), "XFix");
  const auto& second = std::get<Dictionary>(onScreen[2].data);
  EXPECT_EQ(readString(second, kCGWindowOwnerName), "foot");
  EXPECT_EQ(rectFromDictionary(*find(second, kCGWindowBounds)), (Rect{1280, 0, 512, 384}));

  // One window, on screen or not; a window that is not there gives an empty list.
  const auto hidden = windowInfo(*tree, kSingleWindowSnapshot, 14, names);
  ASSERT_EQ(ids(hidden), (std::vector<std::int64_t>{14}));
  EXPECT_EQ(readBool(std::get<Dictionary>(hidden[0].data), kCGWindowIsOnscreen), false);
  EXPECT_TRUE(windowInfo(*tree, kSingleWindowSnapshot, 4, names).empty());  // a workspace
  EXPECT_TRUE(windowInfo(*tree, kSingleWindowSnapshot, 0, names).empty());
}

TEST(SwayTree, DisplaysMainFirstWithStableDistinctIds) {
  const auto tree = parseTree(capturedTree());
  ASSERT_TRUE(tree);
  const auto displays = displaysOf(*tree);
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_EQ(displays[0].name, "HEADLESS-1");
  EXPECT_EQ(displays[0].bounds, (Rect{0, 0, 1280, 720}));
  EXPECT_EQ(displays[1].bounds, (Rect{1280, 0, 512, 384}));
  EXPECT_EQ(displays[1].scale, 2);
  // Headless outputs have neither serial nor distinct make and model: the name tells them
  // apart, and the same output gets the same id on every run.
  EXPECT_NE(displays[0].id, displays[1].id);
  EXPECT_EQ(displays[0].id, displayId("headless", "headless", "", "HEADLESS-1", true));
  EXPECT_EQ(displayId("headless", "headless", "", "HEADLESS-1", true), 1596515684u);
  // With a serial, the name does not matter (a connector change keeps the id).
  EXPECT_EQ(displayId("Dell", "U2720Q", "ABC", "DP-1", false),
            displayId("Dell", "U2720Q", "ABC", "DP-2", false));
  // The fields cannot run into one another.
  EXPECT_NE(displayId("ab", "c", "", "", false), displayId("a", "bc", "", "", false));
}

TEST(SwayTree, MainDisplayIsTheOutputAtTheLayoutOrigin) {
  auto tree = [](const char* firstRect, const char* secondRect, const char* serial) {
    return std::string(R"({"id":1,"type":"root","focus":[2,3],"nodes":[)") +
           R"({"id":2,"type":"output","name":"DP-1","active":true,"make":"M","model":"X","serial":")" +
           serial + R"(","scale":1.5,"rect":)" + firstRect +
           R"(,"focus":[4],"nodes":[{"id":4,"type":"workspace","focus":[5],"nodes":[)"
           R"({"id":5,"type":"con","pid":42,"app_id":"a","name":"w","visible":true,)"
           R"("rect":{"x":1930,"y":30,"width":100,"height":100},)"
           R"("deco_rect":{"x":0,"y":0,"width":100,"height":20}}]}]},)"
           R"({"id":3,"type":"output","name":"DP-2","active":true,"make":"M","model":"X","serial":")" +
           serial + R"(","rect":)" + secondRect + R"(}]})";
  };
  auto names = noEntries();
  {  // The output at (0,0) is main even when listed second; windows count from it.
    const auto root = parseTree(tree(R"({"x":1920,"y":0,"width":1280,"height":720})",
                                     R"({"x":0,"y":0,"width":1920,"height":1080})", "S1"));
    ASSERT_TRUE(root);
    const auto displays = displaysOf(*root);
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].name, "DP-2");
    EXPECT_EQ(displays[1].scale, 1.5);
    // Same make, model and serial on both: the names keep them apart.
    EXPECT_NE(displays[0].id, displays[1].id);
  }
  {  // None at (0,0): the first output is main, and the origin moves with it.
    const auto root = parseTree(tree(R"({"x":1920,"y":10,"width":1280,"height":720})",
                                     R"({"x":-1920,"y":0,"width":1920,"height":1080})", "S1"));
    ASSERT_TRUE(root);
    const auto displays = displaysOf(*root);
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].name, "DP-1");
    EXPECT_EQ(displays[1].bounds, (Rect{-3840, -10, 1920, 1080}));
    const auto records = windowInfo(*root, kOnScreenSnapshot, 0, names);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(rectFromDictionary(*find(std::get<Dictionary>(records[0].data), kCGWindowBounds)),
              (Rect{10, 0, 100, 120}));
  }
}

TEST(SwayTree, DesktopEntryNames) {
  EXPECT_EQ(desktopEntryName("[Desktop Entry]\nType=Application\nName[de]=Fuß\nName = "
                             "Foot\\sTerminal\r\nGenericName=Terminal\n"),
            "Foot Terminal");
  // Only the main group counts; an entry without a name has none.
  EXPECT_EQ(desktopEntryName("[Desktop Action new]\nName=New Window\n[Desktop Entry]\nExec=x\n"),
            std::nullopt);
  EXPECT_EQ(desktopEntryName("[Desktop Entry]\nNameX=Wrong\n[Other]\nName=Wrong\n"), std::nullopt);
  EXPECT_EQ(desktopEntryName(""), std::nullopt);
  EXPECT_EQ(desktopEntryName("[Desktop Entry]\nName=" + std::string(1 << 20, 'n')),
            std::string(kMaxTextCharacters, 'n'));

  // Looked up per app_id on the data directories in order; the app_id is never a path.
  const auto dir =
      std::filesystem::temp_directory_path() / ("orvane-sway-names-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "first/applications");
  std::filesystem::create_directories(dir / "second/applications");
  std::ofstream(dir / "first/applications/org.example.App.desktop")
      << "[Desktop Entry]\nName=Example App\n";
  std::ofstream(dir / "second/applications/org.example.App.desktop")
      << "[Desktop Entry]\nName=Shadowed\n";
  std::ofstream(dir / "second/applications/secret.desktop") << "[Desktop Entry]\nName=Secret\n";
  // A FIFO would wait for a writer for ever: only regular files are read.
  ASSERT_EQ(::mkfifo((dir / "first/applications/org.example.Fifo.desktop").c_str(), 0644), 0);
  OwnerNames names({(dir / "first").string(), (dir / "second").string()},
                   [](std::int64_t) { return std::optional<std::string>("program"); });
  SwayNode view;
  view.pid = 7;
  view.shell = "xdg_shell";
  view.appId = "org.example.App";
  EXPECT_EQ(names.ownerName(view), "Example App");
  view.appId = "org.example.Fifo";
  EXPECT_EQ(names.ownerName(view), "org.example.Fifo");
  view.appId = "../second/applications/secret";
  EXPECT_EQ(names.ownerName(view), "../second/applications/secret");
  view.appId = "";
  EXPECT_EQ(names.ownerName(view), "program");
  view.shell = "xwayland";
  view.windowClass = "Xterm";
  view.appId = "org.example.App";  // XWayland windows go by their class
  EXPECT_EQ(names.ownerName(view), "Xterm");
  std::filesystem::remove_all(dir);
}

TEST(SwayTree, MalformedInputGivesNothingOrDefaults) {
  EXPECT_FALSE(parseTree(""));
  EXPECT_FALSE(parseTree("[1,2]"));
  EXPECT_FALSE(parseTree(R"({"id":1,"nodes":[)"));
  // Wrong types read as absent; ids beyond 32 bits and 0 are no window numbers.
  const auto odd = parseTree(
      R"({"id":"x","type":7,"focus":[1,"a"],"nodes":[{"type":"output","name":"O","active":true,)"
      R"("rect":{"x":0,"y":0,"width":10,"height":10},"nodes":[{"type":"workspace","nodes":[)"
      R"({"id":4294967296,"type":"con","pid":1,"visible":true},{"id":0,"type":"con","pid":1},)"
      R"({"id":9,"type":"con","pid":"1","shell":"xdg_shell","rect":"no"}]}]}]})");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->id, 0);
  auto names = noEntries();
  EXPECT_EQ(ids(windowInfo(*odd, 0, 0, names)), (std::vector<std::int64_t>{9}));
  // Deep nesting is cut, not followed down the stack.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += R"({"type":"con","nodes":[)";
  for (int i = 0; i < 100000; ++i) deep += "]}";
  const auto cut = parseTree(deep);
  ASSERT_TRUE(cut);
  EXPECT_TRUE(windowInfo(*cut, 0, 0, names).empty());
}

}  // namespace
}  // namespace orvane::sway
