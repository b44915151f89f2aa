#include "field_source.hpp"

namespace orvane::eventtap {
namespace {
// How often an idle worker lets the service handle its own events (focus changes).
constexpr auto kPumpInterval = std::chrono::milliseconds(50);
}  // namespace

FieldWorker::FieldWorker(std::function<Reader()> start, std::function<void()> wake)
    : wake_(std::move(wake)) {
  thread_ = std::thread([this, start = std::move(start)] { work(start); });
}

FieldWorker::~FieldWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (interrupt_) interrupt_();
  }
  changed_.notify_all();
  thread_.join();
}

void FieldWorker::request(std::uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    if (id <= requested_) return;
    requested_ = id;
    if (interrupt_) interrupt_();
  }
  changed_.notify_all();
}

std::vector<FieldAnswer> FieldWorker::take() {
  std::lock_guard lock(mutex_);
  return std::exchange(answers_, {});
}

void FieldWorker::waitFor(std::uint64_t id, std::chrono::nanoseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return answered_ >= id; });
}

void FieldWorker::work(std::function<Reader()> start) {
  const Reader reader = start();
  const bool waits = reader.wait && reader.interrupt;
  std::unique_lock lock(mutex_);
  if (waits) interrupt_ = reader.interrupt;
  // Whether the service's events were handled as they came since the last read. A read must
  // see every focus change made before its events, and as few as possible made after them:
  // a service that is waited on is read at once; otherwise (or straight after another read)
  // what it has sent meanwhile is handled first.
  bool current = false;
  for (;;) {
    if (stopping_) return;
    if (requested_ <= answered_) {
      lock.unlock();
      if (waits) {
        reader.wait();
      } else {
        std::unique_lock idle(mutex_);
        changed_.wait_for(idle, kPumpInterval, [&] { return stopping_ || requested_ > answered_; });
        const bool woken = stopping_ || requested_ > answered_;
        idle.unlock();
        if (!woken && reader.pump) reader.pump();
        lock.lock();
        current = false;
        continue;
      }
      lock.lock();
      current = true;
      continue;
    }
    const std::uint64_t target = requested_;
    lock.unlock();
    if (!current && reader.pump) reader.pump();
    current = false;
    std::optional<EventField> field;
    if (reader.read) field = reader.read();
    lock.lock();
    if (target <= answered_) continue;
    answers_.push_back({target, std::move(field)});
    answered_ = target;
    lock.unlock();
    changed_.notify_all();
    if (wake_) wake_();
    lock.lock();
  }
}

}  // namespace orvane::eventtap
