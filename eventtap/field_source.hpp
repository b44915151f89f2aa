// Where the recorder learns the focused field of each event, off the input path: a request per
// event, answers that come later, each for every event up to some number.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "event_log.hpp"

namespace orvane::eventtap {

// The focused field read for every event numbered `upTo` or less that no earlier answer covered.
// `changes` counts the focus changes the source had learnt of once the read was over; when it
// still equals a mark taken before an event was sent, focus did not move between that event
// and the read. `settled` is false when focus moved while the read was made. `followed` is
// false while a source that follows focus changes has learnt of none: an application learns
// that someone listens only some time after the listener is registered, and tells no focus
// change before, so until the first one comes an unchanged count proves nothing.
struct FieldAnswer {
  std::uint64_t upTo = 0;
  std::optional<EventField> field;
  std::uint64_t changes = 0;
  bool settled = true;
  bool followed = true;
  // Input that may move focus (a press, Tab) came before the read, and the application was not
  // shown to have handled it: the read may describe focus from before it.
  bool unfenced = false;
};

class FieldSource {
 public:
  virtual ~FieldSource() = default;
  // The event numbered `id` (numbers start at 1 and increase) wants its field. `movesFocus`:
  // the event may move focus by itself (a press, Tab); reads after it wait, where the source
  // can, until the application has handled it.
  virtual void request(std::uint64_t id, bool movesFocus = false) = 0;
  // The answers that came since the last call, oldest first.
  virtual std::vector<FieldAnswer> take() = 0;
  // Waits until an answer covers `id`, or at most `timeout`.
  virtual void waitFor(std::uint64_t id, std::chrono::nanoseconds timeout) = 0;
  // The focus changes learnt of so far, from any thread: never more than a later answer's
  // `changes`. Always 0 for a source that does not follow focus changes.
  virtual std::uint64_t mark() const { return 0; }
};

// Reads the field at once, on the calling thread.
class ImmediateFieldSource final : public FieldSource {
 public:
  explicit ImmediateFieldSource(std::function<std::optional<EventField>()> read)
      : read_(std::move(read)) {}
  void request(std::uint64_t id, bool) override { answers_.push_back({id, read_()}); }
  std::vector<FieldAnswer> take() override { return std::exchange(answers_, {}); }
  void waitFor(std::uint64_t, std::chrono::nanoseconds) override {}

 private:
  std::function<std::optional<EventField>()> read_;
  std::vector<FieldAnswer> answers_;
};

// Reads the field on a thread of its own, so that an application that answers slowly or not
// at all never holds up the input or the stop. One read answers every request made before it
// began, so a burst of input costs one read and the queue never holds more than one number.
class FieldWorker final : public FieldSource {
 public:
  struct Reader {
    std::function<std::optional<EventField>()> read;
    // Handles the service's own events between reads; may be empty.
    std::function<void()> pump;
    // Where the service can: waits for its events and handles them as they come, until
    // `interrupt` (callable from any thread) ends the wait. Both or neither.
    std::function<void()> wait;
    std::function<void()> interrupt;
    // How many focus changes `pump` has handled so far; may be empty. A read is made again
    // when the events handled after it moved focus: they were sent before the read's answer.
    std::function<std::uint64_t()> changes;
    // Waits until the focused application has handled the input it was sent before now: true
    // once shown, false when not in time, nothing where it cannot be asked; may be empty. Made
    // before the first read after input that may move focus, so that the focus change that
    // input made is told before the read's answer. An application answers the accessibility
    // bus between its input events, so without it a read may come before a press it has yet to
    // handle.
    std::function<std::optional<bool>()> fence;
  };

  // `start` runs first on the worker's thread and makes the reader, which that thread alone
  // then uses; `wake` is called on the worker's thread after each answer, and when the
  // mark moved between reads.
  FieldWorker(std::function<Reader()> start, std::function<void()> wake);
  // Waits for a read under way to end.
  ~FieldWorker();

  void request(std::uint64_t id, bool movesFocus = false) override;
  std::vector<FieldAnswer> take() override;
  void waitFor(std::uint64_t id, std::chrono::nanoseconds timeout) override;
  std::uint64_t mark() const override { return changes_.load(std::memory_order_acquire); }

 private:
  void work(std::function<Reader()> start);

  std::function<void()> wake_;
  std::function<void()> interrupt_;  // set by the worker once its reader exists
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t requested_ = 0;
  std::uint64_t answered_ = 0;
  bool toFence_ = false;  // input that may move focus came since the last fence shown
  std::vector<FieldAnswer> answers_;
  bool stopping_ = false;
  std::atomic<std::uint64_t> changes_{0};  // published after the worker handled them
  std::thread thread_;
};

}  // namespace orvane::eventtap
