// The instruction pill and the warning bubble on macOS: layer-backed views with NSTextField
// labels, the record glyph in two CAShapeLayers, and the content change animated with
// NSAnimationContext and a CATransition fade.
#if !__has_feature(objc_arc)
#error "This file must be compiled with ARC (-fobjc-arc)."
#endif

#import <AppKit/AppKit.h>
#import <QuartzCore/QuartzCore.h>

#include <cfloat>

#include "application.hpp"
#include "cf_ref.hpp"
#include "cocoa_macos.hpp"
#include "json.hpp"

namespace sel = orvane::selector;

namespace {

// Text from the command line may not be valid UTF-8: bad bytes show as U+FFFD rather than
// losing the whole text.
NSString* nsString(const std::string& text) {
  const std::string valid = orvane::json::sanitizeUtf8(text);
  return [[NSString alloc] initWithBytes:valid.data()
                                  length:valid.size()
                                encoding:NSUTF8StringEncoding]
             ?: @"";
}

// A one-line label as the layout describes it.
NSTextField* makeLabel(const sel::PillLabel& labelItem) {
  NSTextField* label = [NSTextField labelWithString:nsString(labelItem.text)];
  label.font = sel::nsFont(labelItem.font);
  label.textColor = sel::nsColor(labelItem.textColor);
  label.maximumNumberOfLines = 1;
  if (labelItem.truncatesTail) label.lineBreakMode = NSLineBreakByTruncatingTail;
  label.alphaValue = labelItem.alpha;
  label.frame = sel::nsRect(labelItem.frame);
  return label;
}

}  // namespace

// ---- Key chip -------------------------------------------------------------------------------

@interface KeyChipView : NSView
- (instancetype)initWithFrame:(NSRect)frame NS_UNAVAILABLE;
- (instancetype)initWithCoder:(NSCoder*)coder NS_UNAVAILABLE;
- (instancetype)initWithFrame:(NSRect)frame label:(const sel::PillLabel&)label;
@end

@implementation KeyChipView {
  NSTextField* _label;
}

- (instancetype)initWithFrame:(NSRect)frame label:(const sel::PillLabel&)label {
  if (!(self = [super initWithFrame:frame])) return nil;
  self.wantsLayer = YES;
  self.layer.backgroundColor = sel::nsColor(sel::pillstyle::kChipBackground).CGColor;
  self.layer.borderColor = sel::nsColor(sel::pillstyle::kChipBorderColor).CGColor;
  self.layer.borderWidth = sel::pillstyle::kChipBorderWidth;
  self.layer.cornerRadius = sel::pillstyle::kChipCornerRadius;
  _label = makeLabel(label);
  [self addSubview:_label];
  return self;
}

@end

// ---- Action group ---------------------------------------------------------------------------

@interface PillActionView : NSView
- (instancetype)initWithFrame:(NSRect)frame NS_UNAVAILABLE;
- (instancetype)initWithCoder:(NSCoder*)coder NS_UNAVAILABLE;
- (instancetype)initWithGroup:(const sel::PillActionGroup&)group
                      perform:(std::function<void(sel::PillAction)>)perform;
@end

@implementation PillActionView {
  sel::PillAction _action;
  std::function<void(sel::PillAction)> _perform;
}

- (instancetype)initWithGroup:(const sel::PillActionGroup&)group
                      perform:(std::function<void(sel::PillAction)>)perform {
  if (!(self = [super initWithFrame:sel::nsRect(group.frame)])) return nil;
  _action = group.action;
  _perform = std::move(perform);
  self.wantsLayer = YES;
  self.layer.cornerRadius = sel::pillstyle::kActionCornerRadius;
  [self addSubview:[[KeyChipView alloc] initWithFrame:sel::nsRect(group.chipFrame)
                                                label:group.chipLabel]];
  [self addSubview:makeLabel(group.label)];
  return self;
}

- (void)updateTrackingAreas {
  [super updateTrackingAreas];
  for (NSTrackingArea* area in self.trackingAreas) [self removeTrackingArea:area];
  [self addTrackingArea:[[NSTrackingArea alloc] initWithRect:NSZeroRect
                                                     options:static_cast<NSTrackingAreaOptions>(
                                                                 sel::kPillActionTrackingOptions)
                                                       owner:self
                                                    userInfo:nil]];
}

- (BOOL)acceptsFirstMouse:(NSEvent*)event {
  return YES;
}

- (void)resetCursorRects {
  [self addCursorRect:self.bounds cursor:[NSCursor pointingHandCursor]];
}

- (void)mouseEntered:(NSEvent*)event {
  self.layer.backgroundColor = sel::nsColor(sel::pillstyle::kActionHoverBackground).CGColor;
}

- (void)mouseExited:(NSEvent*)event {
  self.layer.backgroundColor = [NSColor clearColor].CGColor;
}

