// orvane-eventtap: records the clicks, key presses, scrolls and cursor path of a recording
// and, when stopped, writes them once as the event log.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "accessibility.hpp"
#include "event_log.hpp"
#include "event_tap.hpp"
#include "field_source.hpp"
#include "output.hpp"
#include "run_loop.hpp"

namespace orvane::eventtap {

inline constexpr std::string_view kUsage = "Usage: orvane-eventtap <outputPath> [redact|plain]\n";
inline constexpr std::string_view kTapFailed =
    "Orvane could not create CGEventTap. Accessibility permission is required.\n";
inline constexpr std::string_view kWriteFailed = "Orvane event log write failed: ";
inline constexpr std::string_view kTapDisabledByUser =
    "Orvane event tap was disabled by user input; later events are not recorded.\n";

// Which recorder wrote a log.
inline constexpr std::string_view kSourceMacOS = "macos_cgeventtap";
inline constexpr std::string_view kSourceX11 = "x11_xinput2";

// Cursor samples are at least this far apart.
inline constexpr std::int64_t kCursorIntervalMs = 50;

// How long an event waits for its focused field; after that it is recorded without one, as
// when the query fails.
inline constexpr std::int64_t kFieldBudgetMs = 500;
// How long a read after a press or Tab waits for the application to show that it has handled
// that input: within the budget, with time left for the read.
inline constexpr std::chrono::milliseconds kFenceDeadline{300};
// Events waiting for their field; beyond that the oldest is recorded without one.
inline constexpr std::size_t kMaxWaitingEvents = 4096;

// The event types the tap listens to, in the order the recorder handles them.
inline constexpr std::uint32_t eventTypesOfInterest[] = {
    kCGEventLeftMouseDown, kCGEventLeftMouseUp,      kCGEventRightMouseDown,
    kCGEventRightMouseUp,  kCGEventKeyDown,          kCGEventScrollWheel,
    kCGEventMouseMoved,    kCGEventLeftMouseDragged, kCGEventRightMouseDragged};

// The bitwise OR of the mask bits of `types`.
std::uint64_t eventMask(const std::uint32_t* types, std::size_t count);

struct Arguments {
  std::optional<std::string> outputPath;  // nothing: the usage line, status 2
  bool redactionEnabled = true;
};

// `orvane-eventtap <outputPath> [redact|plain]`, the arguments after the program name:
// redaction is off only when the second is exactly "plain"; further arguments are ignored.
Arguments parseArguments(const std::vector<std::string>& arguments);

// The two clocks of a recording: the wall clock in milliseconds since the Unix epoch
// (truncated toward zero) and the system's monotonic uptime clock, in nanoseconds so that
// differences are exact.
struct Clocks {
  std::function<std::int64_t()> wallClockMs;
  std::function<std::int64_t()> uptimeNanoseconds;
};

// The element that has keyboard focus system-wide, or nothing.
std::optional<EventField> focusedField(Accessibility& accessibility);

class Recorder {
 public:
  using FocusReader = std::function<std::optional<EventField>()>;

  // Reads both clocks, the wall clock first. Until a field source is set, no event has a
  // focused field.
  Recorder(std::string outputPath, bool redactionEnabled, Clocks clocks, Output& errors,
           std::string_view source, long pid = 0);

  // Fields read at once, in record().
  void setFocusReader(FocusReader reader);
  // Fields read elsewhere: each event waits for its answer at most kFieldBudgetMs. The source
  // must outlive the recorder's use of it.
  void setFieldSource(FieldSource* source) { fieldSource = source; }

  // Milliseconds on the uptime clock since the recorder was created, truncated toward zero.
  std::int64_t elapsedMs() const;

  // Takes one event of `type` from the tap's event: its time, position, key code, text and
  // scroll amounts now, its focused field when the source answers (or the budget runs out).
  // Events reach the list in arrival order, with the redaction rule applied. In plain mode a
  // key's text is kept only when its field is known to be the one that had focus when the key
  // came: not when focus moved between the key and the answer, during the read, or by a click
  // not yet answered for, nor when the answer never came in time.
  void record(EventType type, const TapEvent& event);

  // Completes the events that the field source has answered for, or whose budget ran out.
  void collectFields();

  // The tap has handed over all input sent before `mark` (a mark of the field source) was
  // taken. Once this has been called, each event is held against the last such mark rather
  // than the source's mark at the time the event is taken, which a recorder held up takes too
  // late.
  void caughtUp(std::uint64_t mark) { caughtUpMark = mark; }

