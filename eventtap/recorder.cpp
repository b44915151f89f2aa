#include "recorder.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "autorelease_pool.hpp"
#include "log_file.hpp"

namespace orvane::eventtap {
namespace {
bool isPress(EventType type) {
  return type == EventType::leftMouseDown || type == EventType::rightMouseDown;
}
// Input that may move focus by itself: a press, or a key that types no printable text (Tab,
// Return, an arrow, a shortcut). A key that types a character stays in its field.
bool mayMoveFocus(EventType type, const std::string& typed) {
  if (isPress(type)) return true;
  if (type != EventType::keyDown) return false;
  return typed.empty() || std::any_of(typed.begin(), typed.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return byte < 0x20 || byte == 0x7f;
         });
}

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

std::optional<EventField> focusedField(Accessibility& accessibility) {
  const AXElement systemWide = accessibility.createSystemWide();
  const auto value = accessibility.copyAttributeValue(systemWide, kAttrFocusedUIElement);
  if (!value) return std::nullopt;
  const auto element = axElementValue(*value);
  if (!element) return std::nullopt;
  EventField field;
  field.role = axString(accessibility, *element, kAttrRole).value_or(std::string());
  field.subrole = axString(accessibility, *element, kAttrSubrole).value_or(std::string());
  field.title = axString(accessibility, *element, kAttrTitle).value_or(std::string());
  field.description = axString(accessibility, *element, kAttrDescription).value_or(std::string());
  field.secure = isSecure(field.role, field.subrole);
  return field;
}

Recorder::Recorder(std::string outputPath, bool redactionEnabled, Clocks clocks, Output& errors,
                   std::string_view source, long /*pid*/)
    : outputPath(std::move(outputPath)),
      redactionEnabled(redactionEnabled),
      clocks(std::move(clocks)),
      startedAtUnixMs(this->clocks.wallClockMs()),
      startedAtUptimeNs(this->clocks.uptimeNanoseconds()),
      startedAtUptime(static_cast<double>(startedAtUptimeNs) / 1e9),
      errors(errors),
      source(source) {}

std::int64_t Recorder::elapsedNs() const { return clocks.uptimeNanoseconds() - startedAtUptimeNs; }

std::int64_t Recorder::elapsedMs() const {
  // Integer division truncates toward zero.
  return elapsedNs() / 1'000'000;
}

void Recorder::setFocusReader(FocusReader reader) {
  ownSource = std::make_unique<ImmediateFieldSource>(std::move(reader));
  fieldSource = ownSource.get();
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
  // Everything the event itself says is read as it arrives; only the field comes later.
  const Point at = event.location();
  const std::int64_t nowNs = elapsedNs();
  const std::uint64_t mark = caughtUpMark ? *caughtUpMark : fieldSource ? fieldSource->mark() : 0;
  Waiting w{RawInputEvent{}, std::string(), nextId++, nowNs, mark};
  RawInputEvent& e = w.event;
  e.type = type;
  e.timestampMs = nowNs / 1'000'000;
  e.x = at.x;
  e.y = at.y;
  e.button = mouseButton(typeName(type));
  // The key code is kept in both modes: redaction withholds the text alone.
  e.keyCode = type == EventType::keyDown ? event.keyCode() : -1;
  if (type == EventType::keyDown) {
    std::string typed = event.keyboardText();
    if (redactionEnabled) {
      e.redacted = !typed.empty();
      wipe(typed);
    } else {
      w.typed = std::move(typed);
    }
  }
  if (type == EventType::scrollWheel) {
    e.deltaX = event.scrollDeltaAxis2();
    e.deltaY = event.scrollDeltaAxis1();
  }
  if (!fieldSource) {
    complete(w, std::nullopt, true);
    return;
  }
  if (waiting.size() >= kMaxWaitingEvents) {
    complete(waiting.front(), std::nullopt, false);
    waiting.pop_front();
  }
  waiting.push_back(std::move(w));
  // Only plain mode keeps text, and so needs to know that a move of focus was handled.
  fieldSource->request(
      waiting.back().id,
      !redactionEnabled && mayMoveFocus(waiting.back().event.type, waiting.back().typed));
  collectFields();
}

void Recorder::complete(Waiting& w, std::optional<EventField> field, bool sure) {
  RawInputEvent& e = w.event;
  if (e.type == EventType::keyDown && !redactionEnabled) {
    // A false "redacted" costs a letter of the log; a wrong field could cost a password.
    if (!sure || (field && field->secure)) {
      e.redacted = !w.typed.empty();
      wipe(w.typed);
    } else {
      e.text = std::move(w.typed);
    }
  }
  if (field) e.field = shared(std::move(*field));
  events.push_back(std::move(e));
}

void Recorder::collectFields() {
  if (fieldSource) {
    for (auto& answer : fieldSource->take()) {
      // A click that no earlier read answered for may have moved focus before the application
      // answered, or only after: the read may describe either side of it.
      const bool clickUnanswered = std::any_of(
          waiting.begin(), waiting.end(), [](const Waiting& w) { return isPress(w.event.type); });
      // Input taken after an event, before its answer, may have moved focus (Tab, a press)
      // before the application answered; the focus events it caused may even have been
      // counted before the event was taken (the two come by different connections). The read
      // may then describe where focus went.
      std::uint64_t lastMover = 0;
      for (const Waiting& w : waiting) {
        if (mayMoveFocus(w.event.type, w.typed)) lastMover = w.id;
      }
      while (!waiting.empty() && waiting.front().id <= answer.upTo) {
        Waiting& w = waiting.front();
        // Focus moved between the event and the answer: the read may describe where it went.
        const bool sure = answer.followed && answer.settled && !answer.unfenced &&
                          answer.changes == w.mark && !clickUnanswered && lastMover <= w.id;
        complete(w, answer.field, sure);
        waiting.pop_front();
      }
    }
  }
  expire(elapsedNs());
}

void Recorder::expire(std::int64_t nowNs) {
  constexpr std::int64_t budgetNs = kFieldBudgetMs * 1'000'000;
  while (!waiting.empty() && nowNs - waiting.front().arrivedNs >= budgetNs) {
    complete(waiting.front(), std::nullopt, false);
    waiting.pop_front();
  }
}

void Recorder::completeAll() {
  collectFields();
  if (!waiting.empty() && fieldSource) {
    const std::int64_t left = waiting.back().arrivedNs + kFieldBudgetMs * 1'000'000 - elapsedNs();
    if (left > 0) fieldSource->waitFor(waiting.back().id, std::chrono::nanoseconds(left));
    collectFields();
  }
  while (!waiting.empty()) {
    complete(waiting.front(), std::nullopt, false);
    waiting.pop_front();
  }
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
  completeAll();
  EventLog log;
  log.source = source;
  log.startedAtUnixMs = startedAtUnixMs;
  log.monotonicStartedAtSeconds = startedAtUptime;
  log.durationMs = elapsedMs();
  log.redactionEnabled = redactionEnabled;
  // Recording has ended: the lists move into the log rather than being copied.
  log.events = std::move(events);
  log.cursorPath = std::move(cursorPath);
  if (auto failure = writeEventLog(outputPath, log)) {
    std::string message(kWriteFailed);
    message += *failure;
    message += '\n';
    errors.writeErr(message);
  }
  events = std::move(log.events);
  cursorPath = std::move(log.cursorPath);
}

void Recorder::tapDisabledByUser() {
  if (std::exchange(tapOffReported, true)) return;
  errors.writeErr(kTapDisabledByUser);
}

void handleTapEvent(Recorder* recorder, std::uint32_t type, const TapEvent& event, EventTap* tap) {
  if (type == kCGEventTapDisabledByTimeout) {
    // Left off, the rest of the recording would be silently empty.
    if (tap) tap->enable(true);
    return;
  }
  if (type == kCGEventTapDisabledByUserInput) {
    // Switched on again, the tap would override the user.
    if (recorder) recorder->tapDisabledByUser();
    return;
  }
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
                    platform.output, platform.source, platform.pid);
  std::unique_ptr<EventTap> tap;
  // The stop runs from the main loop, between two callbacks, so the lists are always whole
  // when the log is built; a second signal while it runs finds the process on its way out.
  // Input the tap has been sent but not yet handed over is taken first.
  platform.runLoop.callOnTerminationSignals([&recorder, &platform, &tap] {
    if (tap) tap->flush();
    recorder.finish();
    platform.exitProcess(0);
  });
  if (platform.stopInPlace) platform.stopInPlace();
  // Copies of an earlier recording of this log, left by a writer killed mid-write.
  removeStaleCopies(*arguments.outputPath);

