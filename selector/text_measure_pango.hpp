// Label sizes and label drawing on Linux: Pango with the desktop's sans-serif font, in points.
// Used by the selector's Linux backends only.
#pragma once

#include <cairo.h>

#include <functional>
#include <memory>
#include <string>

#include "canvas.hpp"
#include "text_measure.hpp"

namespace orvane::selector::linux_ui {

class PangoText final : public TextMeasurer {
 public:
  // `beforeFirstUse` runs once, before the first measuring or drawing (the fonts' set-up is
  // the slowest part of starting, and nothing needs it before the overlays show).
  explicit PangoText(std::function<void()> beforeFirstUse = {});
  ~PangoText() override;
  PangoText(const PangoText&) = delete;
  PangoText& operator=(const PangoText&) = delete;

  Size labelSize(const std::string& text, Font font) override;
  Size wrappedLabelSize(const std::string& text, Font font, double widthLimit) override;

  // Draws with the top-left of the label's box at (x, y) (points, y downwards). A one-line
  // label narrower than its text (`width` > 0) is cut with an ellipsis at its end; `wrap`
  // wraps within `width` and centres the lines.
  void draw(cairo_t* cr, const std::string& text, Font font, double x, double y, double width,
            bool wrap, Color color);

 private:
  struct Impl;
  Impl& impl();
  std::function<void()> beforeFirstUse_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvane::selector::linux_ui
