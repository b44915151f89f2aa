// Haptic feedback on macOS through AppKit's haptic feedback manager.
#include "haptic_performer.hpp"

#import <AppKit/AppKit.h>

#if !__has_feature(objc_arc)
#error "haptic_performer_macos.mm must be compiled with ARC (-fobjc-arc)"
#endif

static_assert(NSHapticFeedbackPatternGeneric == 0 && NSHapticFeedbackPatternAlignment == 1 &&
              NSHapticFeedbackPatternLevelChange == 2);
static_assert(NSHapticFeedbackPerformanceTimeDefault == 0 &&
              NSHapticFeedbackPerformanceTimeNow == 1 &&
              NSHapticFeedbackPerformanceTimeDrawCompleted == 2);

namespace orvane::haptic {
namespace {

class AppKitPerformer final : public HapticPerformer {
 public:
  void perform(HapticPattern pattern, PerformanceTime time) override {
    @autoreleasepool {
      // Asked for every time: the system may hand out another performer as devices come and go.
      id<NSHapticFeedbackPerformer> performer = [NSHapticFeedbackManager defaultPerformer];
      [performer performFeedbackPattern:static_cast<NSHapticFeedbackPattern>(pattern)
                        performanceTime:static_cast<NSHapticFeedbackPerformanceTime>(time)];
    }
  }
};

}  // namespace

std::unique_ptr<HapticPerformer> makeHapticPerformerMacOS() {
  return std::make_unique<AppKitPerformer>();
}

}  // namespace orvane::haptic
