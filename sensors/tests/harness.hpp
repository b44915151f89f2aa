// The tool's logic over fakes: a scriptable desktop, a clock that counts, and the lines as the
// stdout queue receives them.
#pragma once

#include <string>
#include <vector>

#include "accessibility_fake.hpp"
#include "event_tap_fake.hpp"
#include "sensors.hpp"
#include "window_server_fake.hpp"
#include "workspace_fake.hpp"

namespace orvane::sensors {

// Keeps each submitted text, in order, as the serial queue would write it.
struct RecordingQueue : SerialWriteQueue {
  std::vector<std::string> lines;
  void submit(std::string text) override { lines.push_back(std::move(text)); }
};

// Runs each job at once on the calling thread, as the worker would run it later.
struct InlineWorker : AccessibilityWorker {
  Accessibility& ax;
  explicit InlineWorker(Accessibility& a) : ax(a) {}
  void post(Job job) override { job(ax); }
};

// Keeps the jobs until the test runs them.
struct HeldWorker : AccessibilityWorker {
  Accessibility& ax;
  std::vector<Job> jobs;
  explicit HeldWorker(Accessibility& a) : ax(a) {}
  void post(Job job) override { jobs.push_back(std::move(job)); }
  void runAll() {
    auto ready = std::move(jobs);
    jobs.clear();
    for (auto& job : ready) job(ax);
  }
};

struct Harness {
  FakeWorkspace workspace;
  FakeWindowServer windowServer;
  FakeAccessibility ax;
  InlineWorker worker{ax};
  FakeEventTaps taps;
  RecordingQueue queue;
  CapturedOutput errors;
  std::int64_t now = 1700000000000;
  std::int64_t steadyNow = 5000;  // the steady clock; tests move it
  Context context{workspace,
                  windowServer,
                  worker,
                  queue,
                  [this] { return now++; },
                  -1,
                  browserBundleIdsMacOS(),
                  [this] { return steadyNow; }};

  // The lines emitted since the last call.
  std::vector<std::string> take() {
    auto lines = std::move(queue.lines);
    queue.lines.clear();
    return lines;
  }

  // An application with a focused window of that title (none: no window).
  FakeAccessibility::Id addApp(std::int32_t pid, std::optional<std::string> name,
                               std::optional<std::string> bundleId,
                               std::optional<std::string> title = std::nullopt,
                               std::int64_t policy = kActivationPolicyRegular) {
    workspace.addApplication(pid, std::move(name), std::move(bundleId), policy);
    const auto app = ax.add({{"AXRole", std::string("AXApplication")}});
    ax.setApplication(pid, app);
    if (title) {
      const auto window = ax.add({{"AXRole", std::string("AXWindow")}, {"AXTitle", *title}});
      ax.set(app, "AXFocusedWindow", ax.element(window));
    }
    return app;
  }

  // The focused window of the application with that pid, as addApp made it.
  FakeAccessibility::Id focusedWindow(std::int32_t pid) {
    const auto app = ax.createApplication(pid);
    return *ax.idOf(*axElementValue(*ax.copyAttributeValue(app, "AXFocusedWindow")));
  }
};

using Lines = std::vector<std::string>;

}  // namespace orvane::sensors
