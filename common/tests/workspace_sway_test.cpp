#include "sway_windows.hpp"
#include "workspace_compositor.hpp"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace orvane {
namespace {

// A tree as sway writes it: one output with workspace 1 holding a horizontal split of two
// views (12 focused last, then 11) and a floating XWayland view, and hidden workspace 2 with
// another view of pid 200. `focusedId` is the node sway reports as focused.
std::string tree(std::int64_t focusedId, const std::string& extraWorkspace = "") {
  auto f = [&](std::int64_t id) { return id == focusedId ? "true" : "false"; };
  std::string t = R"({"id":1,"type":"root","name":"root","focus":[3],"nodes":[
    {"id":3,"type":"output","name":"HEADLESS-1","focus":[4,8],"nodes":[
      {"id":4,"type":"workspace","name":"1","focused":)" +
                  std::string(f(4)) + R"(,"focus":[10,13],"nodes":[
        {"id":10,"type":"con","name":null,"focused":)" +
                  f(10) + R"(,"focus":[12,11],"nodes":[
          {"id":11,"type":"con","name":"Inbox","app_id":"org.gnome.Evolution","pid":100,
           "shell":"xdg_shell","visible":true,"focused":)" +
                  f(11) + R"(},
          {"id":12,"type":"con","name":"notes.txt - Editor","app_id":"editor","pid":200,
           "shell":"xdg_shell","visible":true,"focused":)" +
                  f(12) + R"(}]}],
        "floating_nodes":[
          {"id":13,"type":"floating_con","name":"Old app","app_id":null,"pid":300,
           "shell":"xwayland","window_properties":{"class":"Legacy","instance":"legacy"},
           "visible":true,"focused":)" +
                  f(13) + R"(}]},
      {"id":8,"type":"workspace","name":"2","focused":)" +
                  f(8) + R"(,"focus":[9],"nodes":[
        {"id":9,"type":"con","name":"Draft","app_id":"editor","pid":200,"shell":"xdg_shell",
         "visible":false,"focused":)" +
                  f(9) + R"(}]})" + extraWorkspace + R"(]}]})";
  return t;
}

// sway's reply read into snapshots as the sway adapter reads it, with the owner names the
// window list would give (by container id) in place of desktop entries.
struct Source {
  std::optional<std::string> reply;
  std::map<std::int64_t, std::string> owners;
  sway::OwnerNames names{{}, [](std::int64_t) { return std::optional<std::string>(); }};
  std::unique_ptr<Workspace> make() {
    return makeCompositorWorkspace([this]() -> std::optional<CompositorSnapshot> {
      if (!reply) return std::nullopt;
      auto root = sway::parseTree(*reply);
      if (!root) return std::nullopt;
      CompositorSnapshot snapshot = sway::snapshotOf(*root, names);
      for (auto& w : snapshot.windows)
        if (auto it = owners.find(w.id); it != owners.end()) w.ownerName = it->second;
      return snapshot;
    });
  }
};

TEST(SwayWorkspace, FocusedViewNamesTheApplicationInFront) {
  Source s;
  s.reply = tree(12);
  s.owners[12] = "Text Editor";  // the desktop entry's Name=, as the window list has it
  auto ws = s.make();
  auto app = ws->frontmostApplication();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->processIdentifier, 200);
  EXPECT_EQ(app->localizedName, "Text Editor");
  EXPECT_EQ(app->bundleIdentifier, "editor");
  EXPECT_EQ(app->activationPolicy, kActivationPolicyRegular);
  EXPECT_EQ(app->focusedWindowTitle, "notes.txt - Editor");

  // Without a name from the window list: the app_id; an XWayland view by its class, its
  // bundle identifier that class in lower case, as on X11.
  s.owners.clear();
  EXPECT_EQ(ws->frontmostApplication()->localizedName, "editor");
  s.reply = tree(13);
  app = ws->frontmostApplication();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->processIdentifier, 300);
  EXPECT_EQ(app->localizedName, "Legacy");
  EXPECT_EQ(app->bundleIdentifier, "legacy");
  EXPECT_EQ(app->focusedWindowTitle, "Old app");
}

TEST(SwayWorkspace, FocusOnAContainerMeansItsMostRecentView) {
  Source s;
  // `focus parent`: the split is focused; 12 was focused in it last, not its first child 11.
  s.reply = tree(10);
  auto ws = s.make();
  auto app = ws->frontmostApplication();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->processIdentifier, 200);
  // The workspace itself focused while it holds views: the same.
  s.reply = tree(4);
  ASSERT_TRUE(ws->frontmostApplication());
  EXPECT_EQ(ws->frontmostApplication()->processIdentifier, 200);

  // An empty workspace in front, or no focus at all: no application.
  s.reply = tree(77, R"(,{"id":77,"type":"workspace","name":"3","focused":true,"nodes":[]})");
  EXPECT_FALSE(ws->frontmostApplication());
  s.reply = tree(-1);
  EXPECT_FALSE(ws->frontmostApplication());
}

TEST(SwayWorkspace, NoTreeNoApplication) {
  Source s;
  auto ws = s.make();
  EXPECT_FALSE(ws->frontmostApplication());  // sway could not be asked
  EXPECT_FALSE(ws->runningApplication(200));
  for (const char* broken : {"", "{", "[]", "null", R"({"id":1,"nodes":"x"})"}) {
    s.reply = broken;
    EXPECT_FALSE(ws->frontmostApplication()) << broken;
  }
}

TEST(SwayWorkspace, RunningApplicationByItsShownView) {
  Source s;
  s.reply = tree(11);
  auto ws = s.make();
  // Pid 200 has a shown view (12) and a hidden one (9): the shown one describes it.
  auto app = ws->runningApplication(200);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->focusedWindowTitle, "notes.txt - Editor");
  EXPECT_EQ(app->bundleIdentifier, "editor");
  EXPECT_EQ(ws->runningApplication(100)->focusedWindowTitle, "Inbox");
  EXPECT_FALSE(ws->runningApplication(999));
  EXPECT_FALSE(ws->runningApplication(-1));
}

TEST(SwayWorkspace, ViewsWithoutIdentity) {
  // No app_id, no class, no pid: no name, no bundle identifier, no process, and an empty
  // title is a title.
  Source s;
  s.reply = R"({"id":1,"type":"root","nodes":[{"id":3,"type":"output","nodes":[
      {"id":4,"type":"workspace","nodes":[
        {"id":5,"type":"con","name":"","shell":"xdg_shell","app_id":"","focused":true}]}]}]})";
  auto app = s.make()->frontmostApplication();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->processIdentifier, -1);
  EXPECT_FALSE(app->localizedName);
  EXPECT_FALSE(app->bundleIdentifier);
  EXPECT_EQ(app->focusedWindowTitle, "");
}

}  // namespace
}  // namespace orvane
