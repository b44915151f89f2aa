#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "event_tap_fake.hpp"
#include "field_source.hpp"
#include "output.hpp"
#include "recorder.hpp"

namespace orvane::eventtap {
namespace {

using namespace std::chrono_literals;

// A field source whose answers come when the test says, and that records how long the
// recorder was prepared to wait.
struct ScriptedSource : FieldSource {
  std::vector<std::uint64_t> requests;
  std::vector<std::uint64_t> movers;  // requests that may move focus
  std::vector<FieldAnswer> answers;
  std::vector<std::pair<std::uint64_t, std::chrono::nanoseconds>> waits;
  void request(std::uint64_t id, bool movesFocus) override {
    requests.push_back(id);
    if (movesFocus) movers.push_back(id);
  }
  std::vector<FieldAnswer> take() override { return std::exchange(answers, {}); }
  void waitFor(std::uint64_t id, std::chrono::nanoseconds timeout) override {
    waits.emplace_back(id, timeout);
  }
  std::uint64_t changes = 0;  // focus changes learnt of so far
  std::uint64_t mark() const override { return changes; }
};

struct LateFieldTest : ::testing::Test {
  std::int64_t uptime = 5'000'000'000;
  CapturedOutput errors;
  Clocks clocks{[] { return std::int64_t{1733700000000}; }, [this] { return uptime; }};
  ScriptedSource source;
  void advanceMs(std::int64_t ms) { uptime += ms * 1'000'000; }
  std::unique_ptr<Recorder> make(bool redact) {
    auto r = std::make_unique<Recorder>("/dev/null/log.json", redact, clocks, errors, kSourceX11);
    r->setFieldSource(&source);
    return r;
  }
};

const EventField kSecure{"AXTextField", "AXSecureTextField", "Password", "", true};
const EventField kPlain{"AXTextField", "", "Notes", "", false};

TEST_F(LateFieldTest, AnEventKeepsItsOwnTimeAndPlaceWhileItWaitsForItsField) {
  auto r = make(false);
  r->record(EventType::leftMouseDown, FakeTapEvent::pointer(10, 20));
  advanceMs(300);
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  EXPECT_EQ(source.requests, (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(source.movers, (std::vector<std::uint64_t>{1}));  // the press, not the letter
  EXPECT_EQ(r->recordedEvents().size(), 0u);
  // One answer for both: the first was asked for before the read began.
  source.answers.push_back({2, kPlain});
  r->collectFields();
  const auto& events = r->recordedEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].timestampMs, 0);
  EXPECT_EQ(events[0].x, 10);
  EXPECT_EQ(events[1].timestampMs, 300);
  ASSERT_TRUE(events[1].field);
  EXPECT_EQ(*events[1].field, kPlain);
  // The application may have answered before it took the click: the text is not kept.
  EXPECT_EQ(events[1].text, "");
  EXPECT_TRUE(events[1].redacted);
}

TEST_F(LateFieldTest, PlainTextIsKeptOnlyWhenFocusCannotHaveMovedBeforeTheRead) {
  auto r = make(false);
  auto key = [&](FieldAnswer answer) {
    r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
    answer.upTo = source.requests.back();
    source.answers.push_back(std::move(answer));
    r->collectFields();
    const RawInputEvent& e = r->recordedEvents().back();
    return std::make_pair(e.text, e.redacted);
  };
  const auto kept = std::make_pair(std::string("a"), false);
  const auto withheld = std::make_pair(std::string(), true);
  EXPECT_EQ(key({0, kPlain, 0, true}), kept);
  EXPECT_EQ(key({0, std::nullopt, 0, true}), kept);  // nothing had focus
  source.changes = 2;
  EXPECT_EQ(key({0, kPlain, 2, true}), kept);
  // A change after the event was taken, or while the read was made.
  EXPECT_EQ(key({0, kPlain, 3, true}), withheld);
  EXPECT_EQ(key({0, kPlain, 2, false}), withheld);
  // A click after the key, answered by the same read or not answered yet.
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  r->record(EventType::leftMouseDown, FakeTapEvent::pointer(1, 1));
  source.answers.push_back({source.requests.end()[-2], kPlain, 2, true});
  r->collectFields();
  EXPECT_EQ(r->recordedEvents().back().text, "");
  source.answers.push_back({source.requests.back(), kPlain, 2, true});
  r->collectFields();
  // A key that may move focus after it (Tab), answered by the same read or not answered yet;
  // a key that types a character does not count.
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  r->record(EventType::keyDown, FakeTapEvent::key(48, "\t"));
  source.answers.push_back({source.requests.end()[-2], kPlain, 2, true});
  r->collectFields();
  EXPECT_EQ(r->recordedEvents().back().text, "");
  source.answers.push_back({source.requests.back(), kPlain, 2, true});
  r->collectFields();
  EXPECT_EQ(r->recordedEvents().back().text, "\t");
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  r->record(EventType::keyDown, FakeTapEvent::key(11, "b"));
  source.answers.push_back({source.requests.back(), kPlain, 2, true});
  r->collectFields();
  const auto& recorded = r->recordedEvents();
  EXPECT_EQ(recorded[recorded.size() - 2].text, "a");

  // Once the tap reports what it has handed over, an event is held against the mark taken
  // before it was sent, however late the recorder takes it.
  r->caughtUp(2);
  source.changes = 4;
  EXPECT_EQ(key({0, kPlain, 4, true}), withheld);
  r->caughtUp(4);
  EXPECT_EQ(key({0, kPlain, 4, true}), kept);
  // A read that came before the application was shown to have handled a press or Tab.
  FieldAnswer unfenced{0, kPlain, 4, true};
  unfenced.unfenced = true;
  EXPECT_EQ(key(unfenced), withheld);
}

TEST_F(LateFieldTest, PlainTextWaitsForTheFieldAndASecureFieldWithholdsIt) {
  auto r = make(false);
  r->record(EventType::keyDown, FakeTapEvent::key(35, "p"));
  r->record(EventType::keyDown, FakeTapEvent::key(13, "w"));
  source.answers.push_back({1, kSecure});
  source.answers.push_back({2, kPlain});
  r->collectFields();
  const auto& events = r->recordedEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].text, "");
  EXPECT_TRUE(events[0].redacted);
  EXPECT_EQ(events[0].keyCode, 35);
  EXPECT_EQ(events[1].text, "w");
  EXPECT_FALSE(events[1].redacted);
}

