#include "line_writer.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orvane {

std::int64_t nowUnixMs() {
  const std::chrono::duration<double> seconds = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::int64_t>(seconds.count() * 1000);
}

std::optional<std::string> serializeLine(const json::Value& line) {
  return json::encode(line, {.sortKeys = true, .escapeSlashes = true});
}

void emit(SerialWriteQueue& queue, const json::Value& line) {
  auto text = serializeLine(line);
  if (!text) return;
  text->push_back('\n');
  queue.submit(std::move(*text));
}

bool emitDirect(Output& output, const json::Value& line) {
  const auto text = serializeLine(line);
  if (!text) return false;
  output.writeOut(*text);
  output.writeOut("\n");
  return true;
}

bool QueueRoom::take(std::size_t bytes) {
  std::size_t queued = queued_.load();
  do {
    if (bytes > capacity_ || queued > capacity_ - bytes) {
      dropped_.fetch_add(1);
      return false;
    }
  } while (!queued_.compare_exchange_weak(queued, queued + bytes));
  return true;
}

void QueueRoom::give(std::size_t bytes) { queued_.fetch_sub(bytes); }

namespace {

class ThreadWriteQueue final : public SerialWriteQueue {
 public:
  ThreadWriteQueue(Output& output, std::size_t maxQueuedBytes)
      : output_(output), room_(maxQueuedBytes), worker_([this] { work(); }) {}

  // Writes what is still queued, then stops the thread.
  ~ThreadWriteQueue() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
  }

  void submit(std::string text) override {
    if (!room_.take(text.size())) return;
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(std::move(text));
    }
    wake_.notify_one();
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      if (pending_.empty()) return;
      std::string text = std::move(pending_.front());
      pending_.pop_front();
      lock.unlock();
      output_.writeOut(text);
      room_.give(text.size());
      lock.lock();
    }
  }

  Output& output_;
  QueueRoom room_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> pending_;
  bool stopping_ = false;
  std::thread worker_;  // last, so that it starts after the rest is built
};

}  // namespace

std::unique_ptr<SerialWriteQueue> makeThreadWriteQueue(Output& output, std::size_t maxQueuedBytes) {
  return std::make_unique<ThreadWriteQueue>(output, maxQueuedBytes);
}

#if !defined(__APPLE__)
std::unique_ptr<SerialWriteQueue> makeStdoutQueue(Output& output) {
  return makeThreadWriteQueue(output);
}
#endif

}  // namespace orvane
