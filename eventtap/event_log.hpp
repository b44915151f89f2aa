// The event log: the one JSON document orvane-eventtap leaves behind, with its records and
// their encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::eventtap {

// The element that had keyboard focus when an event arrived.
struct EventField {
  std::string role;
  std::string subrole;
  std::string title;
  std::string description;
  bool secure = false;

  bool operator==(const EventField&) const = default;
};

// True when the lower-cased role or the lower-cased subrole contains "secure".
bool isSecure(std::string_view role, std::string_view subrole);

// The six recorded event types; `typeName` gives the name the log uses.
enum class EventType : std::uint8_t {
  leftMouseDown,
  leftMouseUp,
  rightMouseDown,
  rightMouseUp,
  keyDown,
  scrollWheel,
};
std::string_view typeName(EventType type);
std::optional<EventType> eventTypeNamed(std::string_view name);

// The `button` of an event: "left", "right" or the empty string.
enum class MouseButton : std::uint8_t { none, left, right };
std::string_view buttonName(MouseButton button);

// "left" when the type name begins with "left", "right" when it begins with "right", else "".
MouseButton mouseButton(std::string_view typeName);

// One discrete input event. The focused field is shared between the events that saw the same
// one, so that a long recording keeps one copy of each distinct field.
struct RawInputEvent {
  EventType type = EventType::leftMouseDown;
  std::int64_t timestampMs = 0;
  double x = 0;
  double y = 0;
  MouseButton button = MouseButton::none;
  std::int64_t keyCode = -1;
  std::string text;
  bool redacted = false;
  double deltaX = 0;
  double deltaY = 0;
  std::shared_ptr<const EventField> field;  // null: no focused element was read
};

// One cursor sample.
struct CursorPoint {
  std::int64_t timestampMs = 0;
  double x = 0;
  double y = 0;
};

// An append-only list that grows in fixed chunks: appending never moves what is already in
// it, and memory grows with the content instead of doubling.
template <typename T, std::size_t ChunkSize = 4096>
class AppendList {
 public:
  void push_back(T value) {
    if (chunks_.empty() || chunks_.back().size() == ChunkSize) {
      chunks_.emplace_back();
      chunks_.back().reserve(ChunkSize);
    }
    chunks_.back().push_back(std::move(value));
    ++size_;
  }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T& back() const { return chunks_.back().back(); }
  const T& operator[](std::size_t i) const { return chunks_[i / ChunkSize][i % ChunkSize]; }
  template <typename F>
  void forEach(F&& f) const {
    for (const auto& chunk : chunks_)
      for (const auto& item : chunk) f(item);
  }

 private:
  std::vector<std::vector<T>> chunks_;
  std::size_t size_ = 0;
};

inline constexpr std::int64_t kEventLogVersion = 1;

// The whole document.
struct EventLog {
  std::int64_t version = kEventLogVersion;
  std::string source;
  std::int64_t startedAtUnixMs = 0;
  double monotonicStartedAtSeconds = 0;
  std::int64_t durationMs = 0;
  bool redactionEnabled = true;
  AppendList<RawInputEvent> events;
  AppendList<CursorPoint> cursorPath;
};

// False when a number of the log is not finite, which JSON cannot write.
bool hasOnlyFiniteNumbers(const EventLog& log);

// Receives the encoded bytes piece by piece; false stops the encoding.
using ByteConsumer = std::function<bool(std::string_view bytes)>;

enum class EncodeResult { ok, nonFiniteNumber, consumerFailed };

// Encodes `log` as one compact JSON document ("/" escaped, no line break after it), handing
// the bytes to `consume` in pieces of about `pieceSize` bytes. Every number is checked before
// the first byte is handed over, so a non-finite one yields no bytes at all.
EncodeResult encodeEventLog(const EventLog& log, const ByteConsumer& consume,
                            std::size_t pieceSize = 64 * 1024);

// The whole document at once, or nothing when a number is not finite.
std::optional<std::string> encodeEventLog(const EventLog& log);

}  // namespace orvane::eventtap