TEST_F(LateFieldTest, ASilentSourceCostsEachEventItsBudgetAndNoMore) {
  auto r = make(false);
  r->record(EventType::keyDown, FakeTapEvent::key(0, "a"));
  advanceMs(kFieldBudgetMs - 1);
  r->record(EventType::keyDown, FakeTapEvent::key(11, "b"));
  EXPECT_EQ(r->recordedEvents().size(), 0u);
  advanceMs(1);
  r->collectFields();
  // The first ran out of budget: recorded without a field, and without its text, which may
  // have gone to a password field.
  ASSERT_EQ(r->recordedEvents().size(), 1u);
  EXPECT_FALSE(r->recordedEvents()[0].field);
  EXPECT_EQ(r->recordedEvents()[0].text, "");
  EXPECT_TRUE(r->recordedEvents()[0].redacted);
  // An answer that comes too late changes nothing recorded; it still serves the next event.
  source.answers.push_back({2, kSecure});
  r->collectFields();
  ASSERT_EQ(r->recordedEvents().size(), 2u);
  EXPECT_TRUE(r->recordedEvents()[1].redacted);

  // The stop waits for the last event's answer only for what is left of its budget.
  r->record(EventType::keyDown, FakeTapEvent::key(0, "c"));
  advanceMs(100);
  r->finish();
  ASSERT_EQ(source.waits.size(), 1u);
  EXPECT_EQ(source.waits[0].first, 3u);
  EXPECT_EQ(source.waits[0].second, std::chrono::milliseconds(kFieldBudgetMs - 100));
  EXPECT_EQ(r->recordedEvents().size(), 3u);
  EXPECT_FALSE(r->recordedEvents()[2].field);
}

TEST_F(LateFieldTest, TheWaitingQueueIsBounded) {
  auto r = make(true);
  for (std::size_t i = 0; i < kMaxWaitingEvents + 10; ++i) {
    r->record(EventType::scrollWheel, FakeTapEvent::scroll(1, 0));
  }
  EXPECT_EQ(r->waitingEvents(), kMaxWaitingEvents);
  EXPECT_EQ(r->recordedEvents().size(), 10u);
}

TEST(FieldWorker, ASlowReadHoldsUpNeitherTheCallerNorLaterRequests) {
  std::atomic<int> reads = 0;
  std::atomic<bool> release = false;
  std::atomic<int> wakes = 0;
  std::thread::id readerThread;
  FieldWorker worker(
      [&] {
        readerThread = std::this_thread::get_id();
        return FieldWorker::Reader{[&]() -> std::optional<EventField> {
                                     ++reads;
                                     while (!release) std::this_thread::sleep_for(1ms);
                                     return kPlain;
                                   },
                                   {},
                                   {},
                                   {},
                                   {},
                                   {}};
      },
      [&] { ++wakes; });
  const auto start = std::chrono::steady_clock::now();
  worker.request(1);
  while (reads == 0) std::this_thread::sleep_for(1ms);
  // The read of 1 is stuck; these wait in one place, not one each.
  worker.request(2);
  worker.request(3);
  worker.waitFor(1, 20ms);
  EXPECT_TRUE(worker.take().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  release = true;
  worker.waitFor(3, 10s);
  const auto answers = worker.take();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].upTo, 1u);
  EXPECT_EQ(answers[1].upTo, 3u);
  EXPECT_EQ(reads, 2);
  // The caller is woken once per answer, after the answer is there to take.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (wakes < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(wakes, 2);
  EXPECT_NE(readerThread, std::this_thread::get_id());
}

