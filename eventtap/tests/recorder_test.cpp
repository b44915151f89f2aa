#include "recorder.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "accessibility_fake.hpp"
#include "event_tap_fake.hpp"
#include "log_file.hpp"
#include "run_loop_fake.hpp"

namespace orvane::eventtap {
namespace {

// Clocks that move only when the test says so, and remember the order they were read in.
struct ManualClocks {
  std::int64_t wallMs = 1733700000000;
  std::int64_t uptime = 1'000'000'000'000;  // nanoseconds
  std::vector<char> reads;

  Clocks clocks() {
    return {[this] {
              reads.push_back('w');
              return wallMs;
            },
            [this] {
              reads.push_back('u');
              return uptime;
            }};
  }
  void advanceMs(double ms) { uptime += static_cast<std::int64_t>(ms * 1e6); }
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/eventtap-recorder-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    path = dir + "/log.json";
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  std::unique_ptr<Recorder> make(bool redact) {
    auto r = std::make_unique<Recorder>(path, redact, time.clocks(), errors, kSourceX11, 1);
    r->setFocusReader([this] { return focusedField(ax); });
    return r;
  }
  // Focus on a new element with these role and subrole (and a title).
  void focus(std::string role, std::string subrole, std::string title = "Name") {
    const auto id = ax.add({{"AXRole", std::move(role)},
                            {"AXSubrole", std::move(subrole)},
                            {"AXTitle", std::move(title)}});
    ax.setFocused(id);
  }
  const RawInputEvent& last(const Recorder& r) { return r.recordedEvents().back(); }

