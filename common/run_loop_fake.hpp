// A run loop for unit tests: nothing runs until the test says so.
#pragma once

#include <string>
#include <vector>

#include "run_loop.hpp"

namespace orvane {

class FakeRunLoop final : public RunLoop {
 public:
  struct Timer {
    double intervalSeconds;
    std::function<void()> action;
  };
  struct Delayed {
    double delaySeconds;
    std::function<void()> work;
  };

  std::vector<Timer> timers;
  std::vector<Delayed> mainQueue;  // in submission order; delay 0 for performOnMain
  std::function<void(const std::string&)> inputReader;
  bool signalsInstalled = false;
  std::function<void()> terminationAction;
  int runs = 0;
  // What happens while the loop "runs": a test feeds events and signals here.
  std::function<void()> whileRunning;

  void addRepeatingTimer(double intervalSeconds, std::function<void()> action) override {
    timers.push_back({intervalSeconds, std::move(action)});
  }
  void performOnMain(std::function<void()> work) override {
    mainQueue.push_back({0, std::move(work)});
  }
  void performOnMainAfter(double delaySeconds, std::function<void()> work) override {
    mainQueue.push_back({delaySeconds, std::move(work)});
  }
  void exitOnTerminationSignals() override { signalsInstalled = true; }
  void callOnTerminationSignals(std::function<void()> action) override {
    terminationAction = std::move(action);
  }
  void readStandardInputLines(std::function<void(const std::string&)> onLine) override {
    inputReader = std::move(onLine);
  }
  void run() override {
    ++runs;
    if (whileRunning) whileRunning();
  }

  // Test controls.
  void fireTimers() {
    for (auto& t : timers) t.action();
  }
  // Runs what was handed to the main thread so far, in order.
  void drainMain() {
    auto pending = std::move(mainQueue);
    mainQueue.clear();
    for (auto& d : pending) d.work();
  }
  // SIGINT or SIGTERM, as the loop would hand it over.
  void terminate() {
    if (terminationAction) terminationAction();
  }
  void input(const std::string& line) {
    if (inputReader) inputReader(line);
  }
};

}  // namespace orvane
