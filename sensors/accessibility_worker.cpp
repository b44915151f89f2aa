#include <condition_variable>
#include <deque>
#include <thread>

#include "autorelease_pool.hpp"
#include "sensors.hpp"

namespace orvane::sensors {
namespace {

// Runs for the life of the process: the tool only ever ends through a signal, so the thread
// is never joined while it may be inside a call to an application that does not answer.
class ThreadWorker final : public AccessibilityWorker {
 public:
  explicit ThreadWorker(std::function<std::unique_ptr<Accessibility>()> make)
      : state_(std::make_shared<State>()) {
    std::thread([state = state_, make = std::move(make)] {
      const auto ax = make();
      std::unique_lock lock(state->mutex);
      for (;;) {
        state->wake.wait(lock, [&] { return !state->jobs.empty(); });
        Job job = std::move(state->jobs.front());
        state->jobs.pop_front();
        lock.unlock();
        {
          const AutoreleasePool pool;
          job(*ax);
        }
        lock.lock();
      }
    }).detach();
  }

  void post(Job job) override {
    {
      std::lock_guard lock(state_->mutex);
      state_->jobs.push_back(std::move(job));
    }
    state_->wake.notify_one();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
  };
  std::shared_ptr<State> state_;
};

}  // namespace

std::unique_ptr<AccessibilityWorker> makeThreadAccessibilityWorker(
    std::function<std::unique_ptr<Accessibility>()> make) {
  return std::make_unique<ThreadWorker>(std::move(make));
}

#if defined(__APPLE__)
// AXUIElement calls may be made from any thread; the worker makes all of them.
std::unique_ptr<AccessibilityWorker> makeAccessibilityWorker(
    std::function<std::unique_ptr<Accessibility>()> make) {
  return makeThreadAccessibilityWorker(std::move(make));
}
#endif

}  // namespace orvane::sensors
