#include "window_bounds.hpp"

#include <gtest/gtest.h>

#include "activation_fake.hpp"
#include "run_loop_fake.hpp"
#include "window_server_fake.hpp"

namespace orvane::windowbounds {
namespace {

constexpr std::uint32_t kWindow = 4711;
constexpr std::int64_t kNow = 1700000000123;

WindowRecord window(Rect bounds, bool onScreen = true, std::optional<double> alpha = 1.0,
                    std::optional<std::int32_t> pid = 321) {
  WindowRecord r{{"kCGWindowNumber", kWindow},
                 {"kCGWindowBounds", dictionaryFromRect(bounds)},
                 {"kCGWindowIsOnscreen", onScreen}};
  if (alpha) r.emplace_back("kCGWindowAlpha", *alpha);
  if (pid) r.emplace_back("kCGWindowOwnerPID", *pid);
  return r;
}

class PollerTest : public ::testing::Test {
 protected:
  PollerTest() {
    server.displays = {{1, {0, 0, 1920, 1080}}, {2, {1920, 0, 1280, 1024}}};
    server.screenList = {{RecordValue(1), 2.0}, {RecordValue(2), 1.0}};
  }

  void show(WindowRecord record) {
    server.windows = std::vector<RecordValue>{RecordValue(std::move(record))};
  }
  void hide() { server.windows = std::vector<RecordValue>{}; }

  // The lines written since the last call.
  std::vector<std::string> lines() {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < output.out.size()) {
      const std::size_t end = output.out.find('\n', start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "unterminated line";
        break;
      }
      result.push_back(output.out.substr(start, end - start));
      start = end + 1;
    }
    output.out.clear();
    return result;
  }

  FakeWindowServer server;
  CapturedOutput output;
  WindowBoundsPoller poller{kWindow, server, output, [] { return kNow; }};
};

TEST(ArgumentScan, WindowIdRule) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(parseArguments({}).windowId, 0u);
  EXPECT_EQ(parseArguments(Args{"--window-id"}).windowId, 0u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "abc"}).windowId, 0u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "0"}).windowId, 0u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "-5"}).windowId, 0u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "4294967296"}).windowId, 0u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "4294967295"}).windowId, 4294967295u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "+42"}).windowId, 42u);
  EXPECT_EQ(parseArguments(Args{"--window-id", " 42"}).windowId, 0u);
  // The last occurrence wins, even when it does not parse.
  EXPECT_EQ(parseArguments(Args{"--window-id", "7", "--window-id", "x"}).windowId, 0u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "x", "--window-id", "7"}).windowId, 7u);
  // Unknown arguments are skipped alone; an option as the last argument is skipped too.
  EXPECT_EQ(parseArguments(Args{"--verbose", "--window-id", "9"}).windowId, 9u);
  EXPECT_EQ(parseArguments(Args{"--window-id", "9", "--window-id"}).windowId, 9u);
  EXPECT_EQ(parseArguments(Args{"--Window-Id", "9"}).windowId, 0u);
  // A value is consumed even when it looks like an option.
  EXPECT_EQ(parseArguments(Args{"--poll-ms", "--window-id", "9"}).windowId, 0u);
}

TEST(ArgumentScan, PollIntervalIsClampedAndKeptOnBadValues) {
  auto poll = [](std::vector<std::string> a) { return parseArguments(a).pollMs; };
  EXPECT_EQ(poll({}), 50);
  EXPECT_EQ(poll({"--poll-ms", "5"}), 16);
  EXPECT_EQ(poll({"--poll-ms", "-3"}), 16);
  EXPECT_EQ(poll({"--poll-ms", "1001"}), 1000);
  EXPECT_EQ(poll({"--poll-ms", "99999999999999999999"}), 50);
  EXPECT_EQ(poll({"--poll-ms", "fast"}), 50);
  EXPECT_EQ(poll({"--poll-ms", "250", "--poll-ms", "fast"}), 250);
  EXPECT_EQ(poll({"--poll-ms", "2000", "--poll-ms", "fast"}), 1000);
  EXPECT_EQ(poll({"--poll-ms"}), 50);
}