  // The accessibility service is reached, and used, on the worker's thread: reaching it may
  // take a while, and an application that does not answer holds up only that thread.
  FieldWorker worker(
      [&platform] {
        std::shared_ptr<Accessibility> accessibility = platform.makeAccessibility();
        if (!accessibility) return FieldWorker::Reader{};
        accessibility->followFocus();
        FieldWorker::Reader reader;
        reader.read = [accessibility] {
          const AutoreleasePool pool;
          return focusedField(*accessibility);
        };
        // A service that cannot wait for events has none to handle between reads (macOS
        // answers each read itself): without a pump, the idle worker sleeps until asked.
        if (accessibility->canWaitForEvents()) {
          reader.pump = [accessibility] { accessibility->dispatchPending(); };
          reader.changes = [accessibility] { return accessibility->focusChanges(); };
          reader.wait = [accessibility] { accessibility->waitForEvents(); };
          reader.interrupt = [accessibility] { accessibility->interruptWait(); };
        }
        reader.fence = [accessibility] {
          return accessibility->awaitFocusedInputHandled(kFenceDeadline);
        };
        return reader;
      },
      [&platform, &recorder, &tap] {
        platform.runLoop.performOnMain([&recorder, &tap] {
          // Input that came before the new mark is handed over first, and held against the
          // mark before it.
          if (tap) tap->catchUp();
          recorder.collectFields();
        });
      });
  recorder.setFieldSource(&worker);

  const std::uint64_t mask = eventMask(eventTypesOfInterest, std::size(eventTypesOfInterest));
  std::unique_ptr<EventTaps> taps = platform.makeEventTaps();
  tap = taps ? taps->createListenOnlyTap(
                   mask,
                   [&recorder, &tap](std::uint32_t type, const TapEvent& event) {
                     handleTapEvent(&recorder, type, event, tap.get());
                   })
             : nullptr;
  if (!tap) {
    platform.output.writeErr(kTapFailed);
    return 1;
  }
  if (tap->reportCatchUp([&worker] { return worker.mark(); },
                         [&recorder](std::uint64_t mark) { recorder.caughtUp(mark); })) {
    recorder.caughtUp(0);
  }
  tap->addToCurrentRunLoop();
  tap->enable(true);
  platform.runLoop.run();
  tap.reset();
  return 0;
}

}  // namespace orvane::eventtap
