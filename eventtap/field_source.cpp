#include "field_source.hpp"

namespace orvane::eventtap {
namespace {
// How often an idle worker lets the service handle its own events (focus changes).
constexpr auto kPumpInterval = std::chrono::milliseconds(50);
// Reads made again for one answer when focus keeps moving under them.
constexpr int kMaxRereads = 2;
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

void FieldWorker::request(std::uint64_t id, bool movesFocus) {
  {
    std::lock_guard lock(mutex_);
    if (movesFocus) toFence_ = true;
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
  // What the service's events said so far, for mark(): published after they were handled, so a
  // mark never counts a change that a later answer would not.
  const auto publish = [this, &reader] {
    if (!reader.changes) return false;
    const std::uint64_t now = reader.changes();
    return changes_.exchange(now, std::memory_order_acq_rel) != now;
  };
  std::unique_lock lock(mutex_);
  if (waits) interrupt_ = reader.interrupt;
  for (;;) {
    if (stopping_) return;
    if (requested_ <= answered_) {
      lock.unlock();
      if (waits) {
        reader.wait();
      } else {
        std::unique_lock idle(mutex_);
        if (!reader.pump) changed_.wait(idle, [&] { return stopping_ || requested_ > answered_; });
        changed_.wait_for(idle, kPumpInterval, [&] { return stopping_ || requested_ > answered_; });
        const bool woken = stopping_ || requested_ > answered_;
        idle.unlock();
        if (!woken && reader.pump) reader.pump();
      }
      // A new mark is for the input to come: the recorder takes it once it has handed over
      // the input that came before.
      if (publish() && wake_) wake_();
      lock.lock();
      continue;
    }
    const std::uint64_t target = requested_;
    const bool fence = std::exchange(toFence_, false);
    lock.unlock();
    // NOTE: a wait that ended does not mean the service's events are all handled: it may
    // have read them and handled only some (a focus loss without the gain that follows it).
    // Everything received by now was sent before the read, so it is handled first. The read
    // itself is a round trip to the focused application, which brings every event that
    // application sent before it answered; when those move focus, the read is made again.
    FieldAnswer answer{target, std::nullopt, 0, true, true, false};
    if (fence && reader.fence) {
      if (const auto shown = reader.fence(); shown && !*shown) {
        answer.unfenced = true;
        std::lock_guard again(mutex_);
        toFence_ = true;  // the next read waits for it again
      }
    }
    for (int attempt = 0; attempt <= kMaxRereads; ++attempt) {
      if (reader.pump) reader.pump();
      const std::uint64_t before = reader.changes ? reader.changes() : 0;
      if (reader.read) answer.field = reader.read();
      if (reader.changes && reader.pump) reader.pump();
      answer.changes = reader.changes ? reader.changes() : 0;
      answer.settled = answer.changes == before;
      if (answer.settled || !reader.pump) break;
    }
    // Without a field (no accessibility) there is nothing to mistake for another.
    answer.followed = !reader.changes || answer.changes > 0 || !answer.field;
    publish();
    lock.lock();
    if (target <= answered_) continue;
    answers_.push_back(std::move(answer));
    answered_ = target;
    lock.unlock();
    changed_.notify_all();
    if (wake_) wake_();
    lock.lock();
  }
}

}  // namespace orvane::eventtap
