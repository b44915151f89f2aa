#include <chrono>
#include <utility>

#include "json.hpp"
#include "options.hpp"
#include "sensors.hpp"

namespace orvane::sensors {

Arguments parseArguments(const std::vector<std::string>& arguments) {
  Arguments result;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    const bool hasValue = index + 1 < arguments.size();
    if (argument == "--poll-ms" && hasValue) {
      result.pollMs = parseInt64(arguments[++index]).value_or(result.pollMs);
    } else if (argument == "--ignore-pid" && hasValue) {
      result.ignorePid = parseInt32(arguments[++index]).value_or(-1);
    }
  }
  return result;
}

double timerIntervalSeconds(std::int64_t pollMs) {
  // NOTE: a timer asked for a period of zero or less fires as fast as it can (NSTimer takes
  // 0.1 ms, a GLib timeout of 0 is always due), which would spend a whole core on polling.
  if (pollMs <= 0) return static_cast<double>(kDefaultPollMs) / 1000.0;
  return static_cast<double>(pollMs) / 1000.0;
}

std::int64_t steadyNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SearchBudget::timeLeft() {
  if (timedOut_) return false;
  if (deadlineMs_ && steadyMs_ && steadyMs_() >= *deadlineMs_) timedOut_ = true;
  if (superseded_ && superseded_()) timedOut_ = true;
  return !timedOut_;
}

bool SlowApplications::resting(std::int32_t pid, std::int64_t nowMs) {
  const auto it = restingUntil_.find(pid);
  if (it == restingUntil_.end()) return false;
  if (nowMs < it->second) return true;
  restingUntil_.erase(it);
  return false;
}

void SlowApplications::note(std::int32_t pid, std::int64_t startedMs, std::int64_t nowMs) {
  if (nowMs - startedMs <= kSearchBudgetMs) return;
  // Only those resting now are kept, so the map stays as small as the slow applications.
  std::erase_if(restingUntil_, [nowMs](const auto& entry) { return entry.second <= nowMs; });
  restingUntil_[pid] = nowMs + kRestMs;
}

SearchBudget SearchBudget::remainder() const {
  SearchBudget rest(*this);
  rest.maxVisits_ -= visits_;
  rest.visits_ = 0;
  rest.seen_.clear();
  return rest;
}

bool SearchBudget::visit(const AXElement& element) {
  if (visits_ >= maxVisits_ || !timeLeft()) return false;
  if (!seen_.insert(element)) return false;
  ++visits_;
  return true;
}

std::optional<AXElement> axElement(Accessibility& ax, const AXElement& element,
                                   std::string_view attribute) {
  const auto value = ax.copyAttributeValue(element, attribute);
  if (!value) return std::nullopt;
  return axElementValue(*value);
}

std::optional<RunningApplication> frontmostContentApp(Workspace& workspace,
                                                      WindowServer& windowServer,
                                                      std::int32_t ignorePid) {
  auto front = workspace.frontmostApplication();
  if (front && front->processIdentifier != ignorePid) return front;

  const auto records = recordsOf(windowServer.copyWindowInfo(kOnScreenSnapshot, 0));
  if (!records) return std::nullopt;
  for (const auto& record : *records) {
    if (readInt64(record, kCGWindowLayer) != 0) continue;
    const auto pid = readInt32(record, kCGWindowOwnerPID);
    if (!pid || *pid == ignorePid) continue;
    auto app = workspace.runningApplication(*pid);
    if (!app || app->activationPolicy != kActivationPolicyRegular) continue;
    return app;
  }
  return std::nullopt;
}

std::optional<std::string> focusedWindowTitle(Accessibility& ax, std::int32_t pid) {
  const AXElement appElement = ax.createApplication(pid);
  const auto window = axElement(ax, appElement, kAttrFocusedWindow);
  if (!window) return std::nullopt;
  return axString(ax, *window, kAttrTitle);
}

SensorPoller::SensorPoller(std::int64_t pollMs, Context& context)
    : pollMs(pollMs), context(context) {}

