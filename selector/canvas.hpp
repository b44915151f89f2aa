// What the overlay's drawing needs from a platform: the few operations of an AppKit graphics
// context that the veil, the cut-out and the outlines use.
//
// Coordinates are the view's own: points, not flipped, origin at the bottom-left of the view
// (which covers its whole display), y growing upwards. A backend that draws top-down (Cairo)
// flips y itself and scales points to pixels by the display's scale factor.
// Every call comes on the main thread, inside one drawing pass of one overlay view.
#pragma once

#include <optional>

#include "window_record.hpp"

namespace orvane::selector {

// sRGB components and alpha, each 0 to 1.
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  // NSColor colorWithAlphaComponent: the same colour with another alpha.
  Color withAlpha(double a) const { return {red, green, blue, a}; }
  bool operator==(const Color&) const = default;

  static constexpr Color black() { return {0, 0, 0, 1}; }
  static constexpr Color white() { return {1, 1, 1, 1}; }
  static constexpr Color clear() { return {0, 0, 0, 0}; }
};

// NSCompositingOperation, with AppKit's numbers.
enum class CompositingOperation {
  clear = 0,       // destination becomes fully transparent where the shape is painted
  copy = 1,        // source replaces destination
  sourceOver = 2,  // source painted over destination (the default)
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  // The current graphics context's compositing operation; nothing when there is no current
  // context (then fills use source-over and the cut-out's change of operation is skipped).
  virtual std::optional<CompositingOperation> compositingOperation() = 0;
  // Sets the operation that later path fills and strokes use. Only called when
  // `compositingOperation()` answered a value.
  virtual void setCompositingOperation(CompositingOperation operation) = 0;

  // saveGraphicsState / restoreGraphicsState: colours and the compositing operation set in
  // between are undone by the restore.
  virtual void saveGraphicsState() = 0;
  virtual void restoreGraphicsState() = 0;

  // NSColor setFill / setStroke.
  virtual void setFillColor(Color color) = 0;
  virtual void setStrokeColor(Color color) = 0;

  // NSRectFillUsingOperation: `rect` filled with the fill colour under `operation`, whatever
  // the context's own operation is.
  virtual void fillRect(const Rect& rect, CompositingOperation operation) = 0;

  // NSBezierPath bezierPathWithRoundedRect:xRadius:yRadius: with `radius` on both axes, then
  // fill with the fill colour under the context's current compositing operation (so, with
  // operation clear, the rounded rectangle is erased to full transparency).
  virtual void fillRoundedRect(const Rect& rect, double radius) = 0;

  // The same path stroked with the stroke colour, `lineWidth` wide, centred on the path.
  virtual void strokeRoundedRect(const Rect& rect, double radius, double lineWidth) = 0;
};

}  // namespace orvane::selector
