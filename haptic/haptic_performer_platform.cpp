// The performer of the platform this program was built for; no Linux desktop has one to offer.
#include "haptic_performer.hpp"

namespace orvane::haptic {

std::unique_ptr<HapticPerformer> makeHapticPerformer() {
#if defined(__APPLE__)
  return makeHapticPerformerMacOS();
#else
  return makeHapticPerformerSilent();
#endif
}

}  // namespace orvane::haptic
