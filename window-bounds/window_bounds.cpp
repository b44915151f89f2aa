#include "window_bounds.hpp"

#include <algorithm>
#include <cmath>

#include "json.hpp"
#include "line_writer.hpp"
#include "options.hpp"

namespace orvane::windowbounds {
namespace {

constexpr const char* kVisible = "visible";
constexpr const char* kUnavailable = "unavailable";
constexpr const char* kClosed = "closed";

// Alpha at or below this makes a window see-through.
constexpr double kSeeThroughAlpha = 0.01;

bool finite(const Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
         std::isfinite(r.height);
}

}  // namespace

Arguments parseArguments(const std::vector<std::string>& arguments) {
  Arguments result;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    const bool hasValue = index + 1 < arguments.size();
    if (argument == "--window-id" && hasValue) {
      result.windowId = parseUInt32(arguments[++index]).value_or(0);
    } else if (argument == "--poll-ms" && hasValue) {
      const std::int64_t value = parseInt64(arguments[++index]).value_or(result.pollMs);
      result.pollMs = std::clamp(value, kMinPollMs, kMaxPollMs);
    }
  }
  return result;
}

namespace {

std::optional<WindowRecord> windowIn(const std::vector<WindowRecord>& records,
                                     std::uint32_t windowId) {
  for (const auto& record : records) {
    if (readUInt32(record, kCGWindowNumber) == windowId) return record;
  }
  return std::nullopt;
}

}  // namespace

std::optional<WindowRecord> windowInfo(WindowServer& server, std::uint32_t windowId) {
  const auto records = recordsOf(server.copyWindowInfo(kSingleWindowSnapshot, windowId));
  if (!records) return std::nullopt;
  return windowIn(*records, windowId);
}

std::optional<DisplayMatch> displayForWindow(WindowServer& server, const Rect& bounds) {
  const auto displays = activeDisplayList(server);
  std::optional<DisplayId> best;
  double bestArea = 0;
  for (const DisplayId display : displays) {
    const double area = intersectionArea(bounds, server.displayBounds(display));
    if (area > bestArea) {
      best = display;
      bestArea = area;
    }
  }
  if (!best) return std::nullopt;
  for (const auto& screen : server.screens()) {
    if (!screen.screenNumber) continue;
    if (asUInt32(*screen.screenNumber) == *best) {
      // A scale that cannot be written would lose every line on this display.
      const double scale = screen.backingScaleFactor;
      return DisplayMatch{*best, std::isfinite(scale) ? scale : 1};
    }
  }
  return DisplayMatch{*best, 1};
}

std::string signature(std::string_view status, const std::optional<Rect>& bounds,
                      const std::optional<DisplayMatch>& display) {
  std::string s(status);
  s += '|';
  if (bounds) {
    s += json::formatDouble(bounds->x) + ',' + json::formatDouble(bounds->y) + ',' +
         json::formatDouble(bounds->width) + ',' + json::formatDouble(bounds->height);
  } else {
    s += "none";
  }
  s += '|';
  if (display) {
    s += std::to_string(display->id) + ',' + json::formatDouble(display->scale);
  } else {
    s += "none";
  }
  return s;
}

WindowBoundsPoller::WindowBoundsPoller(std::uint32_t windowId, WindowServer& server, Output& output,
                                       std::function<std::int64_t()> clock)
    : windowId(windowId), server(server), output(output), clock(std::move(clock)) {}

std::int32_t WindowBoundsPoller::lastOwnerPid() const {
  std::lock_guard lock(ownerPidLock);
  return ownerPid;
}

void WindowBoundsPoller::tick() {
  const auto records = recordsOf(server.copyWindowInfo(kSingleWindowSnapshot, windowId));
  // A window server that did not answer tells nothing of a window already reported: it stays
  // as it was until the next answer. Before the first report, that counts as a miss (no
  // window server at all).
  if (!records && !lastSignature.empty()) return;
  const auto record = records ? windowIn(*records, windowId) : std::nullopt;
  if (!record) {
    ++missingCount;
    // A window list can miss a window for a tick or two while it is being changed.
    if (missingCount < kMissesUntilClosed) return;
    emitIfChanged(kClosed, std::nullopt, std::nullopt);
    return;
  }
  missingCount = 0;
  if (const auto pid = readInt32(*record, kCGWindowOwnerPID)) {
    std::lock_guard lock(ownerPidLock);
    ownerPid = *pid;
  }

  std::optional<Rect> bounds;
  if (const auto* value = find(*record, kCGWindowBounds)) bounds = rectFromDictionary(*value);
  // Non-finite values are as unusable as a missing frame: they could not be printed.
  // Width and height as CGRectGetWidth/CGRectGetHeight give them: never negative.
  if (!bounds || !finite(*bounds) || std::abs(bounds->width) < 1 || std::abs(bounds->height) < 1) {
    emitIfChanged(kUnavailable, std::nullopt, std::nullopt);
    return;
  }
  const bool onScreen = readBool(*record, kCGWindowIsOnscreen).value_or(false);
  const auto alpha = readDouble(*record, kCGWindowAlpha);
  const bool seeThrough = alpha && *alpha <= kSeeThroughAlpha;
  const char* status = onScreen && !seeThrough ? kVisible : kUnavailable;
  emitIfChanged(status, bounds, displayForWindow(server, *bounds));
}

void WindowBoundsPoller::emitIfChanged(std::string_view status, const std::optional<Rect>& bounds,
                                       const std::optional<DisplayMatch>& display) {
  std::string next = signature(status, bounds, display);
  if (next == lastSignature) return;
  lastSignature = std::move(next);

  json::Object line{{"atUnixMs", clock()}, {"windowId", windowId}, {"status", status}};
  if (bounds) {
    line.emplace_back("bounds", json::Object{{"x", bounds->x},
                                             {"y", bounds->y},
                                             {"width", bounds->width},
                                             {"height", bounds->height}});
  }
  if (display) {
    line.emplace_back("displayId", display->id);
    line.emplace_back("scaleFactor", display->scale);
  }
  emitDirect(output, line);
}

void handleInputLine(const std::string& line, const WindowBoundsPoller& poller,
                     Activation& activation, RunLoop& runLoop) {
  if (line != "activate") return;
  const std::int32_t pid = poller.lastOwnerPid();
  if (pid < 1) return;  // the window was never found
  auto application = activation.runningApplication(pid);
  if (!application) return;
  runLoop.performOnMain([application] { application->activate(); });
}

int run(const Arguments& arguments, WindowServer& server, Activation& activation, RunLoop& runLoop,
        Output& output, std::function<std::int64_t()> clock) {
  runLoop.exitOnTerminationSignals();
  WindowBoundsPoller poller(arguments.windowId, server, output, std::move(clock));
  runLoop.readStandardInputLines(
      [&](const std::string& line) { handleInputLine(line, poller, activation, runLoop); });
  // A window server that says when windows change is followed on its word, not polled; only
  // a window missing from its list is looked for again, until it counts as closed.
  const bool told = server.watchChanges([&poller] { poller.tick(); });
  runLoop.addRepeatingTimer(static_cast<double>(arguments.pollMs) / 1000.0, [&poller, told] {
    if (!told || poller.missing()) poller.tick();
  });
  poller.tick();
  runLoop.run();
  return 0;
}

}  // namespace orvane::windowbounds
