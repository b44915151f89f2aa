// Benchmark of the event log: encoding speed against RapidJSON's Writer on the same document,
// and the recorder's memory per recorded event.
//
//   eventtap-bench [EVENTS] [LOG_PATH]
//
// EVENTS defaults to 1,000,000: mixed types (clicks, key presses with text, scrolls), half of
// them with a focused field out of a few dozen distinct ones, and a cursor sample for every
// fourth event. Prints both encoders' throughput (best of five runs each) and their ratio,
// then the recorder's heap bytes per event once the events are recorded and the peak resident
// memory per event including the final write to LOG_PATH (default: a file under /tmp).
#include <malloc.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "event_log.hpp"
#include "event_tap_fake.hpp"
#include "output.hpp"
#include "recorder.hpp"

namespace {

using namespace orvane;
using namespace orvane::eventtap;

std::vector<std::shared_ptr<const EventField>> fieldPool() {
  std::vector<std::shared_ptr<const EventField>> pool;
  for (int i = 0; i < 40; ++i) {
    pool.push_back(std::make_shared<const EventField>(EventField{
        i % 3 ? "AXTextField" : "AXButton", i % 5 ? "" : "AXSecureTextField",
        "Field number " + std::to_string(i), i % 2 ? "Enter a value / name" : "", i % 5 == 0}));
  }
  return pool;
}

// Positions as the platforms give them: whole pixels on X11, fractions of points on macOS.
double coordinate(std::mt19937_64& rng) {
  const double v = static_cast<double>(rng() % 2560);
  return rng() % 2 ? v : v + static_cast<double>(rng() % 1024) / 1024;
}

EventLog makeLog(std::size_t count) {
  std::mt19937_64 rng(42);
  const auto pool = fieldPool();
  static const char* kTexts[] = {"a", "e", " ", "\"", "/", "\xC3\xA9", "Z", "1"};
  EventLog log;
  log.source = std::string(kSourceMacOS);
  log.startedAtUnixMs = 1733700000123;
  log.monotonicStartedAtSeconds = 183204.517348291;
  log.redactionEnabled = false;
  std::int64_t t = 0;
  for (std::size_t i = 0; i < count; ++i) {
    t += static_cast<std::int64_t>(rng() % 40);
    RawInputEvent e;
    const auto kind = rng() % 10;
    e.type = kind < 3   ? static_cast<EventType>(rng() % 4)
             : kind < 8 ? EventType::keyDown
                        : EventType::scrollWheel;
    e.timestampMs = t;
    e.x = coordinate(rng);
    e.y = coordinate(rng);
    e.button = mouseButton(typeName(e.type));
    if (e.type == EventType::keyDown) {
      e.keyCode = static_cast<std::int64_t>(rng() % 128);
      if (rng() % 4)
        e.text = kTexts[rng() % std::size(kTexts)];
      else
        e.redacted = true;
    }
    if (e.type == EventType::scrollWheel) {
      e.deltaY = rng() % 2 ? 1 : -0.25 * static_cast<double>(rng() % 16);
      e.deltaX = rng() % 4 ? 0 : 1;
    }
    if (i % 2) e.field = pool[rng() % pool.size()];
    log.events.push_back(std::move(e));
    if (i % 4 == 0) log.cursorPath.push_back({t, coordinate(rng), coordinate(rng)});
  }
  log.durationMs = t + 1;
  return log;
}

std::size_t encodeOurs(const EventLog& log, std::string& out) {
  out.clear();
  encodeEventLog(log, [&](std::string_view piece) {
    out.append(piece);
    return true;
  });
  return out.size();
}

// The same document through RapidJSON's Writer with its default settings.
std::size_t encodeRapidJson(const EventLog& log, rapidjson::StringBuffer& buffer) {
  buffer.Clear();
  rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
  w.StartObject();
  w.Key("version");
  w.Int64(log.version);
  w.Key("source");
  w.String(log.source.data(), static_cast<rapidjson::SizeType>(log.source.size()));
  w.Key("startedAtUnixMs");
  w.Int64(log.startedAtUnixMs);
  w.Key("monotonicStartedAtSeconds");
  w.Double(log.monotonicStartedAtSeconds);
  w.Key("durationMs");
  w.Int64(log.durationMs);
  w.Key("redactionEnabled");
  w.Bool(log.redactionEnabled);
  w.Key("events");
  w.StartArray();
  auto str = [&](std::string_view s) {
    w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
  };
  log.events.forEach([&](const RawInputEvent& e) {
    w.StartObject();
    w.Key("type");
    str(typeName(e.type));
    w.Key("timestampMs");
    w.Int64(e.timestampMs);
    w.Key("x");
    w.Double(e.x);
    w.Key("y");
    w.Double(e.y);
    w.Key("button");
    str(buttonName(e.button));
    w.Key("keyCode");
    w.Int64(e.keyCode);
    w.Key("text");
    str(e.text);
    w.Key("redacted");
    w.Bool(e.redacted);
    w.Key("deltaX");
    w.Double(e.deltaX);
    w.Key("deltaY");
    w.Double(e.deltaY);
    if (e.field) {
      w.Key("field");
      w.StartObject();
      w.Key("role");
      str(e.field->role);
      w.Key("subrole");
      str(e.field->subrole);
      w.Key("title");
      str(e.field->title);
      w.Key("description");
      str(e.field->description);
      w.Key("secure");
      w.Bool(e.field->secure);
      w.EndObject();
    }
    w.EndObject();
  });
  w.EndArray();
  w.Key("cursorPath");
  w.StartArray();
  log.cursorPath.forEach([&](const CursorPoint& p) {
    w.StartObject();
    w.Key("timestampMs");
    w.Int64(p.timestampMs);
    w.Key("x");
    w.Double(p.x);
    w.Key("y");
    w.Double(p.y);
    w.EndObject();
  });
  w.EndArray();
  w.EndObject();
  return buffer.GetSize();
}

template <typename F>
double bestSeconds(int runs, F&& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

long residentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Heap in use, blocks that malloc maps on their own included.
std::size_t heapBytes() {
  const auto info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

long peakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Records `count` events through a recorder as the tap would hand them over, then finishes.
void measureMemory(std::size_t count, const std::string& logPath) {
  std::mt19937_64 rng(7);
  const auto pool = fieldPool();
  std::int64_t uptimeNs = 1'000'000'000;
  CapturedOutput errors;
  const long residentBefore = residentKiB();
  const auto heapBefore = heapBytes();
  Recorder recorder(logPath, false,
                    Clocks{[] { return std::int64_t{1733700000000}; }, [&] { return uptimeNs; }},
                    errors, kSourceMacOS, getpid());
  std::size_t fieldIndex = 0;
  recorder.setFocusReader([&]() -> std::optional<EventField> {
    // Half the events see a focused element; focus moves now and then.
    if (rng() % 2) return std::nullopt;
    if (rng() % 16 == 0) fieldIndex = rng() % pool.size();
    return *pool[fieldIndex];
  });
  FakeTapEvent key = FakeTapEvent::key(0, "a");
  FakeTapEvent click = FakeTapEvent::pointer(512.5, 384.25);
  FakeTapEvent scroll = FakeTapEvent::scroll(1, 0);
  for (std::size_t i = 0; i < count; ++i) {
    uptimeNs += 7'000'000;
    const auto kind = rng() % 10;
    if (kind < 3)
      handleTapEvent(&recorder, kCGEventLeftMouseDown + rng() % 4, click);
    else if (kind < 8)
      handleTapEvent(&recorder, kCGEventKeyDown, key);
    else
      handleTapEvent(&recorder, kCGEventScrollWheel, scroll);
    handleTapEvent(&recorder, kCGEventMouseMoved, click);  // every 7 ms: one in eight is kept
  }
  const auto heapAfter = heapBytes();
  const double samples = static_cast<double>(recorder.recordedCursorPath().size());
  recorder.finish();
  const long peak = peakKiB();
  std::printf("recorder: %zu events and %.0f cursor samples recorded\n", count, samples);
  std::printf("  heap after recording:   %.1f bytes per event (cursor samples included)\n",
              static_cast<double>(heapAfter - heapBefore) / static_cast<double>(count));
  std::printf("  peak resident growth:   %.1f bytes per event, the final write included\n",
              static_cast<double>(peak - residentBefore) * 1024 / static_cast<double>(count));
  if (!errors.err.empty()) std::printf("  write failed: %s", errors.err.c_str());
  unlink(logPath.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const std::string logPath =
      argc > 2 ? argv[2] : "/tmp/orvane-eventtap-bench-" + std::to_string(getpid()) + ".json";

  // Memory first, while the process is still small.
  measureMemory(count, logPath);

  const EventLog log = makeLog(count);
  std::string ours;
  rapidjson::StringBuffer theirs;
  ours.reserve(count * 300);
  theirs.Reserve(count * 300);
  std::size_t ourBytes = 0, theirBytes = 0;
  const double ourSeconds = bestSeconds(5, [&] { ourBytes = encodeOurs(log, ours); });
  const double theirSeconds = bestSeconds(5, [&] { theirBytes = encodeRapidJson(log, theirs); });
  const double n = static_cast<double>(count);
  std::printf("encode %zu events (%zu cursor samples), best of 5:\n", count, log.cursorPath.size());
  std::printf("  orvane:    %7.1f ms  %7.1f MB/s  %6.2f M events/s  (%zu bytes)\n",
              ourSeconds * 1e3, static_cast<double>(ourBytes) / ourSeconds / 1e6,
              n / ourSeconds / 1e6, ourBytes);
  std::printf("  RapidJSON: %7.1f ms  %7.1f MB/s  %6.2f M events/s  (%zu bytes)\n",
              theirSeconds * 1e3, static_cast<double>(theirBytes) / theirSeconds / 1e6,
              n / theirSeconds / 1e6, theirBytes);
  std::printf("  ratio (RapidJSON time / orvane time): %.2f\n", theirSeconds / ourSeconds);
  return 0;
}
