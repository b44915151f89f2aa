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
  }
  changed_.notify_all();
  thread_.join();
}

void FieldWorker::request(std::uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    if (id <= requested_) return;
    requested_ = id;
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
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait_for(lock, kPumpInterval, [&] { return stopping_ || requested_ > answered_; });
    if (stopping_) return;
    const std::uint64_t target = requested_;
    lock.unlock();
    if (reader.pump) reader.pump();
    std::optional<EventField> field;
    if (target > answered_ && reader.read) field = reader.read();
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
