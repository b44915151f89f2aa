#include "pill_surface_cairo.hpp"

#include <algorithm>
#include <cmath>

#include "canvas_cairo.hpp"
#include "lazy_libraries_linux.hpp"

namespace orvane::selector::linux_ui {

namespace {

// Core Animation's implicit animation of a layer property.
constexpr double kImplicitSeconds = 0.25;
// How far the shadow reaches beyond the pill: its radius and its offset.
constexpr double kShadowReach = pillstyle::kShadowRadius + 6;

double lerp(double a, double b, double t) { return a + (b - a) * t; }

Rect lerp(const Rect& a, const Rect& b, double t) {
  return {lerp(a.x, b.x, t), lerp(a.y, b.y, t), lerp(a.width, b.width, t),
          lerp(a.height, b.height, t)};
}

Color lerp(const Color& a, const Color& b, double t) {
  return {lerp(a.red, b.red, t), lerp(a.green, b.green, t), lerp(a.blue, b.blue, t),
          lerp(a.alpha, b.alpha, t)};
}

Rect unite(const Rect& a, const Rect& b) {
  const double x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  const double x1 = std::max(a.x + a.width, b.x + b.width);
  const double y1 = std::max(a.y + a.height, b.y + b.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

Rect grown(const Rect& r, double by) {
  return {r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by};
}

bool contains(const Rect& r, double x, double y) {
  return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

void setColor(cairo_t* cr, const Color& c, double alpha = 1) {
  cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha * alpha);
}

// A layer's border lies inside its bounds.
void fillAndBorder(cairo_t* cr, double x, double y, double w, double h, double radius,
                   const Color& fill, const Color& border, double borderWidth, double alpha) {
  roundedRectPath(cr, x, y, w, h, radius);
  setColor(cr, fill, alpha);
  cairo_fill(cr);
  if (borderWidth > 0) {
    const double half = borderWidth / 2;
    roundedRectPath(cr, x + half, y + half, w - borderWidth, h - borderWidth, radius - half);
    setColor(cr, border, alpha);
    cairo_set_line_width(cr, borderWidth);
    cairo_stroke(cr);
  }
}

void ellipsePath(cairo_t* cr, double x, double y, double w, double h) {
  cairo_save(cr);
  cairo_translate(cr, x + w / 2, y + h / 2);
  cairo_scale(cr, w / 2, h / 2);
  cairo_new_sub_path(cr);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr);
}

}  // namespace

double easeOut(double t) {
  if (!(t > 0)) return 0;
  if (t >= 1) return 1;
  // x(s) = 3(1-s)s²·0.58 + s³ rises monotonically; find s with x(s) = t, answer y(s).
  double lo = 0, hi = 1, s = t;
  for (int i = 0; i < 30; ++i) {
    s = (lo + hi) / 2;
    const double x = 3 * (1 - s) * s * s * 0.58 + s * s * s;
    (x < t ? lo : hi) = s;
  }
  return 3 * (1 - s) * s * s + s * s * s;
}

CairoPillSurface::CairoPillSurface(PangoText& text, std::function<void(PillAction)> perform,
                                   SurfaceSink sink, std::function<double()> clock)
    : text_(text), perform_(std::move(perform)), sink_(std::move(sink)), clock_(std::move(clock)) {}

CairoPillSurface::~CairoPillSurface() {
  if (sink_.gone) sink_.gone();
}

CairoPillSurface::Frames CairoPillSurface::presented(double now) const {
  if (!layout_) return {};
  Frames f{layout_->pillFrame, layout_->contentFrame, layout_->glyphColor};
  if (slideStart_ >= 0) {
    const double t = easeOut((now - slideStart_) / pillstyle::kSlideSeconds);
    f.pill = lerp(from_.pill, f.pill, t);
    f.content = lerp(from_.content, f.content, t);
  }
  if (glyphStart_ >= 0) {
    const double t = std::clamp((now - glyphStart_) / kImplicitSeconds, 0.0, 1.0);
    f.glyph = lerp(from_.glyph, f.glyph, t);
  }
  return f;
}

Rect CairoPillSurface::presentedFrame() const { return presented(clock_()).pill; }

Rect CairoPillSurface::extent() const {
  if (!layout_) return {};
  Rect area = grown(presentedFrame(), kShadowReach);
  if (slideStart_ >= 0) {
    area = unite(area, grown(from_.pill, kShadowReach));
    area = unite(area, grown(layout_->pillFrame, kShadowReach));
  }
  return area;
}

void CairoPillSurface::show(const PillLayout& layout, bool animated) {
  const double now = clock_();
  const bool first = !layout_;
  const Rect before = extent();
  if (!first && animated) {
    from_ = presented(now);
    previous_ = *layout_;
    fadeStart_ = slideStart_ = glyphStart_ = now;
  } else {
    previous_.reset();
    fadeStart_ = slideStart_ = glyphStart_ = -1;
  }
  layout_ = layout;
  // The new action groups start without the hover background; a press on an old one is gone.
  hovered_.reset();
  pressed_.reset();
  if (!first) sink_.damage(before);
  sink_.damage(extent());
  if (slideStart_ >= 0) sink_.animate();
}

bool CairoPillSurface::tick() {
  if (!layout_ || slideStart_ < 0) return false;
  const double now = clock_();
  sink_.damage(extent());
  const double elapsed = now - slideStart_;
  if (elapsed >= std::max({pillstyle::kSlideSeconds, pillstyle::kFadeSeconds, kImplicitSeconds})) {
    previous_.reset();
    fadeStart_ = slideStart_ = glyphStart_ = -1;
  }
  return true;
}

void CairoPillSurface::paint(cairo_t* cr, double viewHeight) {
  if (!layout_) return;
  const double now = clock_();
  const Frames f = presented(now);
  const Rect& p = f.pill;
  if (p.width <= 0 || p.height <= 0) return;
  const double left = p.x, top = viewHeight - (p.y + p.height);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

  // Shadow: black, soft, falling below the pill (a few widening layers stand in for a blur).
  constexpr int kLayers = 6;
  for (int i = kLayers; i >= 1; --i) {
    const double spread = pillstyle::kShadowRadius * i / kLayers * 0.6;
    roundedRectPath(cr, left - spread, top - pillstyle::kShadowOffsetY - spread,
                    p.width + 2 * spread, p.height + 2 * spread, pillstyle::kCornerRadius + spread);
    cairo_set_source_rgba(cr, 0, 0, 0, pillstyle::kShadowOpacity / kLayers * 0.9);
    cairo_fill(cr);
  }
  fillAndBorder(cr, left, top, p.width, p.height, pillstyle::kCornerRadius, pillstyle::kBackground,
                pillstyle::kBorderColor, pillstyle::kBorderWidth, 1);

  // The record glyph, in the pill's own coordinates (y up).
  const Rect& ring = pillstyle::kRingEllipse;
  ellipsePath(cr, left + ring.x, top + p.height - (ring.y + ring.height), ring.width, ring.height);
  setColor(cr, f.glyph);
  cairo_set_line_width(cr, pillstyle::kRingLineWidth);
  cairo_stroke(cr);
  const Rect& dot = pillstyle::kDotEllipse;
  ellipsePath(cr, left + dot.x, top + p.height - (dot.y + dot.height), dot.width, dot.height);
  setColor(cr, f.glyph);
  cairo_fill(cr);

  const Rect& c = f.content;
  const double contentLeft = left + c.x, contentTop = top + p.height - (c.y + c.height);
  double fade = 1;
  if (fadeStart_ >= 0) fade = std::clamp((now - fadeStart_) / pillstyle::kFadeSeconds, 0.0, 1.0);
  if (previous_ && fade < 1) {
    paintSegments(cr, *previous_, contentLeft, contentTop, c.height, 1 - fade, false);
  }
  paintSegments(cr, *layout_, contentLeft, contentTop, c.height, fade, true);
  cairo_restore(cr);
}

void CairoPillSurface::paintSegments(cairo_t* cr, const PillLayout& layout, double contentLeft,
                                     double contentTop, double contentHeight, double alpha,
                                     bool hoverable) {
  auto drawLabel = [&](const PillLabel& label, double parentLeft, double parentTop,
                       double parentHeight) {
    const Rect& r = label.frame;
    const double x = parentLeft + r.x, y = parentTop + parentHeight - (r.y + r.height);
    const Size natural = text_.labelSize(label.text, label.font);
    // A label narrower than its text cuts it with an ellipsis, as a one-line label does.
    const double width = r.width + 0.01 < natural.width ? r.width : -1;
    text_.draw(cr, label.text, label.font, x, y, width, false,
               label.textColor.withAlpha(label.textColor.alpha * label.alpha * alpha));
  };
  for (std::size_t i = 0; i < layout.segments.size(); ++i) {
    const auto& segment = layout.segments[i];
    if (const auto* label = std::get_if<PillLabel>(&segment)) {
      drawLabel(*label, contentLeft, contentTop, contentHeight);
      continue;
    }
    const auto& group = std::get<PillActionGroup>(segment);
    const Rect& g = group.frame;
    const double gx = contentLeft + g.x, gy = contentTop + contentHeight - (g.y + g.height);
    if (hoverable && hovered_ == i) {
      roundedRectPath(cr, gx, gy, g.width, g.height, pillstyle::kActionCornerRadius);
      setColor(cr, pillstyle::kActionHoverBackground, alpha);
      cairo_fill(cr);
    }
    const Rect& chip = group.chipFrame;
    const double cx = gx + chip.x, cy = gy + g.height - (chip.y + chip.height);
    fillAndBorder(cr, cx, cy, chip.width, chip.height, pillstyle::kChipCornerRadius,
                  pillstyle::kChipBackground, pillstyle::kChipBorderColor,
                  pillstyle::kChipBorderWidth, alpha);
    drawLabel(group.chipLabel, cx, cy, chip.height);
    drawLabel(group.label, gx, gy, g.height);
  }
}

std::optional<std::size_t> CairoPillSurface::groupAt(double x, double y) const {
  if (!layout_) return std::nullopt;
  const Rect& p = layout_->pillFrame;
  const Rect& c = layout_->contentFrame;
  for (std::size_t i = 0; i < layout_->segments.size(); ++i) {
    const auto* group = std::get_if<PillActionGroup>(&layout_->segments[i]);
    if (!group) continue;
    const Rect& g = group->frame;
    if (contains({p.x + c.x + g.x, p.y + c.y + g.y, g.width, g.height}, x, y)) return i;
  }
  return std::nullopt;
}

void CairoPillSurface::pointerMoved(double x, double y) {
  const auto now = groupAt(x, y);
  if (now == hovered_) return;
  hovered_ = now;
  sink_.damage(extent());
}

void CairoPillSurface::pointerLeft() {
  if (!hovered_) return;
  hovered_.reset();
  sink_.damage(extent());
}

bool CairoPillSurface::mouseDown(double x, double y) {
  if (!layout_ || !contains(layout_->pillFrame, x, y)) return false;
  pressed_ = groupAt(x, y);
  return true;
}

void CairoPillSurface::mouseUp(double x, double y) {
  const auto pressed = pressed_;
  pressed_.reset();
  if (!pressed || !layout_ || groupAt(x, y) != pressed) return;
  perform_(std::get<PillActionGroup>(layout_->segments[*pressed]).action);
}

CairoBubbleSurface::CairoBubbleSurface(PangoText& text, std::string label, SurfaceSink sink)
    : text_(text), label_(std::move(label)), sink_(std::move(sink)) {}

CairoBubbleSurface::~CairoBubbleSurface() {
  if (sink_.gone) sink_.gone();
}

void CairoBubbleSurface::setLayout(const BubbleLayout& layout) {
  if (layout_) sink_.damage(layout_->frame);
  layout_ = layout;
  sink_.damage(layout.frame);
}

void CairoBubbleSurface::paint(cairo_t* cr, double viewHeight) {
  if (!layout_) return;
  const Rect& b = layout_->frame;
  const double left = b.x, top = viewHeight - (b.y + b.height);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  roundedRectPath(cr, left, top, b.width, b.height, pillstyle::kBubbleCornerRadius);
  setColor(cr, pillstyle::kBubbleBackground);
  cairo_fill(cr);
  const Rect& l = layout_->labelFrame;
  text_.draw(cr, label_, pillstyle::kBubbleFont, left + l.x, top + b.height - (l.y + l.height),
             l.width, true, Color::white());
  cairo_restore(cr);
}

}  // namespace orvane::selector::linux_ui
