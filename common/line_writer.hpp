// The timestamped JSON line of the line-printing tools: the wall clock in milliseconds, the
// line's serialisation, and its two ways of reaching standard output.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "json.hpp"
#include "output.hpp"

namespace orvane {

// Milliseconds since 1970-01-01T00:00:00 UTC: the wall clock in seconds as a double, times
// 1000, truncated toward zero.
std::int64_t nowUnixMs();

// Compact JSON with the keys of every object in ascending order and "/" escaped; nothing
// when the line cannot be serialised (a number that is not finite).
std::optional<std::string> serializeLine(const json::Value& line);

// Performs writes one after another, in submission order, on a thread of its own, each text
// in one write. The sensors tool prints through it so that lines never interleave. Callable
// from any thread.
class SerialWriteQueue {
 public:
  virtual ~SerialWriteQueue() = default;
  virtual void submit(std::string text) = 0;
};

// What a queue holds at most, in bytes, while the reader does not read. A host that stops
// reading must not make the tool grow without bound; a text that does not fit is dropped
// (and counted) until the writes get going again and make room.
inline constexpr std::size_t kMaxQueuedBytes = std::size_t{4} << 20;

// The queue "orvane.sensors.stdout": a serial dispatch queue on macOS, a writer thread
// elsewhere. `output` must outlive the queue.
std::unique_ptr<SerialWriteQueue> makeStdoutQueue(Output& output);

// The writer-thread queue, on every platform (what makeStdoutQueue gives off macOS).
std::unique_ptr<SerialWriteQueue> makeThreadWriteQueue(
    Output& output, std::size_t maxQueuedBytes = kMaxQueuedBytes);

// The room of a bounded queue: texts waiting to be written, in bytes, and those dropped
// because they did not fit. Thread-safe.
class QueueRoom {
 public:
  explicit QueueRoom(std::size_t capacity) : capacity_(capacity) {}
  // Takes room for `bytes`; false (and one more dropped) when they do not fit.
  bool take(std::size_t bytes);
  // Gives back the room of a text once written.
  void give(std::size_t bytes);
  std::size_t queuedBytes() const { return queued_.load(); }
  std::uint64_t dropped() const { return dropped_.load(); }

 private:
  const std::size_t capacity_;
  std::atomic<std::size_t> queued_{0};
  std::atomic<std::uint64_t> dropped_{0};
};

// Serialises the line and queues it with its "\n" for one write; a line that cannot be
// serialised is dropped silently.
void emit(SerialWriteQueue& queue, const json::Value& line);

// The direct form: the JSON bytes, then "\n" in a second write, both at once on the calling
// thread. False when the line could not be serialised and nothing was written.
bool emitDirect(Output& output, const json::Value& line);

}  // namespace orvane