// The press is absorbed; the action happens on release.
- (void)mouseDown:(NSEvent*)event {
}

- (void)mouseUp:(NSEvent*)event {
  const NSPoint point = [self convertPoint:event.locationInWindow fromView:nil];
  if (CGRectContainsPoint(self.bounds, point) && _perform) _perform(_action);
}

@end

// ---- Pill -----------------------------------------------------------------------------------

@interface InstructionPillView : NSView
- (instancetype)initWithFrame:(NSRect)frame NS_UNAVAILABLE;
- (instancetype)initWithCoder:(NSCoder*)coder NS_UNAVAILABLE;
- (instancetype)initWithPerform:(std::function<void(sel::PillAction)>)perform;
- (void)show:(const sel::PillLayout&)layout animated:(BOOL)animated;
@end

@implementation InstructionPillView {
  NSView* _content;
  CAShapeLayer* _ringLayer;
  CAShapeLayer* _dotLayer;
  std::function<void(sel::PillAction)> _perform;
}

- (instancetype)initWithPerform:(std::function<void(sel::PillAction)>)perform {
  if (!(self = [super initWithFrame:NSZeroRect])) return nil;
  _perform = std::move(perform);
  self.wantsLayer = YES;
  CALayer* layer = self.layer;
  layer.backgroundColor = sel::nsColor(sel::pillstyle::kBackground).CGColor;
  layer.cornerRadius = sel::pillstyle::kCornerRadius;
  layer.borderWidth = sel::pillstyle::kBorderWidth;
  layer.borderColor = sel::nsColor(sel::pillstyle::kBorderColor).CGColor;
  layer.shadowColor = [NSColor blackColor].CGColor;
  layer.shadowOpacity = sel::pillstyle::kShadowOpacity;
  layer.shadowRadius = sel::pillstyle::kShadowRadius;
  layer.shadowOffset = CGSizeMake(sel::pillstyle::kShadowOffsetX, sel::pillstyle::kShadowOffsetY);

  _content = [[NSView alloc] initWithFrame:NSZeroRect];
  _content.wantsLayer = YES;
  [self addSubview:_content];

  _ringLayer = [CAShapeLayer layer];
  orvane::cf::Ref<CGPathRef> ring(
      CGPathCreateWithEllipseInRect(sel::nsRect(sel::pillstyle::kRingEllipse), nullptr));
  _ringLayer.path = ring.get();
  _ringLayer.fillColor = [NSColor clearColor].CGColor;
  _ringLayer.lineWidth = sel::pillstyle::kRingLineWidth;
  _dotLayer = [CAShapeLayer layer];
  orvane::cf::Ref<CGPathRef> dot(
      CGPathCreateWithEllipseInRect(sel::nsRect(sel::pillstyle::kDotEllipse), nullptr));
  _dotLayer.path = dot.get();
  [layer addSublayer:_ringLayer];
  [layer addSublayer:_dotLayer];
  return self;
}

- (BOOL)acceptsFirstMouse:(NSEvent*)event {
  return YES;
}

// A press on the pill's background or glyph must not reach the overlay, which would accept.
- (void)mouseDown:(NSEvent*)event {
}

- (void)show:(const sel::PillLayout&)layout animated:(BOOL)animated {
  for (NSView* view in [_content.subviews copy]) [view removeFromSuperview];
  for (const auto& segment : layout.segments) {
    if (const auto* label = std::get_if<sel::PillLabel>(&segment)) {
      [_content addSubview:makeLabel(*label)];
    } else {
      [_content
          addSubview:[[PillActionView alloc] initWithGroup:std::get<sel::PillActionGroup>(segment)
                                                   perform:_perform]];
    }
  }
  const NSRect pillFrame = sel::nsRect(layout.pillFrame);
  const NSRect contentFrame = sel::nsRect(layout.contentFrame);
  // NOTE: a CGColor lives only as long as its NSColor; keep the NSColor.
  NSColor* glyph = sel::nsColor(layout.glyphColor);
  NSView* content = _content;
  CAShapeLayer* ring = _ringLayer;
  CAShapeLayer* dot = _dotLayer;
  if (!animated) {
    [NSAnimationContext runAnimationGroup:^(NSAnimationContext* context) {
      context.duration = 0;
      context.allowsImplicitAnimation = NO;
      self.frame = pillFrame;
      content.frame = contentFrame;
      [CATransaction begin];
      [CATransaction setDisableActions:YES];
      ring.strokeColor = glyph.CGColor;
      dot.fillColor = glyph.CGColor;
      [CATransaction commit];
    }];
    return;
  }
  if (CALayer* contentLayer = _content.layer) {
    CATransition* fade = [CATransition animation];
    fade.type = kCATransitionFade;
    fade.duration = sel::pillstyle::kFadeSeconds;
    [contentLayer addAnimation:fade forKey:@"content-fade"];
  }
  [NSAnimationContext runAnimationGroup:^(NSAnimationContext* context) {
    context.duration = sel::pillstyle::kSlideSeconds;
    context.timingFunction = [CAMediaTimingFunction functionWithName:kCAMediaTimingFunctionEaseOut];
    context.allowsImplicitAnimation = YES;
    self.frame = pillFrame;
    content.frame = contentFrame;
  }];
  ring.strokeColor = glyph.CGColor;
  dot.fillColor = glyph.CGColor;
}