TEST_F(PollerTest, LineBytesWithSortedKeysAndTwoWrites) {
  show(window({100.5, -20, 640, 480}));
  poller.tick();
  EXPECT_EQ(output.outWrites, 2);  // the JSON, then the line feed
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "{\"atUnixMs\":1700000000123,\"bounds\":{\"height\":480,\"width\":640,"
                         "\"x\":100.5,\"y\":-20},\"displayId\":1,\"scaleFactor\":2,"
                         "\"status\":\"visible\",\"windowId\":4711}"});
  EXPECT_EQ(server.queries.front().options, kSingleWindowSnapshot);
  EXPECT_EQ(server.queries.front().relativeToWindow, kWindow);
}

TEST_F(PollerTest, IdenticalStatesPrintOnce) {
  show(window({10, 10, 300, 200}));
  for (int i = 0; i < 5; ++i) poller.tick();
  EXPECT_EQ(lines().size(), 1u);
  show(window({11, 10, 300, 200}));
  poller.tick();
  auto moved = lines();
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_NE(moved[0].find("\"x\":11,"), std::string::npos);
  // Alpha and owner are not part of the state.
  show(window({11, 10, 300, 200}, true, 0.5, 999));
  poller.tick();
  EXPECT_TRUE(lines().empty());
}

TEST_F(PollerTest, ClosedAfterThreeMissesOnly) {
  show(window({10, 10, 300, 200}));
  poller.tick();
  lines();
  hide();
  poller.tick();
  poller.tick();
  EXPECT_TRUE(lines().empty());
  poller.tick();
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "{\"atUnixMs\":1700000000123,\"status\":\"closed\",\"windowId\":4711}"});
  for (int i = 0; i < 10; ++i) poller.tick();
  EXPECT_TRUE(lines().empty());
  // A list that cannot be had is a miss like any other.
  server.windows = std::nullopt;
  poller.tick();
  EXPECT_TRUE(lines().empty());
}

TEST_F(PollerTest, TransientGapPrintsNothingAndResetsTheCount) {
  show(window({10, 10, 300, 200}));
  poller.tick();
  lines();
  for (int round = 0; round < 3; ++round) {
    hide();
    poller.tick();
    server.windows = std::nullopt;
    poller.tick();
    show(window({10, 10, 300, 200}));
    poller.tick();
  }
  EXPECT_TRUE(lines().empty());
}

TEST_F(PollerTest, AWindowServerThatDoesNotAnswerClosesOnlyAWindowNeverSeen) {
  server.windows = std::nullopt;
  for (int i = 0; i < 3; ++i) poller.tick();
  EXPECT_EQ(lines().size(), 1u);  // as without a display
  show(window({10, 10, 300, 200}));
  poller.tick();
  lines();
  server.windows = std::nullopt;
  for (int i = 0; i < 10; ++i) poller.tick();
  EXPECT_TRUE(lines().empty());
  hide();
  for (int i = 0; i < 3; ++i) poller.tick();
  EXPECT_EQ(lines().size(), 1u);
}

TEST_F(PollerTest, WindowBackAfterClosedIsPrintedAgain) {
  show(window({10, 10, 300, 200}));
  poller.tick();
  hide();
  for (int i = 0; i < 3; ++i) poller.tick();
  show(window({10, 10, 300, 200}));
  poller.tick();
  auto all = lines();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], all[2]);
}

TEST_F(PollerTest, NeverFoundPrintsClosedOnTheThirdTick) {
  hide();
  poller.tick();
  poller.tick();
  EXPECT_TRUE(lines().empty());
  poller.tick();
  EXPECT_EQ(lines().size(), 1u);
}