void SensorPoller::tick() {
  auto app = frontmostContentApp(context.workspace, context.windowServer, context.ignorePid);
  if (!app) return;
  // From here on, whatever the worker still does for another application is of no use.
  frontPid.store(app->processIdentifier);
  browser.store(context.browserBundleIds.contains(app->bundleIdentifier.value_or("")));
  if (app->focusedWindowTitle) {
    // The window line needs no accessibility: it never waits for the worker.
    noteWindow(*app, app->focusedWindowTitle);
    if (!context.browserBundleIds.contains(app->bundleIdentifier.value_or(""))) return;
  }
  {
    std::lock_guard lock(pendingMutex);
    const bool queued = pending.has_value();
    pending = std::move(app);
    if (queued) return;  // the step already queued takes this application
  }
  context.accessibility.post([this](Accessibility& ax) { poll(ax); });
}

bool SensorPoller::noteWindow(const RunningApplication& app,
                              const std::optional<std::string>& title) {
  const std::string name = app.localizedName.value_or("Unknown");
  std::lock_guard lock(stateMutex);
  if (frontPid.load() != app.processIdentifier) return false;
  lastPid = app.processIdentifier;
  if (lastApp && *lastApp == name && lastTitle == title) return true;
  json::Object line{
      {"type", "window"}, {"atUnixMs", context.clock()}, {"app", name}, {"action", "focused"}};
  const std::string bundleId = app.bundleIdentifier.value_or("");
  if (!bundleId.empty()) line.emplace_back("bundleId", bundleId);
  if (title) line.emplace_back("title", *title);
  emit(context.stdoutQueue, line);
  lastApp = name;
  lastTitle = title;
  return true;
}

void SensorPoller::poll(Accessibility& ax) {
  RunningApplication app;
  {
    std::lock_guard lock(pendingMutex);
    if (!pending) return;
    app = std::move(*pending);
    pending.reset();
  }
  const std::int32_t pid = app.processIdentifier;
  const auto superseded = [this, pid] { return frontPid.load() != pid; };
  if (superseded()) return;
  const std::string bundleId = app.bundleIdentifier.value_or("");

  SlowApplications& slow = *context.slowApplications;
  const std::int64_t started = context.steadyMs();
  // An application left alone keeps the title last read, and gives no address.
  const bool resting = slow.resting(pid, started);
  std::optional<std::string> title = app.focusedWindowTitle;
  if (!title) {
    if (!resting) {
      ax.setCallDeadline(started + kSearchBudgetMs);
      title = focusedWindowTitle(ax, pid);
    } else {
      std::lock_guard lock(stateMutex);
      if (lastPid == pid) title = lastTitle;
    }
    if (!noteWindow(app, title)) return;
  }

  if (!resting) slow.note(pid, started, context.steadyMs());
  if (resting || !context.browserBundleIds.contains(bundleId)) return;
  const std::int64_t searchStarted = context.steadyMs();
  ax.setCallDeadline(searchStarted + kSearchBudgetMs);
  SearchBudget budget(kAddressSearchMaxVisits, searchStarted + kSearchBudgetMs, context.steadyMs);
  budget.endWhen(superseded);
  auto url = browserUrl(ax, pid, bundleId, budget);
  slow.note(pid, searchStarted, context.steadyMs());
  if (!url) return;
  std::lock_guard lock(stateMutex);
  if (superseded() || url == lastUrl) return;
  json::Object line{{"type", "url"},
                    {"atUnixMs", context.clock()},
                    {"app", app.localizedName.value_or("Unknown")},
                    {"url", *url}};
  if (title) line.emplace_back("title", *title);
  emit(context.stdoutQueue, line);
  lastUrl = std::move(url);
}

int run(const Arguments& arguments, Context& context, EventTaps& taps, RunLoop& runLoop,
        Output& errors) {
  runLoop.exitOnTerminationSignals();
  SensorPoller poller(arguments.pollMs, context);
  // Where the window server says when windows change, window lines follow its word; only a
  // browser's address, of which it says nothing, is still polled.
  const bool told = context.windowServer.watchChanges([&poller] { poller.tick(); });
  ClickInspector inspector(context, taps, errors, &runLoop);
  runLoop.addRepeatingTimer(timerIntervalSeconds(arguments.pollMs), [&poller, &inspector, told] {
    if (!told || poller.browserInFront()) poller.tick();
    inspector.retryClickTap();
  });
  poller.tick();
  inspector.startClickTap();
  runLoop.run();
  return 0;
}

}  // namespace orvane::sensors
