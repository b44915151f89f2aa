// Activation for unit tests: scriptable running processes, recorded lookups and activations.
#pragma once

#include <set>
#include <vector>

#include "activation.hpp"

namespace orvane::windowbounds {

class FakeActivation final : public Activation {
 public:
  std::set<std::int32_t> running;
  std::vector<std::int32_t> lookups;
  std::vector<std::int32_t> activations;

  std::shared_ptr<RunningApplication> runningApplication(std::int32_t pid) override {
    lookups.push_back(pid);
    if (!running.count(pid)) return nullptr;
    return std::make_shared<App>(*this, pid);
  }

 private:
  class App final : public RunningApplication {
   public:
    App(FakeActivation& owner, std::int32_t pid) : owner_(owner), pid_(pid) {}
    void activate() override { owner_.activations.push_back(pid_); }

   private:
    FakeActivation& owner_;
    std::int32_t pid_;
  };
};

}  // namespace orvane::windowbounds
