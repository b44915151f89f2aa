// Prints the outputs of every tool's JSON writer for random records, for the schema property
// test: each tool's own code builds and encodes them (over the desktop fakes where the lines
// come from the desktop), so what is printed is what the tool would print for such a desktop.
//
//   orvane-json-samples SEED COUNT
//
// Each sample is "<schema name> <byte count>\n" followed by exactly the bytes the tool writes
// for one document (a line with its "\n", an array, a log file) and a "\n".

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "accessibility_fake.hpp"
#include "event_tap_fake.hpp"
#include "ocr.hpp"
#include "output.hpp"
#include "recorder.hpp"
#include "results.hpp"
#include "sensors.hpp"
#include "text_recognizer_fake.hpp"
#include "window_bounds.hpp"
#include "window_list.hpp"
#include "window_record.hpp"
#include "window_server_fake.hpp"
#include "workspace_fake.hpp"

namespace orvane {
namespace {

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine(seed) {}

  std::int64_t between(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(engine);
  }
  bool chance(double p) { return std::bernoulli_distribution(p)(engine); }
  double real(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(engine);
  }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(between(0, static_cast<std::int64_t>(items.size()) - 1))];
  }

  // Coordinates as desktops give them: whole, half, arbitrary fractions, far away, negative.
  double coordinate() {
    switch (between(0, 5)) {
      case 0:
        return static_cast<double>(between(-4000, 8000));
      case 1:
        return static_cast<double>(between(-8000, 16000)) / 2;
      case 2:
        return real(-5000, 5000);
      case 3:
        return pick<double>({0.0, -0.0, 1e-7, -144.5, 1e16, 123456789.125});
      default:
        return static_cast<double>(between(0, 2000));
    }
  }
  double length(double low = 0) {
    switch (between(0, 3)) {
      case 0:
        return low + static_cast<double>(between(0, 3000));
      case 1:
        return low + real(0, 40);
      case 2:
        return low + static_cast<double>(between(0, 4000)) / 3;
      default:
        return low;
    }
  }

  // Text with what needs escaping or replacing: quotes, backslashes, slashes, control
  // characters, non-ASCII letters, emoji with joiners, and bytes that are not UTF-8.
  std::string text(int maxPieces = 6) {
    static const std::vector<std::string> pieces = {"Notes",
                                                    "shopping/list",
                                                    "say \"hi\"",
                                                    "back\\slash",
                                                    "tab\there",
                                                    "line\nbreak",
                                                    "\r",
                                                    std::string("nul\0byte", 8),
                                                    "\x01\x1f",
                                                    "caf\xc3\xa9",
                                                    "\xe6\x97\xa5\xe6\x9c\xac",
                                                    "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb",
                                                    "bad\xff\xfe",
                                                    "\xc3",
                                                    "\xed\xa0\x80",
                                                    "  ",
                                                    " padded ",
                                                    "https://example.org/a?b=c&d",
                                                    "\xe2\x80\xa8",
                                                    "</script>",
                                                    "x"};
    std::string s;
    const auto count = between(0, maxPieces);
    for (std::int64_t i = 0; i < count; ++i) s += pick(pieces);
    return s;
  }
  std::optional<std::string> maybeText(double present = 0.8) {
    if (!chance(present)) return std::nullopt;
    return text();
  }

  std::uint32_t windowNumber() {
    return static_cast<std::uint32_t>(
        pick<std::int64_t>({1, 2, 4194305, 4294967295, between(1, 4294967295)}));
  }

  std::mt19937_64 engine;
};

void print(std::string_view schema, std::string_view bytes) {
  std::string head = std::string(schema) + " " + std::to_string(bytes.size()) + "\n";
  writeAll(STDOUT_FILENO, head);
  writeAll(STDOUT_FILENO, bytes);
  writeAll(STDOUT_FILENO, "\n");
}

// --- orvane-window-list: random snapshots through the filter chain and the encoder.

RecordValue number(Random& r, double value) {
  // The window server's numbers come as integers or doubles.
  if (value == std::floor(value) && std::abs(value) < 9e15 && r.chance(0.6))
    return static_cast<std::int64_t>(value);
  return value;
}

