// Accessibility work that an application can make long: it waits for the worker, never holds
// up a click line, and gives up at its budget, on a tree that loops back or a huge one.
#include <gtest/gtest.h>

#include "harness.hpp"
#include "run_loop_fake.hpp"

namespace orvane::sensors {
namespace {

using Id = FakeAccessibility::Id;

AXValue text(std::string s) { return s; }

// Every read costs the application `cost` milliseconds of the steady clock.
struct SlowAccessibility : Accessibility {
  FakeAccessibility& ax;
  std::int64_t& steadyNow;
  std::int64_t cost = 1;
  int reads = 0;
  std::function<void()> afterRead;  // what happens elsewhere meanwhile
  SlowAccessibility(FakeAccessibility& a, std::int64_t& now) : ax(a), steadyNow(now) {}
  AXElement createApplication(std::int32_t pid) override { return ax.createApplication(pid); }
  AXElement createSystemWide() override { return ax.createSystemWide(); }
  std::optional<AXValue> copyAttributeValue(const AXElement& e, std::string_view a) override {
    ++reads;
    steadyNow += cost;
    auto value = ax.copyAttributeValue(e, a);
    if (afterRead) afterRead();
    return value;
  }
  bool setAttributeValue(const AXElement& e, std::string_view a, bool v) override {
    return ax.setAttributeValue(e, a, v);
  }
  std::optional<AXElement> copyElementAtPosition(const AXElement& e, float x, float y) override {
    steadyNow += cost;
    return ax.copyElementAtPosition(e, x, y);
  }
};

// The harness with a worker that keeps its jobs until the test runs them.
struct WithHeld : Harness {
  HeldWorker held{ax};
  Context workerContext{workspace,
                        windowServer,
                        held,
                        queue,
                        [this] { return now++; },
                        -1,
                        browserBundleIdsMacOS(),
                        [this] { return steadyNow; }};
};

// The harness with an application that takes a millisecond per read.
struct WithSlow : Harness {
  SlowAccessibility slow{ax, steadyNow};
  InlineWorker slowWorker{slow};
  Context workerContext{workspace,
                        windowServer,
                        slowWorker,
                        queue,
                        [this] { return now++; },
                        -1,
                        browserBundleIdsMacOS(),
                        [this] { return steadyNow; }};
};

struct HeldClicks {
  WithHeld h;
  HeldWorker& held = h.held;
  ClickInspector inspector{h.workerContext, h.taps, h.errors};
  Id window = 0;
  HeldClicks() {
    h.addApp(10, "Editor", "com.example.editor", "Draft");
    h.workspace.bringToFront(10);
    window = h.focusedWindow(10);
    h.ax.setFrame(window, {0, 0, 800, 600});
    h.ax.hitTest = [this](float, float) -> std::optional<Id> { return window; };
    h.ax.reads.clear();
    inspector.startClickTap();
  }
  void post(std::uint32_t type, double x, double y) {
    ASSERT_TRUE(h.taps.post(type, FakeTapEvent::pointer(x, y)));
  }
};

std::string typeOf(const std::string& line) {
  const auto at = line.find("\"type\":\"");
  return line.substr(at + 8, line.find('"', at + 8) - at - 8);
}

std::vector<std::string> typesOf(const Lines& lines) {
  std::vector<std::string> types;
  for (const auto& line : lines) types.push_back(typeOf(line));
  return types;
}

using Types = std::vector<std::string>;

TEST(BoundedWork, ClickLinesComeAtOnceAndAReleaseWaitsForItsPressesElement) {
  HeldClicks c;
  c.post(kCGEventLeftMouseDown, 10, 20);
  c.post(kCGEventLeftMouseUp, 11, 21);
  // Built from the event and the application in front, before any accessibility call.
  EXPECT_TRUE(c.h.ax.reads.empty());
  EXPECT_TRUE(c.h.ax.positionQueries.empty());
  EXPECT_EQ(c.h.take(), (Lines{"{\"app\":\"Editor\",\"atUnixMs\":1700000000000,\"button\":\"left\","
                               "\"type\":\"click\",\"xGlobal\":10,\"yGlobal\":20}\n"}));
  // The application in front changes before the worker gets to the lookup: the line keeps
  // the name of the press.
  c.h.addApp(11, "Other", "com.example.other", "Else");
  c.h.workspace.bringToFront(11);
  c.held.runAll();
  EXPECT_EQ(c.h.take(),
            (Lines{"{\"app\":\"Editor\",\"atUnixMs\":1700000000002,\"hGlobal\":600,\"label\":"
                   "\"Draft\",\"role\":\"AXWindow\",\"type\":\"ax-element\",\"wGlobal\":800,"
                   "\"xGlobal\":0,\"yGlobal\":0}\n",
                   "{\"app\":\"Editor\",\"atUnixMs\":1700000000001,\"button\":\"left\","
                   "\"type\":\"clickUp\",\"xGlobal\":11,\"yGlobal\":21}\n"}));
  // Once the element line is out, a release is printed at once.
  c.post(kCGEventRightMouseUp, 1, 1);
  EXPECT_EQ(typesOf(c.h.take()), (Types{"clickUp"}));
}

TEST(BoundedWork, ANewPressOrTheEndOfTheBudgetLetsTheHeldReleaseOutWithoutTheElement) {
  HeldClicks c;
  FakeRunLoop loop;
  ClickInspector inspector{c.h.workerContext, c.h.taps, c.h.errors, &loop};
  inspector.startClickTap();
  // A double click faster than the worker: each press ends the lookup of the one before, so
  // no element line can be taken for that of the next press.
  c.post(kCGEventLeftMouseDown, 1, 1);
  c.post(kCGEventLeftMouseUp, 1, 1);
  c.post(kCGEventLeftMouseDown, 1, 1);
  c.post(kCGEventLeftMouseUp, 1, 1);
  EXPECT_EQ(typesOf(c.h.take()), (Types{"click", "clickUp", "click"}));
  c.held.runAll();
  EXPECT_EQ(typesOf(c.h.take()), (Types{"ax-element", "clickUp"}));
  EXPECT_EQ(c.h.ax.positionQueries.size(), 1u);
  // The worker is busy past the budget: the release comes out when the budget ends, and the
  // element line never comes.
  c.post(kCGEventLeftMouseDown, 1, 1);
  c.post(kCGEventLeftMouseUp, 1, 1);
  EXPECT_EQ(typesOf(c.h.take()), (Types{"click"}));
  ASSERT_FALSE(loop.mainQueue.empty());
  EXPECT_EQ(loop.mainQueue.back().delaySeconds, kSearchBudgetMs / 1000.0);
  loop.drainMain();
  EXPECT_EQ(typesOf(c.h.take()), (Types{"clickUp"}));
  c.held.runAll();
  EXPECT_TRUE(c.h.take().empty());
}

TEST(BoundedWork, AHugeListUnderThePointerIsCutByTheBudgetAndGivesNoLine) {
  WithSlow h;
  const auto& slow = h.slow;
  h.addApp(10, "Huge", "com.example.huge", "Grid");
  h.workspace.bringToFront(10);
  const Id window = h.focusedWindow(10);
  h.ax.setFrame(window, {0, 0, 800, 600});
  // 10,000 widgets; only the last lies under the pointer.
  std::vector<Id> widgets;
  for (int i = 0; i < 10000; ++i) {
    widgets.push_back(h.ax.add({{"AXRole", text("AXButton")}, {"AXTitle", text("Item")}}));
    h.ax.setFrame(widgets.back(), {1000, 0, 10, 10});
  }
  h.ax.setFrame(widgets.back(), {0, 0, 10, 10});
  h.ax.setChildren(window, widgets);
  h.ax.hitTest = [&](float, float) -> std::optional<Id> { return window; };
  ClickInspector inspector(h.workerContext, h.taps, h.errors);
  inspector.startClickTap();
  ASSERT_TRUE(h.taps.post(kCGEventLeftMouseDown, FakeTapEvent::pointer(5, 5)));
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 1u);  // the click line; the element was not found in time
  EXPECT_NE(lines[0].find("\"type\":\"click\""), std::string::npos);
  EXPECT_LE(slow.reads, kSearchBudgetMs + 10);
}

// An element listed among its own children, three times, and its parent again.
Id loopingTree(FakeAccessibility& ax, Id window) {
  const Id group = ax.add({{"AXRole", text("AXGroup")}, {"AXTitle", text("Loop")}});
  ax.setFrame(group, {0, 0, 100, 100});
  ax.setChildren(group, {group, window, group, group});
  ax.setChildren(window, {group});
  return group;
}

TEST(BoundedWork, ATreeThatLoopsBackIsWalkedOnce) {
  Harness h;
  h.addApp(10, "Chromium", "com.google.Chrome", "Page");
  h.workspace.bringToFront(10);
  const Id window = h.focusedWindow(10);
  h.ax.setFrame(window, {0, 0, 100, 100});
  const Id group = loopingTree(h.ax, window);

  // The address search: neither a web area nor an address bar, after a handful of reads.
  EXPECT_EQ(browserUrl(h.ax, 10, "com.google.Chrome"), std::nullopt);
  EXPECT_LE(h.ax.readCount(group, "AXChildren"), 2u);  // once per search
  h.ax.reads.clear();

  // The element search names the group, having entered it once.
  const auto best = labeledDescendantUnderPoint(h.ax, h.ax.element(window), {5, 5});
  ASSERT_TRUE(best);
  EXPECT_EQ(h.ax.idOf(*best), group);
  EXPECT_EQ(h.ax.readCount(group, "AXChildren"), 1u);
}

TEST(BoundedWork, TheAddressSearchGivesUpAtItsBudget) {
  WithSlow h;
  const auto& slow = h.slow;
  h.addApp(10, "Chromium", "com.google.Chrome", "Page");
  h.workspace.bringToFront(10);
  const Id window = h.focusedWindow(10);
  // A wide, deep tree with the address bar at its far end.
  std::vector<Id> rows;
  for (int i = 0; i < 3000; ++i) rows.push_back(h.ax.add({{"AXRole", text("AXRow")}}));
  const Id bar = h.ax.add({{"AXRole", text("AXTextField")}, {"AXValue", text("example.org")}});
  rows.push_back(bar);
  h.ax.setChildren(window, rows);
  SensorPoller poller(1000, h.workerContext);
  poller.tick();
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 1u);  // the window line; no address in time
  EXPECT_NE(lines[0].find("\"type\":\"window\""), std::string::npos);
  EXPECT_LE(slow.reads, kSearchBudgetMs + 10);
}

