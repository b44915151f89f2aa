// The timestamped JSON line of the line-printing tools: the wall clock in milliseconds, the
// line's serialisation, and its two ways of reaching standard output.
#pragma once

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
// in one write. The sensors tool prints through it so that lines never interleave.
class SerialWriteQueue {
 public:
  virtual ~SerialWriteQueue() = default;
  virtual void submit(std::string text) = 0;
};

// The queue "orvane.sensors.stdout": a serial dispatch queue on macOS, a writer thread
// elsewhere. `output` must outlive the queue.
std::unique_ptr<SerialWriteQueue> makeStdoutQueue(Output& output);
// The writer-thread queue, on every platform (what makeStdoutQueue gives off macOS).
std::unique_ptr<SerialWriteQueue> makeThreadWriteQueue(Output& output);

// Serialises the line and queues it with its "\n" for one write; a line that cannot be
// serialised is dropped silently.
void emit(SerialWriteQueue& queue, const json::Value& line);

// The direct form: the JSON bytes, then "\n" in a second write, both at once on the calling
// thread. False when the line could not be serialised and nothing was written.
bool emitDirect(Output& output, const json::Value& line);

}  // namespace orvane
