// Haptic feedback on Linux: its desktops offer no trackpad haptics, so patterns are read as on
// macOS and then played nowhere. A deliberate no-op, not a missing piece.
#include "haptic_performer.hpp"

namespace orvane::haptic {
namespace {

class SilentPerformer final : public HapticPerformer {
 public:
  void perform(HapticPattern, PerformanceTime) override {}
};

}  // namespace

std::unique_ptr<HapticPerformer> makeHapticPerformerSilent() {
  return std::make_unique<SilentPerformer>();
}

}  // namespace orvane::haptic
