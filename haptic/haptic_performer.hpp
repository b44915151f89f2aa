// The trackpad's haptic feedback, in the macOS vocabulary.
#pragma once

#include <memory>

namespace orvane::haptic {

// NSHapticFeedbackPattern raw values.
enum class HapticPattern : int { generic = 0, alignment = 1, levelChange = 2 };

// NSHapticFeedbackPerformanceTime raw values.
enum class PerformanceTime : int { defaultTime = 0, now = 1, drawCompleted = 2 };

class HapticPerformer {
 public:
  virtual ~HapticPerformer() = default;
  // Plays one pattern; the platform never says whether it was felt.
  virtual void perform(HapticPattern pattern, PerformanceTime time) = 0;
};

// macOS: the haptic manager's default performer, asked for anew on every call.
std::unique_ptr<HapticPerformer> makeHapticPerformerMacOS();
// Linux desktops (X11 and Wayland alike) have no trackpad haptics: this one plays nothing.
std::unique_ptr<HapticPerformer> makeHapticPerformerSilent();
// This build's performer.
std::unique_ptr<HapticPerformer> makeHapticPerformer();

}  // namespace orvane::haptic
