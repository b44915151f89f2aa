// The selector's application on macOS: an accessory NSApplication whose delegate is a
// CaptureSelectorController, one borderless OverlayWindow per screen with a WindowOverlayView
// as its content, a local key-down monitor, and delayed blocks on the main queue.
#if !__has_feature(objc_arc)
#error "This file must be compiled with ARC (-fobjc-arc)."
#endif

#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>
#include <unistd.h>

#include <cstdint>

#include "application.hpp"
#include "cf_ref.hpp"
#include "cocoa_macos.hpp"
#include "overlay_view.hpp"

namespace sel = orvane::selector;

namespace {

sel::KeyEvent keyEvent(NSEvent* event) {
  sel::KeyEvent key;
  key.keyCode = event.keyCode;
  key.modifierFlags = event.modifierFlags;
  if (NSString* characters = event.charactersIgnoringModifiers) {
    key.charactersIgnoringModifiers = orvane::cf::toUtf8((__bridge CFStringRef)characters);
  }
  return key;
}

// The screen's "NSScreenNumber" as the window server's record would hold it: an integer, a
// floating-point number, or present but not a number.
std::optional<orvane::RecordValue> screenNumber(NSScreen* screen) {
  id number = screen.deviceDescription[@"NSScreenNumber"];
  if (!number) return std::nullopt;
  if (![number isKindOfClass:[NSNumber class]]) return orvane::RecordValue(std::string());
  if (CFNumberIsFloatType((__bridge CFNumberRef)number)) {
    return orvane::RecordValue([number doubleValue]);
  }
  return orvane::RecordValue(static_cast<std::int64_t>([number longLongValue]));
}

}  // namespace

// ---- Application delegate -------------------------------------------------------------------

@interface CaptureSelectorController : NSObject <NSApplicationDelegate>
- (instancetype)init NS_UNAVAILABLE;
- (instancetype)initWithController:(sel::ApplicationDelegate*)controller;
@end

@implementation CaptureSelectorController {
  sel::ApplicationDelegate* _controller;
}

- (instancetype)initWithController:(sel::ApplicationDelegate*)controller {
  if (!(self = [super init])) return nil;
  _controller = controller;
  return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  _controller->applicationDidFinishLaunching();
}

- (void)applicationDidResignActive:(NSNotification*)notification {
  _controller->applicationDidResignActive();
}

@end

// ---- Overlay window -------------------------------------------------------------------------

@interface OverlayWindow : NSWindow
- (instancetype)initWithContentRect:(NSRect)contentRect
                          styleMask:(NSWindowStyleMask)style
                            backing:(NSBackingStoreType)backingStoreType
                              defer:(BOOL)flag NS_UNAVAILABLE;
- (instancetype)initWithCoder:(NSCoder*)coder NS_UNAVAILABLE;
- (instancetype)initWithScreenFrame:(NSRect)frame;
@end

@implementation OverlayWindow

- (instancetype)initWithScreenFrame:(NSRect)frame {
  if (!(self = [super initWithContentRect:frame
                                styleMask:NSWindowStyleMaskBorderless
                                  backing:NSBackingStoreBuffered
                                    defer:NO])) {
    return nil;
  }
  self.level = NSScreenSaverWindowLevel;  // 1000
  self.backgroundColor = [NSColor clearColor];
  self.opaque = NO;
  self.hasShadow = NO;
  self.ignoresMouseEvents = NO;
  self.collectionBehavior = NSWindowCollectionBehaviorCanJoinAllSpaces |
                            NSWindowCollectionBehaviorStationary |
                            NSWindowCollectionBehaviorFullScreenAuxiliary;  // 273
  return self;
}

- (BOOL)canBecomeKeyWindow {
  return YES;
}

- (BOOL)canBecomeMainWindow {
  return YES;
}

@end

// ---- Overlay view ---------------------------------------------------------------------------

@interface WindowOverlayView : NSView
- (instancetype)initWithFrame:(NSRect)frame NS_UNAVAILABLE;
- (instancetype)initWithCoder:(NSCoder*)coder NS_UNAVAILABLE;
- (instancetype)initWithFrame:(NSRect)frame view:(sel::WindowOverlayView*)view;
@end

@implementation WindowOverlayView {
  sel::WindowOverlayView* _view;
}

