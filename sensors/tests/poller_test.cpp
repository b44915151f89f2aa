#include <gtest/gtest.h>

#include "harness.hpp"
#include "run_loop_fake.hpp"

namespace orvane::sensors {
namespace {

TEST(ArgumentScan, DefaultsAndIntervals) {
  const auto none = parseArguments({});
  EXPECT_EQ(none.pollMs, 1000);
  EXPECT_EQ(none.ignorePid, -1);
  EXPECT_EQ(parseArguments({"--poll-ms", "250"}).pollMs, 250);
  EXPECT_EQ(parseArguments({"--poll-ms", "fast"}).pollMs, 1000);
  EXPECT_EQ(parseArguments({"--poll-ms"}).pollMs, 1000);
  EXPECT_EQ(parseArguments({"--poll-ms", "-5"}).pollMs, -5);
  EXPECT_EQ(parseArguments({"--poll-ms", "9223372036854775807"}).pollMs, INT64_MAX);
  // A bad value keeps what an earlier occurrence gave; the last good one wins.
  EXPECT_EQ(parseArguments({"--poll-ms", "250", "--poll-ms", "2x"}).pollMs, 250);
  EXPECT_EQ(parseArguments({"--poll-ms", "250", "--poll-ms", "+40"}).pollMs, 40);
  // Unknown arguments are skipped alone, and names match exactly.
  EXPECT_EQ(parseArguments({"--verbose", "--poll-ms", "500"}).pollMs, 500);
  EXPECT_EQ(parseArguments({"--POLL-MS", "500", "--poll-ms=7"}).pollMs, 1000);
  // The value is consumed even when it looks like an option.
  const auto swallowed = parseArguments({"--poll-ms", "--ignore-pid", "42"});
  EXPECT_EQ(swallowed.pollMs, 1000);
  EXPECT_EQ(swallowed.ignorePid, -1);
}

TEST(ArgumentScan, BadIgnorePidResetsToNone) {
  EXPECT_EQ(parseArguments({"--ignore-pid", "42"}).ignorePid, 42);
  EXPECT_EQ(parseArguments({"--ignore-pid", "42", "--ignore-pid", "x"}).ignorePid, -1);
  EXPECT_EQ(parseArguments({"--ignore-pid", "4294967296"}).ignorePid, -1);
  EXPECT_EQ(parseArguments({"--ignore-pid", "-2147483648"}).ignorePid, INT32_MIN);
  EXPECT_EQ(parseArguments({"--ignore-pid", "42", "--ignore-pid"}).ignorePid, 42);
}

TEST(ArgumentScan, TimerNeverAsksForAPeriodThatSpins) {
  EXPECT_DOUBLE_EQ(timerIntervalSeconds(250), 0.25);
  EXPECT_DOUBLE_EQ(timerIntervalSeconds(1), 0.001);
  EXPECT_DOUBLE_EQ(timerIntervalSeconds(0), 1.0);
  EXPECT_DOUBLE_EQ(timerIntervalSeconds(-20), 1.0);
  EXPECT_DOUBLE_EQ(timerIntervalSeconds(INT64_MIN), 1.0);
}

TEST(WindowLines, FirstTickThenOnlyChangesOfAppOrTitle) {
  Harness h;
  h.addApp(10, "Notes", "com.apple.Notes", "a/b");
  h.workspace.bringToFront(10);
  SensorPoller poller(1000, h.context);
  poller.tick();
  poller.tick();
  EXPECT_EQ(h.take(), (Lines{"{\"action\":\"focused\",\"app\":\"Notes\",\"atUnixMs\":1700000000000,"
                             "\"bundleId\":\"com.apple.Notes\",\"title\":\"a\\/b\",\"type\":"
                             "\"window\"}\n"}));

  // Another bundle identifier under the same name and title is no change.
  h.workspace.front->bundleIdentifier = "org.other";
  poller.tick();
  EXPECT_TRUE(h.take().empty());

  // Title unreadable, then empty, then back: a line each time.
  const auto window = h.focusedWindow(10);
  h.ax.setUnresponsive(window);
  poller.tick();
  h.ax.setUnresponsive(window, false);
  h.ax.set(window, "AXTitle", std::string());
  poller.tick();
  h.ax.set(window, "AXTitle", std::string("a/b"));
  poller.tick();
  poller.tick();
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].find("title"), std::string::npos);
  EXPECT_NE(lines[1].find("\"title\":\"\""), std::string::npos);
  EXPECT_NE(lines[2].find("\"title\":\"a\\/b\""), std::string::npos);
}