TEST(BoundedWork, ANewApplicationInFrontEndsTheWorkForTheOneBefore) {
  WithSlow h;
  h.addApp(10, "Chromium", "com.google.Chrome", "Page");
  const Id window = h.focusedWindow(10);
  std::vector<Id> rows;
  for (int i = 0; i < 3000; ++i) rows.push_back(h.ax.add({{"AXRole", text("AXRow")}}));
  rows.push_back(h.ax.add({{"AXRole", text("AXTextField")}, {"AXValue", text("example.org")}}));
  h.ax.setChildren(window, rows);
  // The workspace tells this one's title: its window line needs no worker.
  h.workspace.addApplication(11, "Notes", "com.example.notes").focusedWindowTitle = "Todo";
  SensorPoller poller(1000, h.workerContext);
  h.workspace.bringToFront(10);
  int readsWhenSwitched = 0;
  h.slow.afterRead = [&] {
    if (h.slow.reads != 20) return;
    readsWhenSwitched = h.slow.reads;
    h.workspace.bringToFront(11);
    poller.tick();  // on the main thread, while the worker searches
  };
  poller.tick();
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 2u) << lines.back();  // no address line for the browser behind
  EXPECT_NE(lines[0].find("\"app\":\"Chromium\""), std::string::npos);
  EXPECT_EQ(lines[1],
            "{\"action\":\"focused\",\"app\":\"Notes\",\"atUnixMs\":1700000000001,"
            "\"bundleId\":\"com.example.notes\",\"title\":\"Todo\",\"type\":\"window\"}\n");
  EXPECT_LE(h.slow.reads, readsWhenSwitched + 2);
}