void windowList(Random& r) {
  std::vector<RecordValue> snapshot;
  const auto count = r.between(0, 12);
  for (std::int64_t i = 0; i < count; ++i) {
    Dictionary record;
    if (r.chance(0.9))
      record.emplace_back(std::string(kCGWindowLayer),
                          number(r, r.pick<double>({0, 0, 0, 3, 25, -1, 0.5})));
    if (r.chance(0.95))
      record.emplace_back(std::string(kCGWindowAlpha),
                          number(r, r.pick<double>({1, 0.5, 0.02, 0.01, 0, 0.011})));
    if (r.chance(0.95)) {
      Dictionary bounds{{"X", number(r, r.coordinate())},
                        {"Y", number(r, r.coordinate())},
                        {"Width", number(r, r.pick<double>({32, 31.9, 100, r.length(20)}))},
                        {"Height", number(r, r.pick<double>({32, 31.99, 600, r.length(20)}))}};
      record.emplace_back(std::string(kCGWindowBounds), std::move(bounds));
    }
    if (r.chance(0.97)) {
      const double id = r.chance(0.1) ? 0 : r.windowNumber();
      record.emplace_back(std::string(kCGWindowNumber),
                          r.chance(0.1) ? RecordValue(id + 0.25) : number(r, id));
    }
    if (r.chance(0.9))
      record.emplace_back(std::string(kCGWindowOwnerPID),
                          number(r, static_cast<double>(r.between(-1, 2147483647))));
    if (auto owner = r.maybeText()) record.emplace_back(std::string(kCGWindowOwnerName), *owner);
    if (r.chance(0.1)) record.emplace_back(std::string(kCGWindowOwnerName), r.between(1, 9));
    if (auto title = r.maybeText()) record.emplace_back(std::string(kCGWindowName), *title);
    snapshot.emplace_back(std::move(record));
  }
  windowlist::Exclusions exclusions;
  exclusions.excludedPids.insert(r.between(0, 100));
  if (auto text = windowlist::encodeWindows(windowlist::recordableWindows(snapshot, exclusions)))
    print("window-list", *text + "\n");
}

// --- orvane-window-bounds: a window that moves, hides, fades, loses its frame and closes,
// over random displays and screens; every line the poller prints.

void windowBounds(Random& r) {
  FakeWindowServer server;
  const auto displays = r.between(0, 3);
  for (std::int64_t i = 0; i < displays; ++i) {
    const auto id = static_cast<DisplayId>(
        r.pick<std::int64_t>({1, 2, 0, 4294967295, r.between(0, 4294967295)}));
    server.displays.push_back({id,
                               {r.pick<double>({0, 1920, -1280}), r.pick<double>({0, 1080, -400}),
                                r.pick<double>({1920, 1280, 3840}), r.pick<double>({1080, 800})}});
    if (r.chance(0.8))
      server.screenList.push_back(
          {RecordValue(static_cast<std::int64_t>(id)), r.pick<double>({1, 2, 1.5, 1.25, 3})});
  }
  const std::uint32_t windowId = r.windowNumber();
  CapturedOutput output;
  std::int64_t now = 1700000000000 + r.between(0, 1000000);
  windowbounds::WindowBoundsPoller poller(windowId, server, output, [&] { return now++; });
  const auto ticks = r.between(1, 25);
  std::int64_t missing = 0;  // ticks left in a run without the window
  for (std::int64_t t = 0; t < ticks; ++t) {
    if (missing == 0 && r.chance(0.12)) missing = r.between(1, 5);
    if (missing > 0) {
      --missing;
      server.windows = r.chance(0.3) ? std::nullopt : std::optional(std::vector<RecordValue>{});
    } else {
      Dictionary record{{std::string(kCGWindowNumber), static_cast<std::int64_t>(windowId)}};
      if (r.chance(0.9)) record.emplace_back(std::string(kCGWindowOwnerPID), r.between(1, 99999));
      if (r.chance(0.9)) record.emplace_back(std::string(kCGWindowIsOnscreen), r.chance(0.7));
      if (r.chance(0.7))
        record.emplace_back(std::string(kCGWindowAlpha), r.pick<double>({1, 0.01, 0.011, 0, 0.5}));
      if (r.chance(0.9)) {
        Dictionary bounds{{"X", number(r, r.coordinate())},
                          {"Y", number(r, r.coordinate())},
                          {"Width", number(r, r.pick<double>({0.5, 1, 640, -300, r.length()}))},
                          {"Height", number(r, r.pick<double>({0.5, 1, 480, -2, r.length()}))}};
        if (r.chance(0.05)) bounds.pop_back();
        record.emplace_back(std::string(kCGWindowBounds), std::move(bounds));
      }
      server.windows = std::vector<RecordValue>{RecordValue(std::move(record))};
    }
    poller.tick();
  }
  // One sample per line, each with its "\n".
  std::size_t start = 0;
  while (start < output.out.size()) {
    const auto end = output.out.find('\n', start);
    if (end == std::string::npos) {
      print("window-bounds-line", output.out.substr(start));  // an unterminated line fails
      break;
    }
    print("window-bounds-line", output.out.substr(start, end + 1 - start));
    start = end + 1;
  }
}