TEST(WindowLines, MissingNameAndBundleIdentifier) {
  Harness h;
  h.addApp(10, std::nullopt, std::nullopt);
  h.workspace.bringToFront(10);
  SensorPoller poller(1000, h.context);
  poller.tick();
  EXPECT_EQ(h.take(), (Lines{"{\"action\":\"focused\",\"app\":\"Unknown\",\"atUnixMs\":"
                             "1700000000000,\"type\":\"window\"}\n"}));
  // An empty bundle identifier is left out too and never counts as a browser.
  h.addApp(11, "Empty", "");
  h.workspace.bringToFront(11);
  poller.tick();
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].find("bundleId"), std::string::npos);
  EXPECT_TRUE(h.ax.writes.empty());
}

TEST(WindowLines, NothingInFrontSkipsTheTickWithoutForgetting) {
  Harness h;
  h.addApp(10, "Notes", "com.apple.Notes", "Todo");
  h.workspace.bringToFront(10);
  SensorPoller poller(1000, h.context);
  poller.tick();
  h.take();
  h.workspace.front.reset();
  poller.tick();
  h.workspace.bringToFront(10);
  poller.tick();
  EXPECT_TRUE(h.take().empty());
}

// A layer-0 window record of an owner.
RecordValue windowOf(std::int32_t pid, std::int64_t layer = 0) {
  return Dictionary{{std::string(kCGWindowLayer), layer},
                    {std::string(kCGWindowOwnerPID), std::int64_t{pid}}};
}

TEST(ContentApp, IgnoredProcessInFrontFallsBackToTheFrontmostRegularWindow) {
  Harness h;
  h.context.ignorePid = 99;
  h.workspace.addApplication(99, "Recorder");
  h.workspace.addApplication(20, "Menu", std::nullopt);
  h.workspace.addApplication(30, "Helper", std::nullopt, kActivationPolicyAccessory);
  h.workspace.addApplication(31, "Daemon", std::nullopt, kActivationPolicyProhibited);
  h.workspace.addApplication(40, "Editor", "com.example.Editor");
  h.workspace.bringToFront(99);
  h.windowServer.windows = std::vector<RecordValue>{
      windowOf(20, 25),                              // menu bar layer
      windowOf(99),                                  // the ignored process
      Dictionary{{std::string(kCGWindowLayer), 0}},  // no owner
      Dictionary{{std::string(kCGWindowLayer), 0},
                 {std::string(kCGWindowOwnerPID), std::string("40")}},  // owner of another kind
      windowOf(30),
      windowOf(31),
      windowOf(77),  // accessory, background, not running
      windowOf(40),
      windowOf(20)};
  const auto app = frontmostContentApp(h.workspace, h.windowServer, 99);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->processIdentifier, 40);
  EXPECT_EQ(h.windowServer.queries.at(0).options, 17u);

  // Only accessory and background applications behind it: nothing.
  h.windowServer.windows = std::vector<RecordValue>{windowOf(30), windowOf(31)};
  EXPECT_FALSE(frontmostContentApp(h.workspace, h.windowServer, 99));
  // A snapshot that is not a list of records.
  h.windowServer.windows = std::vector<RecordValue>{windowOf(40), RecordValue("x")};
  EXPECT_FALSE(frontmostContentApp(h.workspace, h.windowServer, 99));
  h.windowServer.windows.reset();
  EXPECT_FALSE(frontmostContentApp(h.workspace, h.windowServer, 99));

  // Nobody in front: the snapshot decides even with nothing ignored.
  h.workspace.front.reset();
  h.windowServer.windows = std::vector<RecordValue>{windowOf(40)};
  EXPECT_EQ(frontmostContentApp(h.workspace, h.windowServer, -1)->processIdentifier, 40);
  // Anyone else in front is taken as it is, without a snapshot.
  h.workspace.bringToFront(30);
  h.windowServer.queries.clear();
  EXPECT_EQ(frontmostContentApp(h.workspace, h.windowServer, 99)->processIdentifier, 30);
  EXPECT_TRUE(h.windowServer.queries.empty());
}

