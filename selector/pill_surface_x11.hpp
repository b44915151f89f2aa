// The instruction pill and the warning bubble on X11, painted with Cairo and Pango over the
// overlay, with the pill's cross-fade and slide run frame by frame. Used by the selector's
// X11 backends only.
#pragma once

#include <cairo.h>

#include <functional>
#include <optional>

#include "pill_surface.hpp"
#include "text_measure_x11.hpp"

namespace orvane::selector::x11 {

// The timing curve of an ease-out animation (cubic Bézier (0, 0), (0.58, 1)) at `t` in [0, 1].
double easeOut(double t);

// How a surface tells its overlay what to repaint (view coordinates), that it animates, and
// that it is gone.
struct SurfaceSink {
  std::function<void(const Rect&)> damage;
  std::function<void()> animate;
  std::function<void()> gone;
};

class X11PillSurface final : public PillSurface {
 public:
  X11PillSurface(PangoText& text, std::function<void(PillAction)> perform, SurfaceSink sink,
                 std::function<double()> clock);
  ~X11PillSurface() override;

  void show(const PillLayout& layout, bool animated) override;

  // Paints the pill as it looks now, in a Cairo context in points with y downwards.
  void paint(cairo_t* cr, double viewHeight);
  // While an animation runs: reports this frame's damage and answers true.
  bool tick();

  // Pointer input in view coordinates.
  void pointerMoved(double x, double y);
  void pointerLeft();
  // True when the press is the pill's (absorbed); it then owns the release.
  bool mouseDown(double x, double y);
  void mouseUp(double x, double y);

  // The pill's frame as shown now, and the area its painting covers (shadow included).
  Rect presentedFrame() const;
  Rect extent() const;

 private:
  struct Frames {
    Rect pill, content;
    Color glyph;
  };
  Frames presented(double now) const;
  void paintSegments(cairo_t* cr, const PillLayout& layout, double contentLeft, double contentTop,
                     double contentHeight, double alpha, bool hoverable);
  std::optional<std::size_t> groupAt(double x, double y) const;

  PangoText& text_;
  std::function<void(PillAction)> perform_;
  SurfaceSink sink_;
  std::function<double()> clock_;
  std::optional<PillLayout> layout_;
  std::optional<PillLayout> previous_;  // fading out
  Frames from_{};
  double fadeStart_ = -1, slideStart_ = -1, glyphStart_ = -1;
  std::optional<std::size_t> hovered_;
  std::optional<std::size_t> pressed_;
};

class X11BubbleSurface final : public BubbleSurface {
 public:
  X11BubbleSurface(PangoText& text, std::string label, SurfaceSink sink);
  ~X11BubbleSurface() override;
  void setLayout(const BubbleLayout& layout) override;
  void paint(cairo_t* cr, double viewHeight);

 private:
  PangoText& text_;
  std::string label_;
  SurfaceSink sink_;
  std::optional<BubbleLayout> layout_;
};

}  // namespace orvane::selector::x11