// --- orvane-capture-selector: each result record through the result writer.

void selectorResult(Random& r) {
  CapturedOutput output;
  switch (r.between(0, 4)) {
    case 0:
    case 1: {
      selector::WindowSelectionOutput w;
      w.windowId = r.windowNumber();
      w.ownerPid = static_cast<std::int32_t>(
          r.pick<std::int64_t>({-1, 0, 97, 2147483647, -2147483648LL, r.between(1, 4194304)}));
      w.ownerName = r.text();
      w.title = r.text();
      w.displayId = static_cast<std::uint32_t>(
          r.pick<std::int64_t>({1, 0, 4294967295, r.between(0, 4294967295)}));
      w.bounds = {r.coordinate(), r.coordinate(), r.length(), r.length()};
      // A frame that is not finite cannot be written: the cancellation comes instead.
      if (r.chance(0.03)) w.bounds.width = std::numeric_limits<double>::infinity();
      if (r.chance(0.03)) w.bounds.y = std::nan("");
      selector::writeJson(output, w);
      break;
    }
    case 2:
    case 3: {
      selector::ScreenSelectionOutput s;
      s.displayId = static_cast<std::uint32_t>(r.between(0, 4294967295));
      selector::writeJson(output, s);
      break;
    }
    default:
      selector::writeJson(output, selector::CancelledOutput{});
  }
  print("capture-selector-result", output.out);
}

// --- orvane-capture-sensors: applications that come and go in front, titles that change,
// browsers showing addresses, clicks over random accessibility trees.

AXValue axText(std::string s) { return s; }