// A browser window whose web area gives `url`.
void showPage(Harness& h, std::int32_t pid, const std::string& url) {
  const auto window = h.focusedWindow(pid);
  const auto page = h.ax.add({{"AXRole", std::string("AXWebArea")}, {"AXURL", AXURLValue{url}}});
  h.ax.setChildren(window, {page});
}

TEST(WindowLines, ATitleTheWorkspaceKnowsIsTheTitle) {
  // sway names every window: its name wins over the accessibility tree, and is there for a
  // client with no tree at all. The address still comes from the tree, with that title.
  Harness h;
  h.addApp(10, "Google Chrome", "com.google.Chrome", "Accessible title");
  showPage(h, 10, "https://a.example/x");
  h.workspace.running.at(10).focusedWindowTitle = "Page - Chrome";
  h.workspace.addApplication(11, "foot", "foot").focusedWindowTitle = "";
  h.workspace.bringToFront(10);
  SensorPoller poller(1000, h.context);
  poller.tick();
  EXPECT_EQ(h.take(),
            (Lines{"{\"action\":\"focused\",\"app\":\"Google Chrome\",\"atUnixMs\":1700000000000,"
                   "\"bundleId\":\"com.google.Chrome\",\"title\":\"Page - Chrome\",\"type\":"
                   "\"window\"}\n",
                   "{\"app\":\"Google Chrome\",\"atUnixMs\":1700000000001,\"title\":\"Page - "
                   "Chrome\",\"type\":\"url\",\"url\":\"https:\\/\\/a.example\\/x\"}\n"}));
  // An empty name is an empty title, not a missing one.
  h.workspace.bringToFront(11);
  poller.tick();
  EXPECT_EQ(h.take(), (Lines{"{\"action\":\"focused\",\"app\":\"foot\",\"atUnixMs\":"
                             "1700000000002,\"bundleId\":\"foot\",\"title\":\"\",\"type\":"
                             "\"window\"}\n"}));
}

TEST(UrlLines, AddressChangesAreReportedOnceAndNeverForgotten) {
  Harness h;
  h.addApp(10, "Google Chrome", "com.google.Chrome", "Docs");
  h.addApp(11, "Brave Browser", "com.brave.Browser", "Docs");
  h.addApp(12, "Notes", "com.apple.Notes", "Todo");
  showPage(h, 10, "https://a.example/x");
  showPage(h, 11, "https://a.example/x");
  h.workspace.bringToFront(10);
  SensorPoller poller(1000, h.context);
  poller.tick();
  EXPECT_EQ(h.take(),
            (Lines{"{\"action\":\"focused\",\"app\":\"Google Chrome\",\"atUnixMs\":1700000000000,"
                   "\"bundleId\":\"com.google.Chrome\",\"title\":\"Docs\",\"type\":\"window\"}\n",
                   "{\"app\":\"Google Chrome\",\"atUnixMs\":1700000000001,\"title\":\"Docs\","
                   "\"type\":\"url\",\"url\":\"https:\\/\\/a.example\\/x\"}\n"}));
  poller.tick();
  EXPECT_TRUE(h.take().empty());

  // Away and back to the same page, then another browser on that page: window lines only.
  h.workspace.bringToFront(12);
  poller.tick();
  h.workspace.bringToFront(10);
  poller.tick();
  h.workspace.bringToFront(11);
  poller.tick();
  auto lines = h.take();
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_NE(line.find("\"type\":\"window\""), std::string::npos);

  // No readable address changes nothing; a new one is reported.
  h.ax.setChildren(h.focusedWindow(11), {});
  poller.tick();
  EXPECT_TRUE(h.take().empty());
  showPage(h, 11, "https://b.example/");
  poller.tick();
  lines = h.take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"url\":\"https:\\/\\/b.example\\/\""), std::string::npos);
}