TEST_F(PollerTest, StatusFromOnScreenAndAlpha) {
  struct Case {
    bool onScreen;
    std::optional<double> alpha;
    const char* status;
  } cases[] = {
      {true, 0.01, "unavailable"},     {true, 0.011, "visible"},    {true, 0.0, "unavailable"},
      {true, std::nullopt, "visible"}, {false, 1.0, "unavailable"},
  };
  for (const auto& c : cases) {
    CapturedOutput out;
    WindowBoundsPoller p{kWindow, server, out, [] { return kNow; }};
    show(window({10, 10, 300, 200}, c.onScreen, c.alpha));
    p.tick();
    EXPECT_NE(out.out.find(std::string("\"status\":\"") + c.status + "\""), std::string::npos)
        << c.onScreen << " " << c.alpha.value_or(-1) << ": " << out.out;
    // Off screen or see-through, the frame and display are still reported.
    EXPECT_NE(out.out.find("\"bounds\""), std::string::npos);
    EXPECT_NE(out.out.find("\"displayId\":1"), std::string::npos);
  }
}

TEST_F(PollerTest, OnScreenAndAlphaOfTheWrongKind) {
  auto record = window({10, 10, 300, 200}, true, std::nullopt);
  record.emplace_back("kCGWindowAlpha", "0");  // text: does not make it see-through
  show(record);
  poller.tick();
  EXPECT_NE(output.out.find("\"visible\""), std::string::npos);
  lines();
  WindowRecord noFlag{{"kCGWindowNumber", kWindow},
                      {"kCGWindowBounds", dictionaryFromRect({10, 10, 300, 200})},
                      {"kCGWindowIsOnscreen", 1}};  // an integer, not a boolean
  show(noFlag);
  poller.tick();
  EXPECT_NE(output.out.find("\"unavailable\""), std::string::npos);
}

TEST_F(PollerTest, UnusableBoundsGiveUnavailableWithoutFrame) {
  const std::string bare =
      "{\"atUnixMs\":1700000000123,\"status\":\"unavailable\",\"windowId\":4711}";
  show(window({10, 10, 0.5, 200}));
  poller.tick();
  EXPECT_EQ(lines(), std::vector<std::string>{bare});
  show(window({10, 10, 300, 0.99}));
  poller.tick();
  EXPECT_TRUE(lines().empty());  // the same state
  WindowRecord noBounds{{"kCGWindowNumber", kWindow}, {"kCGWindowIsOnscreen", true}};
  show(noBounds);
  poller.tick();
  WindowRecord textBounds{{"kCGWindowNumber", kWindow}, {"kCGWindowBounds", "0,0,10,10"}};
  show(textBounds);
  poller.tick();
  show(window({std::numeric_limits<double>::quiet_NaN(), 10, 300, 200}));
  poller.tick();
  show(window({10, 10, std::numeric_limits<double>::infinity(), 200}));
  poller.tick();
  EXPECT_TRUE(lines().empty());
  // Exactly one point is enough.
  show(window({10, 10, 1, 1}));
  poller.tick();
  EXPECT_EQ(lines().size(), 1u);
}

TEST_F(PollerTest, DisplayWithMostOfTheWindow) {
  // Split equally across the boundary at x = 1920: the first display in the list.
  auto half = displayForWindow(server, {1820, 100, 200, 100});
  ASSERT_TRUE(half);
  EXPECT_EQ(half->id, 1u);
  EXPECT_EQ(half->scale, 2.0);
  auto more = displayForWindow(server, {1821, 100, 200, 100});
  ASSERT_TRUE(more);
  EXPECT_EQ(more->id, 2u);
  EXPECT_EQ(more->scale, 1.0);
  EXPECT_FALSE(displayForWindow(server, {5000, 5000, 100, 100}));
  // Touching the edge only covers no area.
  EXPECT_FALSE(displayForWindow(server, {-100, 0, 100, 100}));
  server.displays.clear();
  EXPECT_FALSE(displayForWindow(server, {0, 0, 100, 100}));
}

