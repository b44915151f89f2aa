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
  std::vector<FieldAnswer> answers;
  std::vector<std::pair<std::uint64_t, std::chrono::nanoseconds>> waits;
  void request(std::uint64_t id) override { requests.push_back(id); }
  std::vector<FieldAnswer> take() override { return std::exchange(answers, {}); }
  void waitFor(std::uint64_t id, std::chrono::nanoseconds timeout) override {
    waits.emplace_back(id, timeout);
  }
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
  EXPECT_EQ(r->recordedEvents().size(), 0u);
  // One answer for both: the first was asked for before the read began.
  source.answers.push_back({2, kPlain});
  r->collectFields();
  const auto& events = r->recordedEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].timestampMs, 0);
  EXPECT_EQ(events[0].x, 10);
  EXPECT_EQ(events[1].timestampMs, 300);
  EXPECT_EQ(events[1].text, "a");
  ASSERT_TRUE(events[1].field);
  EXPECT_EQ(*events[1].field, kPlain);
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
  // The first ran out of budget: recorded without a field, as when the query fails.
  ASSERT_EQ(r->recordedEvents().size(), 1u);
  EXPECT_FALSE(r->recordedEvents()[0].field);
  EXPECT_EQ(r->recordedEvents()[0].text, "a");
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
TEST(FieldWorker, AWaitedServiceIsReadAtOnceAndBetweenReadsItsEventsComeFirst) {
  struct Service {
    std::mutex mutex;
    std::condition_variable cv;
    bool interrupted = false;
    std::string focus = "first", pending;
    int reads = 0;
    bool release = false;  // the first read waits for it
  };
  auto service = std::make_shared<Service>();
  auto field = [](const std::string& title) {
    EventField f;
    f.title = title;
    return f;
  };
  FieldWorker worker(
      [&] {
        FieldWorker::Reader reader;
        reader.read = [service, field]() -> std::optional<EventField> {
          std::unique_lock lock(service->mutex);
          if (++service->reads == 1) service->cv.wait(lock, [&] { return service->release; });
          return field(service->focus);
        };
        reader.pump = [service] {
          std::lock_guard lock(service->mutex);
          if (!service->pending.empty()) service->focus = std::exchange(service->pending, "");
        };
        // This service's wait only ends when interrupted: what is pending came too late for it.
        reader.wait = [service] {
          std::unique_lock lock(service->mutex);
          service->cv.wait(lock, [&] { return service->interrupted; });
          service->interrupted = false;
        };
        reader.interrupt = [service] {
          {
            std::lock_guard lock(service->mutex);
            service->interrupted = true;
          }
          service->cv.notify_all();
        };
        return reader;
      },
      [] {});
  std::this_thread::sleep_for(20ms);  // the worker is waiting on the service
  {
    std::lock_guard lock(service->mutex);
    service->pending = "second";
  }
  worker.request(1);
  for (;;) {
    std::lock_guard lock(service->mutex);
    if (service->reads == 1) break;
  }
  // Asked for while the first read is under way: the second read follows it straight away.
  worker.request(2);
  {
    std::lock_guard lock(service->mutex);
    service->release = true;
  }
  service->cv.notify_all();
  worker.waitFor(2, 10s);
  const auto answers = worker.take();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].field->title, "first");
  EXPECT_EQ(answers[1].field->title, "second");
}

}  // namespace
}  // namespace orvane::eventtap