- (instancetype)initWithFrame:(NSRect)frame view:(sel::WindowOverlayView*)view {
  if (!(self = [super initWithFrame:frame])) return nil;
  _view = view;
  self.wantsLayer = YES;
  return self;
}

- (BOOL)isFlipped {
  return NO;
}

- (BOOL)acceptsFirstResponder {
  return YES;
}

- (BOOL)acceptsFirstMouse:(NSEvent*)event {
  return YES;
}

- (void)drawRect:(NSRect)dirtyRect {
  auto canvas = sel::makeCanvasMacOS();
  _view->draw(*canvas);
}

- (void)mouseMoved:(NSEvent*)event {
  _view->mouseMoved();
}

- (void)mouseDragged:(NSEvent*)event {
  _view->mouseDragged();
}

- (void)mouseDown:(NSEvent*)event {
  _view->mouseDown();
}

- (void)keyDown:(NSEvent*)event {
  if (!_view->keyDown(keyEvent(event))) [super keyDown:event];
}

- (void)updateTrackingAreas {
  [super updateTrackingAreas];
  for (NSTrackingArea* area in self.trackingAreas) [self removeTrackingArea:area];
  [self addTrackingArea:[[NSTrackingArea alloc] initWithRect:NSZeroRect
                                                     options:static_cast<NSTrackingAreaOptions>(
                                                                 sel::kOverlayTrackingOptions)
                                                       owner:self
                                                    userInfo:nil]];
}

- (void)resetCursorRects {
  [self addCursorRect:self.bounds cursor:[NSCursor pointingHandCursor]];
}

@end

// ---- Seam adapters --------------------------------------------------------------------------

namespace {

class CocoaViewHost final : public sel::ViewHost {
 public:
  explicit CocoaViewHost(WindowOverlayView* view) : view_(view) {}

  void setNeedsDisplay() override {
    @autoreleasepool {
      [view_ setNeedsDisplay:YES];
    }
  }
  bool hasWindow() override {
    @autoreleasepool {
      return view_.window != nil;
    }
  }
  bool windowIsKey() override {
    @autoreleasepool {
      return view_.window.isKeyWindow;
    }
  }
  void makeWindowKey() override {
    @autoreleasepool {
      [view_.window makeKeyWindow];
    }
  }
  std::unique_ptr<sel::PillSurface> addPill(std::function<void(sel::PillAction)> perform) override {
    return sel::makePillSurfaceMacOS(view_, std::move(perform));
  }
  std::unique_ptr<sel::BubbleSurface> addWarningBubble(const std::string& text) override {
    return sel::makeBubbleSurfaceMacOS(view_, text);
  }

 private:
  WindowOverlayView* view_;
};

class CocoaOverlayWindow final : public sel::OverlayWindow {
 public:
  explicit CocoaOverlayWindow(::OverlayWindow* window) : window_(window) {}

  void setAcceptsMouseMovedEvents(bool accepts) override {
    @autoreleasepool {
      window_.acceptsMouseMovedEvents = accepts;
    }
  }
  sel::ViewHost& setContentView(sel::WindowOverlayView& view) override {
    @autoreleasepool {
      WindowOverlayView* content =
          [[WindowOverlayView alloc] initWithFrame:sel::nsRect(view.frame()) view:&view];
      window_.contentView = content;
      host_ = std::make_unique<CocoaViewHost>(content);
      return *host_;
    }
  }
  void makeKeyAndOrderFront() override {
    @autoreleasepool {
      [window_ makeKeyAndOrderFront:nil];
    }
  }
  void orderFrontRegardless() override {
    @autoreleasepool {
      [window_ orderFrontRegardless];
    }
  }
  void makeContentViewFirstResponder() override {
    @autoreleasepool {
      [window_ makeFirstResponder:window_.contentView];
    }
  }
  void makeKeyWindow() override {
    @autoreleasepool {
      [window_ makeKeyWindow];
    }
  }

 private:
  ::OverlayWindow* window_;
  std::unique_ptr<CocoaViewHost> host_;
};

class CocoaApplication final : public sel::Application {
 public:
  CocoaApplication() {
    @autoreleasepool {
      app_ = [NSApplication sharedApplication];
    }
  }