TEST(BoundedWork, AnApplicationSlowerThanTheBudgetIsLeftAloneForAWhile) {
  WithSlow h;
  h.slow.cost = 200;
  const Id app = h.addApp(10, "Slow", "com.example.slow", "One");
  h.workspace.bringToFront(10);
  h.ax.hitTest = [&](float, float) -> std::optional<Id> { return app; };
  SensorPoller poller(1000, h.workerContext);
  ClickInspector inspector(h.workerContext, h.taps, h.errors);
  inspector.startClickTap();
  poller.tick();  // answers, slowly
  EXPECT_EQ(h.take().size(), 1u);
  h.ax.set(h.focusedWindow(10), "AXTitle", text("Two"));
  h.slow.reads = 0;
  // Left alone: no reads, the title last read stands, and presses get no element lookup.
  poller.tick();
  ASSERT_TRUE(h.taps.post(kCGEventLeftMouseDown, FakeTapEvent::pointer(1, 1)));
  EXPECT_EQ(h.slow.reads, 0);
  EXPECT_TRUE(h.ax.positionQueries.empty());
  EXPECT_EQ(h.take().size(), 1u);  // the click line
  // Asked again after its rest.
  h.steadyNow += SlowApplications::kRestMs;
  poller.tick();
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"title\":\"Two\""), std::string::npos);
}

TEST(BoundedWork, StepsThatComeWhileTheWorkerIsBusyAreMergedIntoTheLatest) {
  WithHeld h;
  auto& held = h.held;
  h.addApp(10, "First", "com.example.first", "One");
  h.addApp(11, "Second", "com.example.second", "Two");
  SensorPoller poller(1000, h.workerContext);
  h.workspace.bringToFront(10);
  poller.tick();
  h.workspace.bringToFront(11);
  poller.tick();
  poller.tick();
  EXPECT_EQ(held.jobs.size(), 1u);
  held.runAll();
  const auto lines = h.take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"app\":\"Second\""), std::string::npos);
  // The next step queues again.
  poller.tick();
  EXPECT_EQ(held.jobs.size(), 1u);
}

}  // namespace
}  // namespace orvane::sensors
