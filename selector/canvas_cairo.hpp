// The overlay's drawing with Cairo, on X11 and Wayland alike. A drawing pass is first recorded as
// resolved paint operations (each with the colour and compositing operation it paints under);
// comparing two passes tells which part of the overlay changed, and only that part is replayed with
// Cairo. Used by the selector's Linux backends only.
#pragma once

#include <cairo.h>

#include <functional>
#include <vector>

#include "canvas.hpp"

namespace orvane::selector::linux_ui {

struct PaintOp {
  enum class Kind { fillRect, fillRoundedRect, strokeRoundedRect };
  Kind kind = Kind::fillRect;
  Rect rect;  // view coordinates: points, y up
  double radius = 0;
  double lineWidth = 0;
  Color color;
  CompositingOperation operation = CompositingOperation::sourceOver;
  bool operator==(const PaintOp&) const = default;
};

// A canvas that keeps the graphics state as a context does and records what is painted.
class PaintRecorder final : public Canvas {
 public:
  std::vector<PaintOp> ops;

  std::optional<CompositingOperation> compositingOperation() override;
  void setCompositingOperation(CompositingOperation operation) override;
  void saveGraphicsState() override;
  void restoreGraphicsState() override;
  void setFillColor(Color color) override;
  void setStrokeColor(Color color) override;
  void fillRect(const Rect& rect, CompositingOperation operation) override;
  void fillRoundedRect(const Rect& rect, double radius) override;
  void strokeRoundedRect(const Rect& rect, double radius, double lineWidth) override;

 private:
  struct State {
    CompositingOperation operation = CompositingOperation::sourceOver;
    Color fill = Color::black();
    Color stroke = Color::black();
  };
  State state_;
  std::vector<State> stack_;
};

// The area an operation can touch, antialiasing included (view coordinates).
Rect extentOf(const PaintOp& op);

// What must be repainted when a pass drew `after` where the previous one drew `before`:
// nothing when they are the same; the whole `bounds` when the rectangle fills (the veil or
// the tint) differ; otherwise the areas of the rounded shapes of both passes.
std::vector<Rect> damageBetween(const std::vector<PaintOp>& before,
                                const std::vector<PaintOp>& after, const Rect& bounds);

// Paints `ops` on a Cairo context in points with y downwards, for a view `viewHeight` high.
// `background` fills the current path with what lies under the overlay (what "clear"
// reveals).
void replay(cairo_t* cr, const std::vector<PaintOp>& ops, double viewHeight,
            const std::function<void(cairo_t*)>& background);

// Repaints the pixel rectangles `pixels` of an overlay's surface (`bounds` in points, `scale`
// pixels a point): `background` lays what lies under the overlay there, then `painter` draws
// over it in points, y downwards. The surface is flushed for the copy that shows it.
void repaintPixels(cairo_surface_t* surface, const std::vector<Rect>& pixels, double scale,
                   const Rect& bounds, const std::function<void(cairo_t*)>& background,
                   const std::function<void(cairo_t*)>& painter);

// A rounded rectangle path in Cairo's top-down space.
void roundedRectPath(cairo_t* cr, double x, double y, double width, double height, double radius);

}  // namespace orvane::selector::linux_ui
