// A scriptable workspace for unit tests: the frontmost application and the running ones.
#pragma once

#include <map>

#include "workspace.hpp"

namespace orvane {

class FakeWorkspace : public Workspace {
 public:
  // What the next calls answer; tests change these between calls.
  std::optional<RunningApplication> front;
  std::map<std::int32_t, RunningApplication> running;  // by pid; `front` need not be listed

  // Adds (or replaces) a running application and answers it.
  RunningApplication& addApplication(std::int32_t pid, std::optional<std::string> name,
                                     std::optional<std::string> bundleId = std::nullopt,
                                     std::int64_t policy = kActivationPolicyRegular) {
    RunningApplication app{pid, std::move(name), std::move(bundleId), policy, std::nullopt};
    return running[pid] = std::move(app);
  }
  // Puts the running application with that pid in front (it must have been added).
  void bringToFront(std::int32_t pid) { front = running.at(pid); }

  int frontmostQueries = 0;
  std::vector<std::int32_t> pidQueries;

  std::optional<RunningApplication> frontmostApplication() override {
    ++frontmostQueries;
    return front;
  }
  std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
    pidQueries.push_back(pid);
    auto it = running.find(pid);
    if (it != running.end()) return it->second;
    if (front && front->processIdentifier == pid) return front;
    return std::nullopt;
  }
};

}  // namespace orvane
