// The overlay's drawing on macOS: the current NSGraphicsContext, NSBezierPath and NSColor.
#if !__has_feature(objc_arc)
#error "This file must be compiled with ARC (-fobjc-arc)."
#endif

#import <AppKit/AppKit.h>

#include "cocoa_macos.hpp"

namespace orvane::selector {
namespace {

class CocoaCanvas final : public Canvas {
 public:
  std::optional<CompositingOperation> compositingOperation() override {
    @autoreleasepool {
      NSGraphicsContext* context = [NSGraphicsContext currentContext];
      if (!context) return std::nullopt;
      // Operations the selector never sets itself pass through unchanged.
      return static_cast<CompositingOperation>(context.compositingOperation);
    }
  }
  void setCompositingOperation(CompositingOperation operation) override {
    @autoreleasepool {
      [NSGraphicsContext currentContext].compositingOperation =
          static_cast<NSCompositingOperation>(operation);
    }
  }
  void saveGraphicsState() override {
    @autoreleasepool {
      [NSGraphicsContext saveGraphicsState];
    }
  }
  void restoreGraphicsState() override {
    @autoreleasepool {
      [NSGraphicsContext restoreGraphicsState];
    }
  }
  void setFillColor(Color color) override {
    @autoreleasepool {
      [nsColor(color) setFill];
    }
  }
  void setStrokeColor(Color color) override {
    @autoreleasepool {
      [nsColor(color) setStroke];
    }
  }
  void fillRect(const Rect& rect, CompositingOperation operation) override {
    @autoreleasepool {
      NSRectFillUsingOperation(nsRect(rect), static_cast<NSCompositingOperation>(operation));
    }
  }
  void fillRoundedRect(const Rect& rect, double radius) override {
    @autoreleasepool {
      [[NSBezierPath bezierPathWithRoundedRect:nsRect(rect) xRadius:radius yRadius:radius] fill];
    }
  }
  void strokeRoundedRect(const Rect& rect, double radius, double lineWidth) override {
    @autoreleasepool {
      NSBezierPath* path = [NSBezierPath bezierPathWithRoundedRect:nsRect(rect)
                                                           xRadius:radius
                                                           yRadius:radius];
      path.lineWidth = lineWidth;
      [path stroke];
    }
  }
};

}  // namespace

std::unique_ptr<Canvas> makeCanvasMacOS() { return std::make_unique<CocoaCanvas>(); }

}  // namespace orvane::selector
