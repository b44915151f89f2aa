#include "canvas_cairo.hpp"

#include <algorithm>
#include <cmath>
#include "lazy_libraries_linux.hpp"

namespace orvane::selector::linux_ui {

std::optional<CompositingOperation> PaintRecorder::compositingOperation() {
  return state_.operation;
}
void PaintRecorder::setCompositingOperation(CompositingOperation operation) {
  state_.operation = operation;
}
void PaintRecorder::saveGraphicsState() { stack_.push_back(state_); }
void PaintRecorder::restoreGraphicsState() {
  if (stack_.empty()) return;
  state_ = stack_.back();
  stack_.pop_back();
}
void PaintRecorder::setFillColor(Color color) { state_.fill = color; }
void PaintRecorder::setStrokeColor(Color color) { state_.stroke = color; }

void PaintRecorder::fillRect(const Rect& rect, CompositingOperation operation) {
  ops.push_back({PaintOp::Kind::fillRect, rect, 0, 0, state_.fill, operation});
}
void PaintRecorder::fillRoundedRect(const Rect& rect, double radius) {
  ops.push_back({PaintOp::Kind::fillRoundedRect, rect, radius, 0, state_.fill, state_.operation});
}
void PaintRecorder::strokeRoundedRect(const Rect& rect, double radius, double lineWidth) {
  ops.push_back(
      {PaintOp::Kind::strokeRoundedRect, rect, radius, lineWidth, state_.stroke, state_.operation});
}

Rect extentOf(const PaintOp& op) {
  const Rect& r = op.rect;
  double x = std::min(r.x, r.x + r.width), y = std::min(r.y, r.y + r.height);
  double w = std::abs(r.width), h = std::abs(r.height);
  // Half the line on either side of a stroke, and a point for antialiased edges.
  const double grow = (op.kind == PaintOp::Kind::strokeRoundedRect ? op.lineWidth / 2 : 0) + 1;
  return {x - grow, y - grow, w + 2 * grow, h + 2 * grow};
}

std::vector<Rect> damageBetween(const std::vector<PaintOp>& before,
                                const std::vector<PaintOp>& after, const Rect& bounds) {
  if (before == after) return {};
  auto fills = [](const std::vector<PaintOp>& ops) {
    std::vector<PaintOp> out;
    for (const auto& op : ops) {
      if (op.kind == PaintOp::Kind::fillRect) out.push_back(op);
    }
    return out;
  };
  if (fills(before) != fills(after)) return {bounds};
  std::vector<Rect> damage;
  for (const auto* ops : {&before, &after}) {
    for (const auto& op : *ops) {
      if (op.kind != PaintOp::Kind::fillRect) damage.push_back(extentOf(op));
    }
  }
  return damage;
}

void roundedRectPath(cairo_t* cr, double x, double y, double width, double height, double radius) {
  if (width < 0) {
    x += width;
    width = -width;
  }
  if (height < 0) {
    y += height;
    height = -height;
  }
  // NSBezierPath clamps the radius to half the shorter side.
  radius = std::clamp(radius, 0.0, std::min(width, height) / 2);
  cairo_new_sub_path(cr);
  if (radius <= 0) {
    cairo_rectangle(cr, x, y, width, height);
    return;
  }
  cairo_arc(cr, x + width - radius, y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x + width - radius, y + height - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x + radius, y + height - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void replay(cairo_t* cr, const std::vector<PaintOp>& ops, double viewHeight,
            const std::function<void(cairo_t*)>& background) {
  for (const auto& op : ops) {
    cairo_save(cr);
    cairo_new_path(cr);
    const Rect& r = op.rect;
    const double top = viewHeight - (std::max(r.y, r.y + r.height));
    if (op.kind == PaintOp::Kind::fillRect) {
      cairo_rectangle(cr, std::min(r.x, r.x + r.width), top, std::abs(r.width), std::abs(r.height));
    } else {
      roundedRectPath(cr, r.x, top, r.width, std::abs(r.height), op.radius);
    }
    const Color& c = op.color;
    if (op.kind == PaintOp::Kind::strokeRoundedRect) {
      cairo_set_line_width(cr, op.lineWidth);
      // The overlay never strokes under "clear"; should it, the line is erased.
      cairo_set_operator(cr, op.operation == CompositingOperation::clear ? CAIRO_OPERATOR_CLEAR
                                                                         : CAIRO_OPERATOR_OVER);
      cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
      cairo_stroke(cr);
    } else if (op.operation == CompositingOperation::clear) {
      background(cr);
    } else {
      if (op.operation == CompositingOperation::copy) background(cr);
      cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
      cairo_fill(cr);
    }
    cairo_restore(cr);
  }
}

void repaintPixels(cairo_surface_t* surface, const std::vector<Rect>& pixels, double scale,
                   const Rect& bounds, const std::function<void(cairo_t*)>& background,
                   const std::function<void(cairo_t*)>& painter) {
  cairo_t* cr = cairo_create(surface);
  for (const auto& p : pixels) cairo_rectangle(cr, p.x, p.y, p.width, p.height);
  cairo_clip(cr);
  cairo_scale(cr, scale, scale);
  cairo_rectangle(cr, 0, 0, bounds.width, bounds.height);
  background(cr);
  cairo_new_path(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  painter(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
}

}  // namespace orvane::selector::linux_ui