// The fake run loop, with the test's own steps while it "runs": the poller and the tap live
// only as long as run() does.
struct SteppedLoop : RunLoop {
  FakeRunLoop fake;
  std::function<void()> whileRunning;
  void addRepeatingTimer(double seconds, std::function<void()> action) override {
    fake.addRepeatingTimer(seconds, std::move(action));
  }
  void performOnMain(std::function<void()> work) override { fake.performOnMain(std::move(work)); }
  void performOnMainAfter(double delay, std::function<void()> work) override {
    fake.performOnMainAfter(delay, std::move(work));
  }
  void exitOnTerminationSignals() override { fake.exitOnTerminationSignals(); }
  void callOnTerminationSignals(std::function<void()> action) override {
    fake.callOnTerminationSignals(std::move(action));
  }
  void readStandardInputLines(std::function<void(const std::string&)> onLine) override {
    fake.readStandardInputLines(std::move(onLine));
  }
  void run() override {
    fake.run();
    if (whileRunning) whileRunning();
  }
};

TEST(Startup, FirstTickAtOnceThenTimerAndTap) {
  Harness h;
  h.addApp(10, "Notes", "com.apple.Notes", "Todo");
  h.workspace.bringToFront(10);
  SteppedLoop loop;
  std::size_t linesBeforeRunning = 0;
  loop.whileRunning = [&] {
    linesBeforeRunning = h.take().size();
    h.ax.set(h.focusedWindow(10), "AXTitle", std::string("Other"));
    loop.fake.fireTimers();
    EXPECT_TRUE(h.taps.post(kCGEventLeftMouseUp, FakeTapEvent::pointer(1, 2)));
  };
  EXPECT_EQ(run(Arguments{.pollMs = 250, .ignorePid = -1}, h.context, h.taps, loop, h.errors), 0);
  EXPECT_TRUE(loop.fake.signalsInstalled);
  ASSERT_EQ(loop.fake.timers.size(), 1u);
  EXPECT_DOUBLE_EQ(loop.fake.timers[0].intervalSeconds, 0.25);
  EXPECT_EQ(loop.fake.runs, 1);
  EXPECT_EQ(linesBeforeRunning, 1u);  // the first tick came before the loop turned
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\"title\":\"Other\""), std::string::npos);
  EXPECT_NE(lines[1].find("\"type\":\"clickUp\""), std::string::npos);
  ASSERT_EQ(h.taps.taps.size(), 1u);
  EXPECT_EQ(h.taps.tap().mask, 0x0600001Eu);
  EXPECT_TRUE(h.taps.tap().added);
  EXPECT_TRUE(h.errors.err.empty());
}

TEST(Startup, WithoutATapPollingGoesOn) {
  Harness h;
  h.taps.failCreate = true;
  h.addApp(10, "Notes", "com.apple.Notes", "Todo");
  h.workspace.bringToFront(10);
  SteppedLoop loop;
  loop.whileRunning = [&] {
    h.take();
    h.ax.set(h.focusedWindow(10), "AXTitle", std::string("Other"));
    loop.fake.fireTimers();
  };
  run(Arguments{.pollMs = 0, .ignorePid = -1}, h.context, h.taps, loop, h.errors);
  EXPECT_EQ(h.errors.err, "[orvane/capture-sensors] click tap unavailable\n");
  EXPECT_EQ(h.taps.createAttempts, 1);
  EXPECT_DOUBLE_EQ(loop.fake.timers.at(0).intervalSeconds, 1.0);
  EXPECT_EQ(h.take().size(), 1u);
}

}  // namespace
}  // namespace orvane::sensors
