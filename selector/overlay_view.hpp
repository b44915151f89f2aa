// WindowOverlayView: the content of one overlay window. It paints the selection feedback of
// its display (a veil with the hovered window cut out and outlined, or the active display
// tinted and framed) and turns pointer and key events into calls on the controller.
#pragma once

#include <memory>
#include <optional>

#include "application.hpp"
#include "canvas.hpp"
#include "instruction_pill.hpp"
#include "window_server.hpp"

namespace orvane::selector {

class CaptureSelectorController;

// min(0.25 × the shorter side, resolvedWindowCornerRadius).
double selectionRadius(const Rect& rect);

// The part of a window (global space, y down) that lies on a display (global space), in the
// coordinates of a view covering that display (y up); nothing when they do not overlap or the
// display has no size.
std::optional<Rect> localWindowRect(const Rect& window, const Rect& displayBounds,
                                    const Rect& viewBounds);

// The veil: black at 28 % over `rect`.
void drawDimmedBackdrop(Canvas& canvas, const Rect& rect);
// Erases a rounded rectangle of `rect` to full transparency.
void clear(Canvas& canvas, const Rect& rect);
// The window highlight: a faint accent tint and a 2-point accent outline just outside `rect`.
void drawSelection(Canvas& canvas, const Rect& rect);

// Replaces resolvedWindowCornerRadius with the radius the platform reports, when it reports
// one above 0.
void resolveSystemWindowCornerRadius(Application& application);

class WindowOverlayView {
 public:
  // `frame` has origin (0, 0) and the size of `screen`'s frame.
  WindowOverlayView(const Rect& frame, CaptureSelectorController& controller, const Screen& screen);

  // Ties the view to its native side: adds the pill, then the bubble above it, and lays the
  // bubble out once.
  void attach(ViewHost& host);

  Rect frame() const { return frame_; }
  Rect bounds() const { return {0, 0, frame_.width, frame_.height}; }
  DisplayId displayId() const { return displayId_; }
  const Rect& displayBounds() const { return displayBounds_; }
  InstructionPillView& instructionPill() { return instructionPill_; }
  WarningBubbleView* warningBubble() { return warningBubble_ ? &*warningBubble_ : nullptr; }
  ViewHost* host() { return host_; }

  // Paints the whole bounds from the controller's current state.
  void draw(Canvas& canvas);

  void mouseMoved();
  void mouseDragged();
  void mouseDown();
  // False: the key goes on to the platform's default handling.
  bool keyDown(const KeyEvent& event);

 private:
  CaptureSelectorController& controller_;
  Rect frame_;
  Rect displayBounds_;
  DisplayId displayId_ = 0;
  InstructionPillView instructionPill_;
  std::optional<WarningBubbleView> warningBubble_;
  ViewHost* host_ = nullptr;
};

}  // namespace orvane::selector