  // Appends one cursor sample unless the last one is less than kCursorIntervalMs old. The
  // pointer position is only read for a sample that is kept.
  void recordCursor(const TapEvent& event);

  // The system switched the tap off at the user's request: one line on the error output, the
  // first time. The recording keeps what it has.
  void tapDisabledByUser();

  // Builds, encodes and writes the log, the first time only; a failure is reported on the
  // error output. Later calls do nothing.
  void finish();

  // The recording so far: the completed events (those still waiting for their field are not
  // among them yet).
  const AppendList<RawInputEvent>& recordedEvents() const { return events; }
  std::size_t waitingEvents() const { return waiting.size(); }
  const AppendList<CursorPoint>& recordedCursorPath() const { return cursorPath; }
  bool isFinished() const { return finished; }
  std::int64_t startedAt() const { return startedAtUnixMs; }
  double startedAtUptimeSeconds() const { return startedAtUptime; }

 private:
  // An event taken but not yet completed: its field is not known.
  struct Waiting {
    RawInputEvent event;
    std::string typed;  // plain mode only: held until the field says whether it may be kept
    std::uint64_t id;
    std::int64_t arrivedNs;
    std::uint64_t mark;  // the field source's focus changes before the event was sent
  };

  std::shared_ptr<const EventField> shared(EventField field);
  std::int64_t elapsedNs() const;
  // `sure`: the field is the one that had focus when the event came.
  void complete(Waiting& waiting, std::optional<EventField> field, bool sure);
  void expire(std::int64_t nowNs);
  // At the stop: waits for the answers still due, within the budget of the last event.
  void completeAll();

  const std::string outputPath;
  const bool redactionEnabled;
  const Clocks clocks;
  const std::int64_t startedAtUnixMs;
  const std::int64_t startedAtUptimeNs;
  const double startedAtUptime;  // seconds
  AppendList<RawInputEvent> events;
  AppendList<CursorPoint> cursorPath;
  std::int64_t lastCursorTimestampMs = -10000;
  bool finished = false;
  bool tapOffReported = false;

  Output& errors;
  const std::string source;
  std::unique_ptr<FieldSource> ownSource;
  FieldSource* fieldSource = nullptr;
  std::deque<Waiting> waiting;
  std::uint64_t nextId = 1;
  std::optional<std::uint64_t> caughtUpMark;

  // One copy of each distinct focused field, shared by the events that saw it.
  struct FieldHash {
    std::size_t operator()(const std::shared_ptr<const EventField>& f) const;
  };
  struct FieldEqual {
    bool operator()(const std::shared_ptr<const EventField>& a,
                    const std::shared_ptr<const EventField>& b) const {
      return *a == *b;
    }
  };
  std::unordered_set<std::shared_ptr<const EventField>, FieldHash, FieldEqual> fields;
  std::shared_ptr<const EventField> lastField;
};

// The tap callback: discrete events are recorded, pointer moves and drags sampled, anything
// else ignored. A tap the system switched off for a slow callback (kCGEventTapDisabledByTimeout)
// is switched on again; one it switched off at the user's request
// (kCGEventTapDisabledByUserInput, secure input for one) stays off, and the recorder says so.
void handleTapEvent(Recorder* recorder, std::uint32_t type, const TapEvent& event,
                    EventTap* tap = nullptr);

// What the program runs on: the main loop, the desktop's services (made when needed; the
// accessibility service on the field worker's thread, which alone uses it), the standard
// streams, the clocks, the process id and the way out of the process.
struct Platform {
  RunLoop& runLoop;
  std::function<std::unique_ptr<Accessibility>()> makeAccessibility;
  std::function<std::unique_ptr<EventTaps>()> makeEventTaps;
  Output& output;
  Clocks clocks;
  long pid;
  std::string_view source;  // the log's "source": which recorder this platform has
  std::function<void(int)> exitProcess;
  // Called once the stop is in place (the program holds the stop signals back until then).
  std::function<void()> stopInPlace = {};
};

// Everything after the argument check: the recorder, the stop on SIGINT and SIGTERM (the input
// already sent is taken, the log written from the main loop, then `exitProcess(0)`), the field
// worker, the tap and the run loop. Returns 1 when the tap cannot be created, 0 should the run
// loop ever return.
int run(const Arguments& arguments, Platform& platform);

}  // namespace orvane::eventtap