TEST_F(PollerTest, ScreenMatchingDecidesTheScale) {
  server.screenList = {{std::nullopt, 3.0}, {RecordValue("2"), 3.0}, {RecordValue(-2), 3.0}};
  auto d = displayForWindow(server, {1920, 0, 100, 100});
  ASSERT_TRUE(d);
  EXPECT_EQ(d->id, 2u);
  EXPECT_EQ(d->scale, 1.0);  // no screen matches
  server.screenList = {{RecordValue(2), 1.5}, {RecordValue(2), 3.0}};
  EXPECT_EQ(displayForWindow(server, {1920, 0, 100, 100})->scale, 1.5);  // the first match
  server.screenList = {{RecordValue(2), std::numeric_limits<double>::quiet_NaN()}};
  EXPECT_EQ(displayForWindow(server, {1920, 0, 100, 100})->scale, 1.0);
}

TEST_F(PollerTest, OffEveryDisplayKeepsBoundsOnly) {
  show(window({5000, 5000, 100, 100}));
  poller.tick();
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "{\"atUnixMs\":1700000000123,\"bounds\":{\"height\":100,\"width\":100,"
                         "\"x\":5000,\"y\":5000},\"status\":\"visible\",\"windowId\":4711}"});
}

TEST_F(PollerTest, DisplayOrScaleChangeAloneIsANewLine) {
  show(window({1700, 100, 400, 100}));
  poller.tick();
  EXPECT_NE(lines().at(0).find("\"displayId\":1,\"scaleFactor\":2"), std::string::npos);
  server.screenList = {{RecordValue(1), 1.0}, {RecordValue(2), 1.0}};
  poller.tick();
  EXPECT_NE(lines().at(0).find("\"displayId\":1,\"scaleFactor\":1,"), std::string::npos);
  server.displays[1].bounds.x = 1800;  // now most of it lies on display 2
  poller.tick();
  EXPECT_NE(lines().at(0).find("\"displayId\":2"), std::string::npos);
}

TEST(WindowInfo, AsksForTheOneWindowAndTakesOnlyItsRecord) {
  FakeWindowServer server;
  server.onlyTheIncludedWindow = false;
  WindowRecord other = window({0, 0, 10, 10});
  other[0].second = RecordValue(99);
  WindowRecord unnumbered = window({0, 0, 20, 20});
  unnumbered.erase(unnumbered.begin());
  WindowRecord inexact = window({0, 0, 30, 30});
  inexact[0].second = RecordValue(kWindow + 0.5);
  WindowRecord wholeDouble = window({0, 0, 40, 40});
  wholeDouble[0].second = RecordValue(double(kWindow));
  server.windows = std::vector<RecordValue>{other, unnumbered, inexact, wholeDouble};
  const auto found = windowInfo(server, kWindow);
  ASSERT_TRUE(found);
  EXPECT_EQ(rectFromDictionary(*find(*found, kCGWindowBounds)), (Rect{0, 0, 40, 40}));
  ASSERT_EQ(server.queries.size(), 1u);
  EXPECT_EQ(server.queries[0].options, 24u);
  EXPECT_EQ(server.queries[0].relativeToWindow, kWindow);

  server.windows = std::vector<RecordValue>{other, inexact};
  EXPECT_FALSE(windowInfo(server, kWindow));
  server.windows = std::vector<RecordValue>{wholeDouble, RecordValue("not a record")};
  EXPECT_FALSE(windowInfo(server, kWindow));  // not a list of records
  server.windows = std::nullopt;
  EXPECT_FALSE(windowInfo(server, kWindow));
}

