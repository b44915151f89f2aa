// Activation on macOS: the owner's NSRunningApplication.
#if !__has_feature(objc_arc)
#error "This file must be compiled with ARC (-fobjc-arc)."
#endif

#import <AppKit/AppKit.h>

#include "activation.hpp"

namespace orvane::windowbounds {
namespace {

class CocoaApplication final : public RunningApplication {
 public:
  explicit CocoaApplication(NSRunningApplication* application) : application_(application) {}
  void activate() override {
    @autoreleasepool {
      [application_ activateWithOptions:0];
    }
  }

 private:
  NSRunningApplication* application_;
};

class CocoaActivation final : public Activation {
 public:
  std::shared_ptr<RunningApplication> runningApplication(std::int32_t pid) override {
    @autoreleasepool {
      NSRunningApplication* application =
          [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
      if (!application) return nullptr;
      return std::make_shared<CocoaApplication>(application);
    }
  }
};

}  // namespace

std::unique_ptr<Activation> makeActivationMacOS() { return std::make_unique<CocoaActivation>(); }

}  // namespace orvane::windowbounds
