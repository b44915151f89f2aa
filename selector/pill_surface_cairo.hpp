// The instruction pill and the warning bubble on Linux, painted with Cairo and Pango over the
// overlay, with the pill's cross-fade and slide run frame by frame. Used by the selector's
// Linux backends only.
#pragma once

#include <cairo.h>

#include <functional>
#include <optional>

#include "pill_surface.hpp"
#include "text_measure_pango.hpp"

namespace orvane::selector::linux_ui {

// The timing curve of an ease-out animation (cubic Bézier (0, 0), (0.58, 1)) at `t` in [0, 1].
double easeOut(double t);

// How a surface tells its overlay what to repaint (view coordinates), that it animates, and
// that it is gone.
struct SurfaceSink {
  std::function<void(const Rect&)> damage;
  std::function<void()> animate;
  std::function<void()> gone;
};

class CairoPillSurface final : public PillSurface {
 public:
  CairoPillSurface(PangoText& text, std::function<void(PillAction)> perform, SurfaceSink sink,
                   std::function<double()> clock);
  ~CairoPillSurface() override;

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

class CairoBubbleSurface final : public BubbleSurface {
 public:
  CairoBubbleSurface(PangoText& text, std::string label, SurfaceSink sink);
  ~CairoBubbleSurface() override;
  void setLayout(const BubbleLayout& layout) override;
  void paint(cairo_t* cr, double viewHeight);

 private:
  PangoText& text_;
  std::string label_;
  SurfaceSink sink_;
  std::optional<BubbleLayout> layout_;
};

}  // namespace orvane::selector::linux_ui