  std::string dir, path;
  ManualClocks time;
  FakeAccessibility ax;
  CapturedOutput errors;
};

TEST(EventTapArguments, RedactionIsOffOnlyForExactlyPlain) {
  EXPECT_FALSE(parseArguments({}).outputPath);
  const auto alone = parseArguments({"/tmp/a.json"});
  EXPECT_EQ(alone.outputPath, "/tmp/a.json");
  EXPECT_TRUE(alone.redactionEnabled);
  EXPECT_FALSE(parseArguments({"a", "plain"}).redactionEnabled);
  EXPECT_FALSE(parseArguments({"a", "plain", "redact"}).redactionEnabled);
  for (const char* mode : {"Plain", "PLAIN", "plain ", "redact", "", "x"}) {
    EXPECT_TRUE(parseArguments({"a", mode}).redactionEnabled) << mode;
  }
  EXPECT_TRUE(parseArguments({"a", "redact", "plain"}).redactionEnabled);
  // The path is taken as it is, even when it looks like an option.
  EXPECT_EQ(parseArguments({"--help"}).outputPath, "--help");
}

TEST(EventTapMask, TheNineTypesOfInterest) {
  EXPECT_EQ(eventMask(eventTypesOfInterest, std::size(eventTypesOfInterest)), 0x4004FEu);
  const std::uint32_t outOfRange[] = {64, 0xFFFFFFFF, 1};
  EXPECT_EQ(eventMask(outOfRange, 3), 0x2u);
}

TEST_F(RecorderTest, ClocksAreReadAtCreationWallClockFirst) {
  time.uptime = 1'234'567'800'000;
  auto r = make(true);
  EXPECT_EQ(time.reads, (std::vector<char>{'w', 'u'}));
  EXPECT_EQ(r->startedAt(), 1733700000000);
  EXPECT_EQ(r->startedAtUptimeSeconds(), 1234.5678);
  time.advanceMs(49.9);
  EXPECT_EQ(r->elapsedMs(), 49);  // truncated, not rounded
  time.advanceMs(0.2);
  EXPECT_EQ(r->elapsedMs(), 50);
}

TEST_F(RecorderTest, CursorThrottleKeepsSamplesFiftyMillisecondsApart) {
  auto r = make(true);
  auto move = FakeTapEvent::pointer(10, 20);
  r->recordCursor(move);  // the first move is always sampled
  time.advanceMs(49);
  auto dropped = FakeTapEvent::pointer(11, 21);
  r->recordCursor(dropped);
  // A dropped move costs no pointer query.
  EXPECT_EQ(dropped.locationReads, 0);
  // A click in between neither samples nor resets the throttle.
  time.advanceMs(0.5);
  r->record(EventType::leftMouseDown, FakeTapEvent::pointer(12, 22));
  time.advanceMs(0.5);
  auto kept = FakeTapEvent::pointer(13, 23);
  r->recordCursor(kept);
  EXPECT_EQ(kept.locationReads, 1);
  const auto& path = r->recordedCursorPath();
  ASSERT_EQ(path.size(), 2u);
  EXPECT_EQ(path[0].timestampMs, 0);
  EXPECT_EQ(path[0].x, 10);
  EXPECT_EQ(path[1].timestampMs, 50);
  EXPECT_EQ(path[1].y, 23);
  EXPECT_EQ(r->recordedEvents().size(), 1u);
}

TEST_F(RecorderTest, RedactModeNeverKeepsTypedTextButKeepsTheKeyCode) {
  auto r = make(true);
  focus("AXTextField", "");
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  EXPECT_EQ(last(*r).text, "");
  EXPECT_TRUE(last(*r).redacted);
  EXPECT_EQ(last(*r).keyCode, 0);
  ax.setFocused(std::nullopt);
  r->record(EventType::keyDown, FakeTapEvent::key(11, "b"));
  EXPECT_EQ(last(*r).text, "");
  EXPECT_TRUE(last(*r).redacted);
  EXPECT_EQ(last(*r).keyCode, 11);
  EXPECT_FALSE(last(*r).field);
  // A key without characters is not redacted: there was nothing to withhold.
  r->record(EventType::keyDown, FakeTapEvent::key(123, ""));
  EXPECT_FALSE(last(*r).redacted);
  EXPECT_EQ(last(*r).keyCode, 123);
}

TEST_F(RecorderTest, PlainModeWithholdsTextOnlyInSecureFields) {
  auto r = make(false);
  focus("AXTextField", "");
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  EXPECT_EQ(last(*r).text, "a");
  EXPECT_FALSE(last(*r).redacted);
  ASSERT_TRUE(last(*r).field);
  EXPECT_EQ(last(*r).field->title, "Name");
  EXPECT_FALSE(last(*r).field->secure);

  for (const auto& [role, subrole] :
       std::vector<std::pair<std::string, std::string>>{{"AXTextField", "AXSecureTextField"},
                                                        {"AXSECURETEXTFIELD", ""},
                                                        {"axsecure", ""},
                                                        {"AXGroup", "SeCuRe"}}) {
    focus(role, subrole);
    r->record(EventType::keyDown, FakeTapEvent::key(1, "s"));
    EXPECT_EQ(last(*r).text, "") << role << "/" << subrole;
    EXPECT_TRUE(last(*r).redacted) << role << "/" << subrole;
    EXPECT_TRUE(last(*r).field->secure);
    EXPECT_EQ(last(*r).keyCode, 1);
  }
  r->record(EventType::keyDown, FakeTapEvent::key(124, ""));
  EXPECT_FALSE(last(*r).redacted);

  ax.setFocused(std::nullopt);
  r->record(EventType::keyDown, FakeTapEvent::key(2, "d"));
  EXPECT_EQ(last(*r).text, "d");
  EXPECT_FALSE(last(*r).field);
}

TEST_F(RecorderTest, EveryDiscreteEventReadsTheFocusedElementWithFiveQueries) {
  auto r = make(true);
  // A focused element without title or description, and with a subrole of another kind.
  const auto id = ax.add({{"AXRole", std::string("AXButton")}, {"AXSubrole", true}});
  ax.setFocused(id);
  const auto before = ax.reads.size();
  r->record(EventType::scrollWheel, FakeTapEvent::scroll(-2.5, 1));
  EXPECT_EQ(ax.reads.size() - before, 5u);
  const auto& e = last(*r);
  ASSERT_TRUE(e.field);
  EXPECT_EQ(*e.field, (EventField{"AXButton", "", "", "", false}));
  EXPECT_EQ(e.deltaX, 1);
  EXPECT_EQ(e.deltaY, -2.5);
  EXPECT_EQ(e.keyCode, -1);
  EXPECT_EQ(e.button, MouseButton::none);

  // An element that answers nothing still is the focused element: every text is empty.
  ax.setUnresponsive(id);
  r->record(EventType::rightMouseDown, FakeTapEvent::pointer(5, 6));
  ASSERT_TRUE(last(*r).field);
  EXPECT_EQ(*last(*r).field, EventField{});
  EXPECT_EQ(last(*r).button, MouseButton::right);
  EXPECT_EQ(last(*r).x, 5);
  EXPECT_EQ(last(*r).deltaX, 0);
  // The system-wide element answering nothing: no field at all.
  ax.setUnresponsive(ax.systemWideId());
  r->record(EventType::leftMouseUp, FakeTapEvent::pointer(5, 6));
  EXPECT_FALSE(last(*r).field);
  EXPECT_EQ(last(*r).button, MouseButton::left);
}

TEST_F(RecorderTest, EventsThatSawTheSameFieldShareOneCopy) {
  auto r = make(true);
  focus("AXTextField", "");
  const auto first = ax.add({{"AXRole", std::string("AXTextField")}});
  ax.setFocused(first);
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  focus("AXButton", "");
  r->record(EventType::leftMouseDown, FakeTapEvent{});
  ax.setFocused(first);
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  const auto& events = r->recordedEvents();
  EXPECT_EQ(events[0].field.get(), events[2].field.get());
  EXPECT_NE(events[0].field.get(), events[1].field.get());
}

TEST_F(RecorderTest, TapEventsByType) {
  auto r = make(true);
  FakeTapEvent e = FakeTapEvent::pointer(1, 2);
  for (std::uint32_t type : {kCGEventLeftMouseDown, kCGEventLeftMouseUp, kCGEventRightMouseDown,
                             kCGEventRightMouseUp, kCGEventKeyDown, kCGEventScrollWheel}) {
    handleTapEvent(r.get(), type, e);
  }
  for (std::uint32_t type :
       {kCGEventKeyUp, kCGEventFlagsChanged, kCGEventOtherMouseDown, kCGEventOtherMouseUp,
        kCGEventOtherMouseDragged, kCGEventTapDisabledByTimeout, kCGEventTapDisabledByUserInput}) {
    handleTapEvent(r.get(), type, e);
  }
  std::vector<std::string_view> names;
  r->recordedEvents().forEach([&](const RawInputEvent& ev) { names.push_back(typeName(ev.type)); });
  EXPECT_EQ(names, (std::vector<std::string_view>{"leftMouseDown", "leftMouseUp", "rightMouseDown",
                                                  "rightMouseUp", "keyDown", "scrollWheel"}));
  for (std::uint32_t type :
       {kCGEventMouseMoved, kCGEventLeftMouseDragged, kCGEventRightMouseDragged}) {
    handleTapEvent(r.get(), type, e);
    time.advanceMs(50);
  }
  EXPECT_EQ(r->recordedCursorPath().size(), 3u);
  handleTapEvent(nullptr, kCGEventKeyDown, e);  // before a recorder exists: nothing happens
}

TEST_F(RecorderTest, FinishWritesTheLogOnceAndTheDurationCoversEveryTimestamp) {
  auto r = make(false);
  time.advanceMs(10);
  r->record(EventType::keyDown, FakeTapEvent::key(39, "\"\\\x01"));
  time.advanceMs(70);
  r->recordCursor(FakeTapEvent::pointer(3.5, 4));
  time.advanceMs(0.9);
  r->finish();
  EXPECT_TRUE(r->isFinished());
  EXPECT_EQ(errors.err, "");
  EXPECT_EQ(readFile(path),
            R"({"version":1,"source":"x11_xinput2","startedAtUnixMs":1733700000000,)"
            R"("monotonicStartedAtSeconds":1000,"durationMs":80,"redactionEnabled":false,)"
            R"("events":[{"type":"keyDown","timestampMs":10,"x":0,"y":0,"button":"","keyCode":39,)"
            R"("text":"\"\\\u0001","redacted":false,"deltaX":0,"deltaY":0}],)"
            R"("cursorPath":[{"timestampMs":80,"x":3.5,"y":4}]})");
  ASSERT_EQ(unlink(path.c_str()), 0);
  r->finish();
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST_F(RecorderTest, EmptyRecordingStillWritesACompleteLogInNewDirectories) {
  path = dir + "/a/b/log.json";
  auto r = make(true);
  r->finish();
  EXPECT_EQ(readFile(path),
            R"({"version":1,"source":"x11_xinput2","startedAtUnixMs":1733700000000,)"
            R"("monotonicStartedAtSeconds":1000,"durationMs":0,"redactionEnabled":true,)"
            R"("events":[],"cursorPath":[]})");
}