void sensorsLines(Random& r) {
  FakeWorkspace workspace;
  FakeWindowServer windowServer;
  FakeAccessibility ax;
  FakeEventTaps taps;
  struct Queue : SerialWriteQueue {
    std::vector<std::string> lines;
    void submit(std::string text) override { lines.push_back(std::move(text)); }
  } queue;
  // Accessibility work runs at once, on this thread, as the worker would run it later.
  struct InlineWorker : sensors::AccessibilityWorker {
    Accessibility& ax;
    explicit InlineWorker(Accessibility& a) : ax(a) {}
    void post(Job job) override { job(ax); }
  } worker{ax};
  CapturedOutput errors;
  std::int64_t now = 1700000000000 + r.between(0, 1000000);
  sensors::Context context{workspace, windowServer,           worker, queue, [&] { return now++; },
                           -1,        browserBundleIdsMacOS()};

  static const std::vector<std::string> roles = {
      "AXButton", "AXTextField", "AXStaticText", "AXWindow", "AXGroup", "AXWebArea", ""};
  static const std::vector<std::string> bundles = {"com.apple.Notes", "com.google.Chrome",
                                                   "com.apple.Safari", "", "org.example.app"};
  // A few elements, nested, with random roles, labels and frames.
  std::vector<FakeAccessibility::Id> elements;
  const auto count = r.between(1, 8);
  for (std::int64_t i = 0; i < count; ++i) {
    FakeAccessibility::Attributes attributes;
    if (r.chance(0.7)) attributes.emplace_back("AXRole", axText(r.pick(roles)));
    for (const char* label : {"AXTitle", "AXDescription", "AXValue", "AXHelp"}) {
      if (r.chance(0.3)) {
        std::string text = r.text();
        if (r.chance(0.1))
          for (int k = 0; k < 30; ++k) text += "long label \xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd ";
        attributes.emplace_back(label, axText(std::move(text)));
      }
    }
    if (r.chance(0.2)) attributes.emplace_back("AXURL", axText(r.text()));
    const auto id = ax.add(std::move(attributes));
    const Rect frame{r.coordinate(), r.coordinate(), r.length(), r.length()};
    switch (r.between(0, 3)) {
      case 0:
        ax.setFrame(id, frame);
        break;
      case 1:
        ax.setPositionAndSize(id, frame);
        break;
      case 2:
        ax.setFrame(id, {0, 0, 5000, 5000});
        break;
      default:
        break;
    }
    if (!elements.empty() && r.chance(0.6)) ax.setChildren(r.pick(elements), {id});
    elements.push_back(id);
  }
  // Applications, each with a focused window whose title may be unreadable.
  std::vector<std::int32_t> pids;
  const auto apps = r.between(1, 4);
  for (std::int64_t i = 0; i < apps; ++i) {
    const auto pid = static_cast<std::int32_t>(r.between(2, 99999));
    std::optional<std::string> bundle;
    if (r.chance(0.8)) bundle = r.pick(bundles);
    workspace.addApplication(pid, r.maybeText(0.9), bundle,
                             r.chance(0.9) ? kActivationPolicyRegular : 1);
    const auto app = ax.add({{"AXRole", axText("AXApplication")}});
    ax.setApplication(pid, app);
    if (r.chance(0.8)) {
      const auto window = ax.add({{"AXRole", axText("AXWindow")}});
      if (r.chance(0.8)) ax.set(window, "AXTitle", axText(r.text()));
      ax.set(app, "AXFocusedWindow", ax.element(window));
      if (r.chance(0.7)) ax.setChildren(window, {r.pick(elements)});
    }
    pids.push_back(pid);
  }

  sensors::SensorPoller poller(1000, context);
  sensors::ClickInspector inspector(context, taps, errors);
  inspector.startClickTap();
  ax.hitTest = [&](float, float) -> std::optional<FakeAccessibility::Id> {
    if (r.chance(0.2)) return std::nullopt;
    return r.pick(elements);
  };
  static const std::vector<std::int64_t> clickTypes = {
      kCGEventLeftMouseDown, kCGEventLeftMouseUp,    kCGEventRightMouseDown,
      kCGEventRightMouseUp,  kCGEventOtherMouseDown, kCGEventOtherMouseUp};
  const auto steps = r.between(1, 30);
  for (std::int64_t s = 0; s < steps; ++s) {
    switch (r.between(0, 4)) {
      case 0:
        if (r.chance(0.15))
          workspace.front.reset();
        else
          workspace.bringToFront(r.pick(pids));
        break;
      case 1: {
        const auto window = ax.add({{"AXRole", axText("AXWindow")}, {"AXTitle", axText(r.text())}});
        ax.set(*ax.idOf(ax.createApplication(r.pick(pids))), "AXFocusedWindow", ax.element(window));
        std::vector<FakeAccessibility::Id> children{r.pick(elements)};
        // What a browser shows: a web area with its address, or an address bar.
        if (r.chance(0.4))
          children.push_back(
              ax.add({{"AXRole", axText("AXWebArea")}, {"AXURL", axText(r.text(3))}}));
        if (r.chance(0.4))
          children.push_back(
              ax.add({{"AXRole", axText("AXTextField")},
                      {"AXValue",
                       axText(r.pick<std::string>({"example.org/", "/home/u/", "https://x.org/"}) +
                              r.text(2))}}));
        ax.setChildren(window, children);
        break;
      }
      case 2:
        poller.tick();
        break;
      default:
        taps.post(static_cast<std::uint32_t>(r.pick(clickTypes)),
                  FakeTapEvent::pointer(r.coordinate(), r.coordinate()));
    }
  }
  poller.tick();
  for (const auto& line : queue.lines) print("capture-sensors-line", line);
}

// --- orvane-eventtap: a recording of random input, finished into a real log file.

