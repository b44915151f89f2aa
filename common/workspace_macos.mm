// The workspace of macOS: NSWorkspace's frontmost application and NSRunningApplication.
#if !__has_feature(objc_arc)
#error "This file must be compiled with ARC (-fobjc-arc)."
#endif

#import <AppKit/AppKit.h>

#include "cf_ref.hpp"
#include "workspace.hpp"

namespace orvane {
namespace {

std::optional<std::string> utf8(NSString* text) {
  if (!text) return std::nullopt;
  return cf::toUtf8((__bridge CFStringRef)text);
}

RunningApplication describe(NSRunningApplication* app) {
  RunningApplication out;
  out.processIdentifier = app.processIdentifier;
  out.localizedName = utf8(app.localizedName);
  out.bundleIdentifier = utf8(app.bundleIdentifier);
  out.activationPolicy = static_cast<std::int64_t>(app.activationPolicy);
  return out;
}

class MacWorkspace : public Workspace {
 public:
  std::optional<RunningApplication> frontmostApplication() override {
    @autoreleasepool {
      NSRunningApplication* app = NSWorkspace.sharedWorkspace.frontmostApplication;
      if (!app) return std::nullopt;
      return describe(app);
    }
  }

  std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
    @autoreleasepool {
      NSRunningApplication* app =
          [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
      if (!app) return std::nullopt;
      return describe(app);
    }
  }
};

}  // namespace

std::unique_ptr<Workspace> makeWorkspaceMacOS() { return std::make_unique<MacWorkspace>(); }

}  // namespace orvane