TEST_F(RecorderTest, AFailedWriteIsOneLineOnStandardError) {
  std::ofstream(dir + "/file") << "x";
  path = dir + "/file/log.json";
  auto r = make(true);
  r->finish();
  EXPECT_EQ(errors.err, "Orvane event log write failed: " + dir + "/file: Not a directory\n");
  r->finish();
  EXPECT_EQ(std::count(errors.err.begin(), errors.err.end(), '\n'), 1);

  // A non-finite position cannot be written as JSON: the log fails as a whole.
  errors.err.clear();
  path = dir + "/nan.json";
  auto n = make(true);
  n->record(EventType::leftMouseDown, FakeTapEvent::pointer(std::nan(""), 0));
  n->finish();
  EXPECT_EQ(errors.err,
            "Orvane event log write failed: the log holds a number that is not finite\n");
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// As on macOS: a service that cannot wait for events; counts how often it is asked to handle
// them.
struct PumpCounting : FakeAccessibility {
  std::atomic<int>& pumps;
  explicit PumpCounting(std::atomic<int>& p) : pumps(p) {}
  void dispatchPending() override { ++pumps; }
};

// The whole program over fakes: the order of start-up, the tap, the stop and the statuses.
class RunTest : public RecorderTest {
 protected:
  Platform platform() {
    return Platform{loop,
                    [this] {
                      accessibilityThread = std::this_thread::get_id();
                      auto fake = std::make_unique<PumpCounting>(pumps);
                      // The field the test expects, in place before the worker reads anything.
                      const auto field =
                          fake->add({{"AXRole", std::string("AXTextField")},
                                     {"AXSubrole", std::string("AXSecureTextField")}});
                      fake->setFocused(field);
                      accessibility = fake.get();
                      return std::unique_ptr<Accessibility>(std::move(fake));
                    },
                    [this] {
                      order.push_back(loop.terminationAction ? "taps after signals" : "taps");
                      auto fake = std::make_unique<FakeEventTaps>();
                      fake->failCreate = failCreate;
                      taps = fake.get();
                      return std::unique_ptr<EventTaps>(std::move(fake));
                    },
                    errors,
                    time.clocks(),
                    77,
                    kSourceX11,
                    [this](int status) { exits.push_back(status); },
                    [this] { order.push_back(taps ? "stop in place late" : "stop in place"); }};
  }

  FakeRunLoop loop;
  std::atomic<FakeAccessibility*> accessibility = nullptr;
  std::atomic<int> pumps = 0;
  std::thread::id accessibilityThread;
  FakeEventTaps* taps = nullptr;
  bool failCreate = false;
  std::vector<std::string> order;
  std::vector<int> exits;
};

TEST_F(RunTest, RecordsUntilTheSignalThenWritesTheLogAndExitsZero) {
  auto p = platform();
  std::shared_ptr<FakeEventTaps::Tap> tapState;
  loop.whileRunning = [&] {
    tapState = taps->taps.back();
    const auto& tap = taps->tap();
    EXPECT_EQ(tap.mask, 0x4004FEu);
    EXPECT_TRUE(tap.added);
    EXPECT_EQ(tap.enables, std::vector<bool>{true});
    while (!accessibility) std::this_thread::yield();
    EXPECT_TRUE(taps->post(kCGEventKeyDown, FakeTapEvent::key(0, "a")));
    // A tap the system switched off for being slow is switched on again...
    taps->disable(kCGEventTapDisabledByTimeout);
    EXPECT_EQ(taps->tap().enables, (std::vector<bool>{true, true}));
    EXPECT_TRUE(taps->post(kCGEventKeyDown, FakeTapEvent::key(1, "s")));
    // ...one switched off at the user's request stays off, and one line says so.
    taps->disable(kCGEventTapDisabledByUserInput);
    taps->disable(kCGEventTapDisabledByUserInput);
    EXPECT_EQ(taps->tap().enables, (std::vector<bool>{true, true}));
    EXPECT_FALSE(taps->post(kCGEventKeyDown, FakeTapEvent::key(2, "d")));
    EXPECT_EQ(errors.err, kTapDisabledByUser);
    time.advanceMs(5);
    loop.terminate();
    loop.terminate();  // a second signal changes nothing
  };
  EXPECT_EQ(run(parseArguments({path, "plain"}), p), 0);
  // The accessibility service is made and used on a thread of its own.
  EXPECT_EQ(order, (std::vector<std::string>{"stop in place", "taps after signals"}));
  EXPECT_NE(accessibilityThread, std::this_thread::get_id());
  EXPECT_EQ(exits, (std::vector<int>{0, 0}));
  const std::string log = readFile(path);
  // The stop waited for the field of the last key (a secure one) before building the log.
  EXPECT_NE(log.find(R"("keyCode":0,"text":"","redacted":true)"), std::string::npos) << log;
  EXPECT_NE(log.find(R"("keyCode":1,"text":"","redacted":true)"), std::string::npos) << log;
  EXPECT_NE(log.find(R"("durationMs":5,"redactionEnabled":false)"), std::string::npos) << log;
  EXPECT_EQ(log.find("\"a\""), std::string::npos);
  EXPECT_TRUE(tapState->destroyed);
}

TEST_F(RunTest, TheStopTakesTheInputTheTapStillHoldsBeforeTheLog) {
  auto p = platform();
  loop.whileRunning = [&] {
    // Sent to the tap, not yet handed over when the signal comes.
    taps->tap().held.push_back({kCGEventKeyDown, FakeTapEvent::key(0, "a")});
    taps->tap().held.push_back({kCGEventLeftMouseDown, FakeTapEvent::pointer(3, 4)});
    loop.terminate();
  };
  EXPECT_EQ(run(parseArguments({path, "plain"}), p), 0);
  const std::string log = readFile(path);
  EXPECT_NE(log.find(R"("type":"keyDown")"), std::string::npos) << log;
  EXPECT_NE(log.find(R"("type":"leftMouseDown","timestampMs":0,"x":3,"y":4)"), std::string::npos)
      << log;
}

TEST_F(RunTest, AServiceWithoutEventsLeavesTheIdleFieldWorkerAsleep) {
  auto p = platform();
  loop.whileRunning = [&] {
    while (!accessibility) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(pumps, 0);
    loop.terminate();
  };
  EXPECT_EQ(run(parseArguments({path}), p), 0);
}

TEST_F(RunTest, NoTapMeansStatusOneTheMessageAndNoLog) {
  failCreate = true;
  auto p = platform();
  EXPECT_EQ(run(parseArguments({path}), p), 1);
  EXPECT_EQ(errors.err,
            "Orvane could not create CGEventTap. Accessibility permission is required.\n");
  EXPECT_EQ(loop.runs, 0);
  EXPECT_TRUE(exits.empty());
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST_F(RunTest, ARunLoopThatReturnsEndsWithStatusZeroAndNoLog) {
  auto p = platform();
  EXPECT_EQ(run(parseArguments({path}), p), 0);
  EXPECT_EQ(loop.runs, 1);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace orvane::eventtap