TEST(Signature, EqualExactlyWhenEverythingIsEqual) {
  const Rect r{0.1 + 0.2, 0, 10, 10};
  const Rect s{0.3, 0, 10, 10};
  EXPECT_NE(signature("visible", r, std::nullopt), signature("visible", s, std::nullopt));
  EXPECT_EQ(signature("visible", r, DisplayMatch{1, 2}),
            signature("visible", r, DisplayMatch{1, 2}));
  EXPECT_NE(signature("visible", r, DisplayMatch{1, 2}),
            signature("visible", r, DisplayMatch{1, 2.0000001}));
  EXPECT_NE(signature("visible", r, DisplayMatch{1, 2}),
            signature("visible", r, DisplayMatch{12, 2}));
  // Bounds never collide with "no bounds", nor one field with its neighbour.
  EXPECT_NE(signature("unavailable", std::nullopt, std::nullopt),
            signature("unavailable", Rect{0, 0, 0, 0}, std::nullopt));
  EXPECT_NE(signature("visible", Rect{1, 23, 4, 5}, std::nullopt),
            signature("visible", Rect{12, 3, 4, 5}, std::nullopt));
}

class InputTest : public PollerTest {
 protected:
  FakeActivation activation;
  FakeRunLoop runLoop;
  void say(const std::string& line) { handleInputLine(line, poller, activation, runLoop); }
};

TEST_F(InputTest, ActivateBeforeTheWindowWasFoundIsIgnored) {
  activation.running = {321};
  say("activate");
  EXPECT_TRUE(activation.lookups.empty());
  EXPECT_TRUE(runLoop.mainQueue.empty());
}

TEST_F(InputTest, ActivateIsExactAndRunsOnTheMainThread) {
  activation.running = {321};
  show(window({10, 10, 300, 200}));
  poller.tick();
  for (const char* ignored : {"Activate", "ACTIVATE", " activate", "activate ", "activate\t",
                              "activatex", "", "activate\r\r"}) {
    say(ignored);
  }
  EXPECT_TRUE(activation.lookups.empty());
  say("activate");
  EXPECT_EQ(activation.lookups, std::vector<std::int32_t>{321});
  EXPECT_TRUE(activation.activations.empty());  // not on the reader's thread
  runLoop.drainMain();
  EXPECT_EQ(activation.activations, std::vector<std::int32_t>{321});
}

TEST_F(InputTest, OwnerIsKeptAfterCloseAndFollowsTheRecord) {
  activation.running = {321, 654};
  EXPECT_EQ(poller.lastOwnerPid(), 0);
  show(window({10, 10, 300, 200}));
  poller.tick();
  show(window({10, 10, 300, 200}, true, 1.0, std::nullopt));  // no owner: the last one stays
  poller.tick();
  EXPECT_EQ(poller.lastOwnerPid(), 321);
  hide();
  for (int i = 0; i < 4; ++i) poller.tick();
  say("activate");
  show(window({10, 10, 0.2, 0.2}, true, 1.0, 654));  // unusable bounds still give the owner
  poller.tick();
  say("activate");
  runLoop.drainMain();
  EXPECT_EQ(activation.activations, (std::vector<std::int32_t>{321, 654}));
}

TEST_F(InputTest, OwnerThatNoLongerRunsIsIgnored) {
  show(window({10, 10, 300, 200}));
  poller.tick();
  say("activate");
  EXPECT_EQ(activation.lookups.size(), 1u);
  EXPECT_TRUE(runLoop.mainQueue.empty());
}

TEST(Run, WiringOrderAndInterval) {
  FakeWindowServer server;
  server.displays = {{1, {0, 0, 800, 600}}};
  server.windows = std::vector<RecordValue>{RecordValue(window({1, 2, 30, 40}))};
  CapturedOutput output;
  FakeActivation activation;
  activation.running = {321};
  FakeRunLoop runLoop;
  EXPECT_EQ(run({kWindow, 16}, server, activation, runLoop, output, [] { return kNow; }), 0);
  EXPECT_TRUE(runLoop.signalsInstalled);
  EXPECT_EQ(runLoop.runs, 1);
  ASSERT_EQ(runLoop.timers.size(), 1u);
  EXPECT_DOUBLE_EQ(runLoop.timers[0].intervalSeconds, 0.016);
  EXPECT_EQ(server.queries.size(), 1u);  // the first tick, before the loop runs
  EXPECT_EQ(output.outWrites, 2);
  ASSERT_TRUE(runLoop.inputReader);
}

}  // namespace
}  // namespace orvane::windowbounds