@end

// ---- Warning bubble -------------------------------------------------------------------------

@interface WarningBubbleView : NSView
- (instancetype)initWithFrame:(NSRect)frame NS_UNAVAILABLE;
- (instancetype)initWithCoder:(NSCoder*)coder NS_UNAVAILABLE;
- (instancetype)initWithText:(NSString*)text;
- (void)applyLayout:(const sel::BubbleLayout&)layout;
@end

@implementation WarningBubbleView {
  NSTextField* _label;
}

- (instancetype)initWithText:(NSString*)text {
  if (!(self = [super initWithFrame:NSZeroRect])) return nil;
  self.wantsLayer = YES;
  self.layer.backgroundColor = sel::nsColor(sel::pillstyle::kBubbleBackground).CGColor;
  self.layer.cornerRadius = sel::pillstyle::kBubbleCornerRadius;
  _label = [NSTextField wrappingLabelWithString:@""];
  _label.stringValue = text;
  _label.font = sel::nsFont(sel::pillstyle::kBubbleFont);
  _label.textColor = [NSColor whiteColor];
  _label.alignment = NSTextAlignmentCenter;
  [self addSubview:_label];
  return self;
}

- (void)applyLayout:(const sel::BubbleLayout&)layout {
  self.frame = sel::nsRect(layout.frame);
  _label.frame = sel::nsRect(layout.labelFrame);
}

// Invisible to the mouse: a click lands on the overlay beneath.
- (NSView*)hitTest:(NSPoint)point {
  return nil;
}

@end

// ---- Seam adapters --------------------------------------------------------------------------

namespace {

class CocoaPill final : public sel::PillSurface {
 public:
  explicit CocoaPill(InstructionPillView* view) : view_(view) {}
  void show(const sel::PillLayout& layout, bool animated) override {
    @autoreleasepool {
      [view_ show:layout animated:animated];
    }
  }

 private:
  InstructionPillView* view_;
};

class CocoaBubble final : public sel::BubbleSurface {
 public:
  explicit CocoaBubble(WarningBubbleView* view) : view_(view) {}
  void setLayout(const sel::BubbleLayout& layout) override {
    @autoreleasepool {
      [view_ applyLayout:layout];
    }
  }

 private:
  WarningBubbleView* view_;
};

class CocoaTextMeasurer final : public sel::TextMeasurer {
 public:
  sel::Size labelSize(const std::string& text, sel::Font font) override {
    @autoreleasepool {
      NSTextField* label = [NSTextField labelWithString:nsString(text)];
      label.font = sel::nsFont(font);
      label.maximumNumberOfLines = 1;
      [label sizeToFit];
      return {label.frame.size.width, label.frame.size.height};
    }
  }
  sel::Size wrappedLabelSize(const std::string& text, sel::Font font, double widthLimit) override {
    @autoreleasepool {
      NSTextField* label = [NSTextField wrappingLabelWithString:nsString(text)];
      label.font = sel::nsFont(font);
      label.alignment = NSTextAlignmentCenter;
      const NSSize size = [label sizeThatFits:NSMakeSize(widthLimit, CGFLOAT_MAX)];
      return {size.width, size.height};
    }
  }
};

}  // namespace

namespace orvane::selector {

std::unique_ptr<PillSurface> makePillSurfaceMacOS(NSView* overlay,
                                                  std::function<void(PillAction)> perform) {
  @autoreleasepool {
    InstructionPillView* pill = [[InstructionPillView alloc] initWithPerform:std::move(perform)];
    [overlay addSubview:pill];
    return std::make_unique<CocoaPill>(pill);
  }
}

std::unique_ptr<BubbleSurface> makeBubbleSurfaceMacOS(NSView* overlay, const std::string& text) {
  @autoreleasepool {
    WarningBubbleView* bubble = [[WarningBubbleView alloc] initWithText:nsString(text)];
    [overlay addSubview:bubble];
    return std::make_unique<CocoaBubble>(bubble);
  }
}

std::unique_ptr<TextMeasurer> makeTextMeasurerMacOS() {
  return std::make_unique<CocoaTextMeasurer>();
}

}  // namespace orvane::selector
