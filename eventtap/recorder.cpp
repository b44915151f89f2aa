#include "recorder.hpp"

#include <time.h>

#include <chrono>
#include <cmath>
#include <functional>

#include "log_file.hpp"

namespace orvane::eventtap {
namespace {

// Overwrites text that must not stay in memory before its buffer is given back.
void wipe(std::string& text) {
  volatile char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

std::size_t combine(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

}  // namespace

std::uint64_t eventMask(const std::uint32_t* types, std::size_t count) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < count; ++i) mask |= eventMaskBit(types[i]);
  return mask;
}

Arguments parseArguments(const std::vector<std::string>& arguments) {
  Arguments parsed;
  if (arguments.empty()) return parsed;
  parsed.outputPath = arguments[0];
  parsed.redactionEnabled = !(arguments.size() > 1 && arguments[1] == "plain");
  return parsed;
}

Clocks systemClocks() {
  return {[] {
            using namespace std::chrono;
            // duration_cast truncates toward zero, before the epoch too.
            return static_cast<std::int64_t>(
                duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
          },
          [] {
            timespec ts{};
#if defined(__APPLE__)
            // The clock of the system uptime: monotonic, stopped while the machine sleeps.
            clock_gettime(CLOCK_UPTIME_RAW, &ts);
#else
            clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
            return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
          }};
}

std::string stringAttribute(Accessibility& accessibility, const AXElement& element,
                            std::string_view name) {
  const auto value = accessibility.copyAttributeValue(element, name);
  if (!value) return {};
  return axTextValue(*value).value_or(std::string());
}

std::optional<EventField> focusedField(Accessibility& accessibility) {
  const AXElement systemWide = accessibility.createSystemWide();
  const auto value = accessibility.copyAttributeValue(systemWide, kAttrFocusedUIElement);
  if (!value) return std::nullopt;
  const auto element = axElementValue(*value);
  if (!element) return std::nullopt;
  EventField field;
  field.role = stringAttribute(accessibility, *element, kAttrRole);
  field.subrole = stringAttribute(accessibility, *element, kAttrSubrole);
  field.title = stringAttribute(accessibility, *element, kAttrTitle);
  field.description = stringAttribute(accessibility, *element, kAttrDescription);
  field.secure = isSecure(field.role, field.subrole);
  return field;
}

Recorder::Recorder(std::string outputPath, bool redactionEnabled, Clocks clocks, Output& errors,
                   std::string_view source, long pid)
    : outputPath(std::move(outputPath)),
      redactionEnabled(redactionEnabled),
      clocks(std::move(clocks)),
      startedAtUnixMs(this->clocks.wallClockMs()),
      startedAtUptimeNs(this->clocks.uptimeNanoseconds()),
      startedAtUptime(static_cast<double>(startedAtUptimeNs) / 1e9),
      errors(errors),
      source(source),
      pid(pid) {}

std::int64_t Recorder::elapsedMs() const {
  // Integer division truncates toward zero.
  return (clocks.uptimeNanoseconds() - startedAtUptimeNs) / 1'000'000;
}

std::size_t Recorder::FieldHash::operator()(const std::shared_ptr<const EventField>& f) const {
  const std::hash<std::string> h;
  std::size_t seed = h(f->role);
  seed = combine(seed, h(f->subrole));
  seed = combine(seed, h(f->title));
  seed = combine(seed, h(f->description));
  return combine(seed, f->secure);
}

std::shared_ptr<const EventField> Recorder::shared(EventField field) {
  // Focus rarely moves between two events: the last field answers most lookups.
  if (lastField && *lastField == field) return lastField;
  auto candidate = std::make_shared<const EventField>(std::move(field));
  lastField = *fields.insert(std::move(candidate)).first;
  return lastField;
}

void Recorder::record(EventType type, const TapEvent& event) {
  const Point at = event.location();
  const std::int64_t timestampMs = elapsedMs();
  std::optional<EventField> field;
  if (focusReader) field = focusReader();

  std::string text;
  bool redacted = false;
  if (type == EventType::keyDown) {
    std::string typed = event.keyboardText();
    if (redactionEnabled || (field && field->secure)) {
      redacted = !typed.empty();
      wipe(typed);
    } else {
      text = std::move(typed);
    }
  }

  RawInputEvent e;
  e.type = type;
  e.timestampMs = timestampMs;
  e.x = at.x;
  e.y = at.y;
  e.button = mouseButton(typeName(type));
  // The key code is kept in both modes: redaction withholds the text alone.
  e.keyCode = type == EventType::keyDown ? event.keyCode() : -1;
  e.text = std::move(text);
  e.redacted = redacted;
  if (type == EventType::scrollWheel) {
    e.deltaX = event.scrollDeltaAxis2();
    e.deltaY = event.scrollDeltaAxis1();
  }
  if (field) e.field = shared(std::move(*field));
  events.push_back(std::move(e));
}

void Recorder::recordCursor(const TapEvent& event) {
  const std::int64_t now = elapsedMs();
  if (now - lastCursorTimestampMs < kCursorIntervalMs) return;
  lastCursorTimestampMs = now;
  const Point at = event.location();
  cursorPath.push_back({now, at.x, at.y});
}

void Recorder::finish() {
  if (finished) return;
  finished = true;
  EventLog log;
  log.source = source;
  log.startedAtUnixMs = startedAtUnixMs;
  log.monotonicStartedAtSeconds = startedAtUptime;
  log.durationMs = elapsedMs();
  log.redactionEnabled = redactionEnabled;
  // Recording has ended: the lists move into the log rather than being copied.
  log.events = std::move(events);
  log.cursorPath = std::move(cursorPath);
  if (auto failure = writeEventLog(outputPath, log, pid)) {
    std::string message(kWriteFailed);
    message += *failure;
    message += '\n';
    errors.writeErr(message);
  }
  events = std::move(log.events);
  cursorPath = std::move(log.cursorPath);
}

void handleTapEvent(Recorder* recorder, std::uint32_t type, const TapEvent& event) {
  if (!recorder) return;
  switch (type) {
    case kCGEventLeftMouseDown:
      recorder->record(EventType::leftMouseDown, event);
      break;
    case kCGEventLeftMouseUp:
      recorder->record(EventType::leftMouseUp, event);
      break;
    case kCGEventRightMouseDown:
      recorder->record(EventType::rightMouseDown, event);
      break;
    case kCGEventRightMouseUp:
      recorder->record(EventType::rightMouseUp, event);
      break;
    case kCGEventKeyDown:
      recorder->record(EventType::keyDown, event);
      break;
    case kCGEventScrollWheel:
      recorder->record(EventType::scrollWheel, event);
      break;
    case kCGEventMouseMoved:
    case kCGEventLeftMouseDragged:
    case kCGEventRightMouseDragged:
      recorder->recordCursor(event);
      break;
    default:
      break;
  }
}

int run(const Arguments& arguments, Platform& platform) {
  Recorder recorder(*arguments.outputPath, arguments.redactionEnabled, platform.clocks,
                    platform.output, kSource, platform.pid);
  // The stop runs from the main loop, between two callbacks, so the lists are always whole
  // when the log is built; a second signal while it runs finds the process on its way out.
  platform.runLoop.callOnTerminationSignals([&recorder, &platform] {
    recorder.finish();
    platform.exitProcess(0);
  });

  std::unique_ptr<Accessibility> accessibility = platform.makeAccessibility();
  if (accessibility) {
    recorder.setFocusReader([ax = accessibility.get()] { return focusedField(*ax); });
  }

  const std::uint64_t mask = eventMask(eventTypesOfInterest, std::size(eventTypesOfInterest));
  std::unique_ptr<EventTaps> taps = platform.makeEventTaps();
  std::unique_ptr<EventTap> tap =
      taps ? taps->createListenOnlyTap(mask,
                                       [&recorder](std::uint32_t type, const TapEvent& event) {
                                         handleTapEvent(&recorder, type, event);
                                       })
           : nullptr;
  if (!tap) {
    platform.output.writeErr(kTapFailed);
    return 1;
  }
  tap->addToCurrentRunLoop();
  tap->enable(true);
  platform.runLoop.run();
  tap.reset();
  return 0;
}

}  // namespace orvane::eventtap