// A service whose events come while the worker waits on it: a focus change is handled as it
// comes, so a read asked for meanwhile is made at once, before a change that came after the
// request; a read that follows another read handles what came meanwhile first.
// A service whose events are handled by `pump` (focus moves to what is pending) and whose wait
// ends only when interrupted. `inFlight` is what a read's round trip brings: pending after it.
struct ScriptedService {
  std::mutex mutex;
  std::condition_variable cv;
  bool interrupted = false;
  std::string focus = "first", pending;
  std::vector<std::string> inFlight;
  std::uint64_t changes = 0;
  int reads = 0;
  bool release = true;  // reads wait for it

  FieldWorker::Reader reader(const std::shared_ptr<ScriptedService>& self) {
    FieldWorker::Reader r;
    r.read = [self]() -> std::optional<EventField> {
      std::unique_lock lock(self->mutex);
      ++self->reads;
      self->cv.wait(lock, [&] { return self->release; });
      EventField f;
      f.title = self->focus;
      if (!self->inFlight.empty()) {
        self->pending = self->inFlight.front();
        self->inFlight.erase(self->inFlight.begin());
      }
      return f;
    };
    r.pump = [self] {
      std::lock_guard lock(self->mutex);
      if (self->pending.empty()) return;
      self->focus = std::exchange(self->pending, "");
      ++self->changes;
    };
    r.wait = [self] {
      std::unique_lock lock(self->mutex);
      self->cv.wait(lock, [&] { return self->interrupted; });
      self->interrupted = false;
    };
    r.interrupt = [self] {
      {
        std::lock_guard lock(self->mutex);
        self->interrupted = true;
      }
      self->cv.notify_all();
    };
    r.changes = [self] {
      std::lock_guard lock(self->mutex);
      return self->changes;
    };
    return r;
  }
};

std::vector<FieldAnswer> answersUpTo(FieldWorker& worker, std::uint64_t id) {
  worker.waitFor(id, 10s);
  return worker.take();
}

TEST(FieldWorker, EventsReceivedBeforeAReadAreHandledBeforeItEvenRightAfterAWait) {
  // A wait can end with the service's events received but not all handled (a focus loss
  // handled, the gain that came with it not yet): the read must not describe that.
  auto service = std::make_shared<ScriptedService>();
  FieldWorker worker([&] { return service->reader(service); }, [] {});
  // Before the service has told any focus change, an unchanged count proves nothing: the
  // applications may not yet know that anyone listens.
  worker.request(1);
  auto first = answersUpTo(worker, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_FALSE(first[0].followed);
  std::this_thread::sleep_for(20ms);  // the worker is waiting on the service
  {
    std::lock_guard lock(service->mutex);
    service->pending = "second";
  }
  worker.request(2);
  auto answers = answersUpTo(worker, 2);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].field->title, "second");
  EXPECT_TRUE(answers[0].followed);
  EXPECT_EQ(service->reads, 2);
}

TEST(FieldWorker, AReadThatBringsAFocusChangeIsMadeAgainWithinABound) {
  // The focus change was sent before the read's answer, so the event it answers came after it.
  auto service = std::make_shared<ScriptedService>();
  service->inFlight = {"second"};
  {
    FieldWorker worker([&] { return service->reader(service); }, [] {});
    worker.request(1);
    const auto answers = answersUpTo(worker, 1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].field->title, "second");
    EXPECT_EQ(service->reads, 2);
    // A read that brings nothing is not repeated.
    worker.request(2);
    EXPECT_EQ(answersUpTo(worker, 2).at(0).field->title, "second");
    EXPECT_EQ(service->reads, 3);
  }
  // Focus that keeps moving under every read costs a bounded number of reads.
  service = std::make_shared<ScriptedService>();
  service->inFlight = {"a", "b", "c", "d", "e", "f"};
  FieldWorker worker([&] { return service->reader(service); }, [] {});
  worker.request(1);
  const auto answers = answersUpTo(worker, 1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(service->reads, 3);
  EXPECT_EQ(answers[0].field->title, "b");
}

TEST(FieldWorker, AReadAfterInputThatMayMoveFocusWaitsUntilItWasHandled) {
  auto service = std::make_shared<ScriptedService>();
  std::atomic<int> fences = 0;
  std::atomic<bool> shown = true;
  FieldWorker worker(
      [&] {
        auto r = service->reader(service);
        r.fence = [&]() -> std::optional<bool> {
          ++fences;
          return shown.load();
        };
        return r;
      },
      [] {});
  // Letters alone need no fence; a press or Tab makes the next read wait for one.
  worker.request(1);
  EXPECT_FALSE(answersUpTo(worker, 1).at(0).unfenced);
  EXPECT_EQ(fences, 0);
  worker.request(2, true);
  EXPECT_FALSE(answersUpTo(worker, 2).at(0).unfenced);
  EXPECT_EQ(fences, 1);
  worker.request(3);
  answersUpTo(worker, 3);
  EXPECT_EQ(fences, 1);
  // Not shown in time: the answer says so, and the next read waits for it again.
  shown = false;
  worker.request(4, true);
  EXPECT_TRUE(answersUpTo(worker, 4).at(0).unfenced);
  shown = true;
  worker.request(5);
  EXPECT_FALSE(answersUpTo(worker, 5).at(0).unfenced);
  EXPECT_EQ(fences, 3);
}

}  // namespace
}  // namespace orvane::eventtap