void eventLog(Random& r, const std::filesystem::path& directory) {
  FakeAccessibility ax;
  std::vector<FakeAccessibility::Id> fields;
  static const std::vector<std::string> roles = {"AXTextField", "AXSecureTextField", "AXButton", "",
                                                 "AXsEcUrE",    "AXWebArea"};
  for (int i = 0; i < 4; ++i) {
    FakeAccessibility::Attributes attributes;
    if (r.chance(0.8)) attributes.emplace_back("AXRole", axText(r.pick(roles)));
    if (r.chance(0.4)) attributes.emplace_back("AXSubrole", axText(r.pick(roles)));
    if (r.chance(0.6)) attributes.emplace_back("AXTitle", axText(r.text()));
    if (r.chance(0.4)) attributes.emplace_back("AXDescription", axText(r.text()));
    fields.push_back(ax.add(std::move(attributes)));
  }
  std::int64_t wall = 1733700000000 + r.between(0, 100000000);
  std::int64_t uptime = r.between(0, 900000) * 1'000'000'007LL;
  eventtap::Clocks clocks{[&] { return wall; }, [&] { return uptime; }};
  CapturedOutput errors;
  const auto path = directory / ("log-" + std::to_string(r.between(0, 1LL << 40)) + ".json");
  eventtap::Recorder recorder(path.string(), r.chance(0.5), clocks, errors, eventtap::kSourceX11,
                              1);
  recorder.setFocusReader([&] { return eventtap::focusedField(ax); });

  static const std::vector<std::int64_t> types = {
      kCGEventLeftMouseDown, kCGEventLeftMouseUp,      kCGEventRightMouseDown,
      kCGEventRightMouseUp,  kCGEventKeyDown,          kCGEventScrollWheel,
      kCGEventMouseMoved,    kCGEventLeftMouseDragged, kCGEventRightMouseDragged,
      kCGEventKeyUp,         kCGEventFlagsChanged,     kCGEventOtherMouseDown};
  const auto count = r.between(0, 40);
  for (std::int64_t i = 0; i < count; ++i) {
    uptime += r.pick<std::int64_t>(
        {0, 1, 999'999, 1'000'000, 49'999'999, 50'000'000, r.between(0, 2'000'000'000)});
    if (r.chance(0.3)) ax.setFocused(r.chance(0.3) ? std::nullopt : std::optional(r.pick(fields)));
    FakeTapEvent event = FakeTapEvent::pointer(r.coordinate(), r.coordinate());
    event.code = r.pick<std::int64_t>({-1, 0, 4, 36, 53, 126, 127});
    if (r.chance(0.7)) event.text = r.text(2);
    event.axis1 = r.pick<double>({0, 1, -1, 0.25, -3.5});
    event.axis2 = r.pick<double>({0, 1, -1, 0.1});
    eventtap::handleTapEvent(&recorder, static_cast<std::uint32_t>(r.pick(types)), event);
  }
  uptime += r.between(0, 5'000'000'000);
  recorder.finish();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "no log was written: %s\n", errors.err.c_str());
    std::exit(1);
  }
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::filesystem::remove(path);
  print("eventtap-log", bytes);
}

// --- orvane-ocr: random observations, including blank and missing readings and images that
// cannot be read, through the whole tool.

void ocrResults(Random& r) {
  ocr::FakeTextRecognizer recognizer;
  std::vector<std::string> paths;
  const auto images = r.between(0, 5);
  for (std::int64_t i = 0; i < images; ++i) {
    std::string path = r.chance(0.2) ? std::string("/frames/a/b.png") : r.text(3);
    paths.push_back(path);
    if (r.chance(0.2)) continue;  // unreadable
    std::vector<ocr::TextObservation> observations;
    const auto lines = r.between(0, 6);
    for (std::int64_t k = 0; k < lines; ++k) {
      ocr::TextObservation o;
      if (r.chance(0.9)) o.topCandidate = r.pick<std::string>({" \n ", "", "\t"}) + r.text(3);
      o.confidence = static_cast<float>(r.pick<double>({0, 1, 0.5, r.real(0, 1)}));
      const double x = r.real(0, 1), y = r.real(0, 1);
      o.boundingBox = {x, y, r.real(0, 1 - x), r.real(0, 1 - y)};
      observations.push_back(std::move(o));
    }
    recognizer.answers[path] = std::move(observations);
  }
  CapturedOutput output;
  ocr::run(paths, recognizer, output);
  print("ocr-result", output.out);
}

}  // namespace
}  // namespace orvane

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: orvane-json-samples SEED COUNT\n");
    return 2;
  }
  orvane::Random random(std::strtoull(argv[1], nullptr, 10));
  const long count = std::strtol(argv[2], nullptr, 10);
  const auto directory = std::filesystem::temp_directory_path() /
                         ("orvane-json-samples-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  for (long i = 0; i < count; ++i) {
    orvane::windowList(random);
    orvane::windowBounds(random);
    orvane::selectorResult(random);
    orvane::sensorsLines(random);
    orvane::eventLog(random, directory);
    orvane::ocrResults(random);
  }
  std::filesystem::remove_all(directory);
  return 0;
}