  void setActivationPolicy(sel::ActivationPolicy policy) override {
    @autoreleasepool {
      [app_ setActivationPolicy:static_cast<NSApplicationActivationPolicy>(policy)];
    }
  }
  void activateIgnoringOtherApps(bool flag) override {
    @autoreleasepool {
      [app_ activateIgnoringOtherApps:flag];
    }
  }
  bool isActive() override {
    @autoreleasepool {
      return app_.isActive;
    }
  }
  bool hasKeyWindow() override {
    @autoreleasepool {
      return app_.keyWindow != nil;
    }
  }

  std::vector<sel::Screen> screens() override {
    std::vector<sel::Screen> list;
    @autoreleasepool {
      for (NSScreen* screen in [NSScreen screens]) {
        const NSRect f = screen.frame;
        sel::Screen entry;
        entry.frame = {f.origin.x, f.origin.y, f.size.width, f.size.height};
        entry.info.screenNumber = screenNumber(screen);
        entry.info.backingScaleFactor = screen.backingScaleFactor;
        list.push_back(std::move(entry));
      }
    }
    return list;
  }

  std::unique_ptr<sel::OverlayWindow> makeOverlayWindow(const sel::Screen& screen) override {
    @autoreleasepool {
      return std::make_unique<CocoaOverlayWindow>(
          [[::OverlayWindow alloc] initWithScreenFrame:sel::nsRect(screen.frame)]);
    }
  }

  void addLocalKeyDownMonitor(std::function<bool(const sel::KeyEvent&)> handler) override {
    @autoreleasepool {
      auto shared = std::make_shared<std::function<bool(const sel::KeyEvent&)>>(std::move(handler));
      keyMonitor_ =
          [NSEvent addLocalMonitorForEventsMatchingMask:NSEventMaskKeyDown
                                                handler:^NSEvent*(NSEvent* event) {
                                                  return (*shared)(keyEvent(event)) ? nil : event;
                                                }];
    }
  }

  void performAfter(double delaySeconds, std::function<void()> work) override {
    auto shared = std::make_shared<std::function<void()>>(std::move(work));
    const auto delay = static_cast<std::int64_t>(delaySeconds * NSEC_PER_SEC);
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), dispatch_get_main_queue(), ^{
      @autoreleasepool {
        (*shared)();
      }
    });
  }

  void terminate() override {
    @autoreleasepool {
      [app_ terminate:nil];
    }
  }

  std::int32_t getpid() override { return ::getpid(); }

  // A real window is made but never shown, so that its frame view (the view that draws the
  // title bar and the rounded corners) exists, and its corner radius is read.
  std::optional<double> probeWindowCornerRadius() override {
    @autoreleasepool {
      NSWindow* probe = [[NSWindow alloc]
          initWithContentRect:NSMakeRect(-4000, -4000, 400, 300)
                    styleMask:static_cast<NSWindowStyleMask>(11)  // titled, closable, resizable
                      backing:NSBackingStoreBuffered
                        defer:NO];
      probe.releasedWhenClosed = NO;
      std::optional<double> radius;
      NSView* frameView = probe.contentView.superview;
      if (frameView) {
        CALayer* layer = frameView.layer;
        double r = layer ? layer.cornerRadius : 0;
        if (!layer || !(r > 0)) {
          // NOTE: "_cornerRadius" is a private property of the frame view; it is read only
          // when the view answers it, so a system without it changes nothing.
          if ([frameView respondsToSelector:NSSelectorFromString(@"_cornerRadius")]) {
            id value = [frameView valueForKey:@"_cornerRadius"];
            if ([value isKindOfClass:[NSNumber class]]) r = [value doubleValue];
          }
        }
        radius = r;
      }
      [probe close];
      return radius;
    }
  }

  sel::TextMeasurer& textMeasurer() override {
    if (!measurer_) measurer_ = sel::makeTextMeasurerMacOS();
    return *measurer_;
  }

  void run(sel::ApplicationDelegate& delegate) override {
    @autoreleasepool {
      // NSApplication holds its delegate weakly.
      delegate_ = [[CaptureSelectorController alloc] initWithController:&delegate];
      app_.delegate = delegate_;
    }
    [app_ run];
  }

 private:
  NSApplication* app_;
  CaptureSelectorController* delegate_ = nil;
  id keyMonitor_ = nil;
  std::unique_ptr<sel::TextMeasurer> measurer_;
};

}  // namespace

namespace orvane::selector {

std::unique_ptr<Application> makeApplicationMacOS() { return std::make_unique<CocoaApplication>(); }

}  // namespace orvane::selector
