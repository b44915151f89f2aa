// Accessibility work that an application can make long: it waits for the worker, never holds
// up a click line, and gives up at its budget, on a tree that loops back or a huge one.
#include <gtest/gtest.h>

#include "harness.hpp"

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
  SlowAccessibility(FakeAccessibility& a, std::int64_t& now) : ax(a), steadyNow(now) {}
  AXElement createApplication(std::int32_t pid) override { return ax.createApplication(pid); }
  AXElement createSystemWide() override { return ax.createSystemWide(); }
  std::optional<AXValue> copyAttributeValue(const AXElement& e, std::string_view a) override {
    ++reads;
    steadyNow += cost;
    return ax.copyAttributeValue(e, a);
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

TEST(BoundedWork, ClickLinesComeAtOnceAndTheLookupWaitsForTheWorker) {
  HeldClicks c;
  c.post(kCGEventLeftMouseDown, 10, 20);
  c.post(kCGEventLeftMouseUp, 11, 21);
  // Built from the event and the application in front, before any accessibility call.
  EXPECT_TRUE(c.h.ax.reads.empty());
  EXPECT_TRUE(c.h.ax.positionQueries.empty());
  EXPECT_EQ(c.h.take(), (Lines{"{\"app\":\"Editor\",\"atUnixMs\":1700000000000,\"button\":\"left\","
                               "\"type\":\"click\",\"xGlobal\":10,\"yGlobal\":20}\n",
                               "{\"app\":\"Editor\",\"atUnixMs\":1700000000001,\"button\":\"left\","
                               "\"type\":\"clickUp\",\"xGlobal\":11,\"yGlobal\":21}\n"}));
  // The application in front changes before the worker gets to the lookup: the line keeps
  // the name of the press.
  c.h.addApp(11, "Other", "com.example.other", "Else");
  c.h.workspace.bringToFront(11);
  c.held.runAll();
  EXPECT_EQ(c.h.take(),
            (Lines{"{\"app\":\"Editor\",\"atUnixMs\":1700000000002,\"hGlobal\":600,\"label\":"
                   "\"Draft\",\"role\":\"AXWindow\",\"type\":\"ax-element\",\"wGlobal\":800,"
                   "\"xGlobal\":0,\"yGlobal\":0}\n"}));
}

TEST(BoundedWork, LookupsThatWaitedPastTheirBudgetOrBeyondTheFewQueuedAreDropped) {
  HeldClicks c;
  for (int i = 0; i < kMaxPendingLookups + 3; ++i) c.post(kCGEventLeftMouseDown, i, i);
  EXPECT_EQ(c.held.jobs.size(), static_cast<std::size_t>(kMaxPendingLookups));
  EXPECT_EQ(c.h.take().size(), static_cast<std::size_t>(kMaxPendingLookups + 3));
  c.h.steadyNow += kSearchBudgetMs;  // the worker was busy that long
  c.held.runAll();
  EXPECT_TRUE(c.h.take().empty());
  EXPECT_TRUE(c.h.ax.positionQueries.empty());
  // Room again once the worker took them.
  c.post(kCGEventLeftMouseDown, 1, 1);
  c.held.runAll();
  EXPECT_EQ(c.h.take().size(), 2u);
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
