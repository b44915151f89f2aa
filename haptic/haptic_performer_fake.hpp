// Records what would have been played, for tests.
#pragma once

#include <utility>
#include <vector>

#include "haptic_performer.hpp"

namespace orvane::haptic {

class FakeHapticPerformer final : public HapticPerformer {
 public:
  std::vector<std::pair<HapticPattern, PerformanceTime>> played;
  void perform(HapticPattern pattern, PerformanceTime time) override {
    played.emplace_back(pattern, time);
  }
};

}  // namespace orvane::haptic
