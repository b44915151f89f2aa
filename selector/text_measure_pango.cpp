#include "text_measure_pango.hpp"

#include <pango/pangocairo.h>

#include <map>
#include <tuple>
#include <utility>

#include "lazy_libraries_linux.hpp"

namespace orvane::selector::linux_ui {

namespace {

PangoWeight pangoWeight(FontWeight weight) {
  return weight == FontWeight::semibold ? PANGO_WEIGHT_SEMIBOLD : PANGO_WEIGHT_MEDIUM;
}

}  // namespace

struct PangoText::Impl {
  PangoContext* context = nullptr;
  // Laid-out texts by (text, size, weight, width, wrap); the pill shows a handful at a time.
  using Key = std::tuple<std::string, double, int, double, bool>;
  std::map<Key, PangoLayout*> layouts;

  Impl() {
    context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    // Metrics that do not depend on the device scale, so that what is measured in points is
    // what is drawn at any scale factor.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
  }

  ~Impl() {
    for (auto& [key, layout] : layouts) g_object_unref(layout);
    g_object_unref(context);
  }

  PangoLayout* layout(const std::string& text, Font style, double width, bool wrap) {
    Key key{text, style.size, static_cast<int>(style.weight), width, wrap};
    if (auto it = layouts.find(key); it != layouts.end()) return it->second;
    if (layouts.size() > 256) {
      for (auto& [k, l] : layouts) g_object_unref(l);
      layouts.clear();
    }
    PangoLayout* l = pango_layout_new(context);
    PangoFontDescription* font = pango_font_description_new();
    // The desktop's sans-serif face, as fontconfig resolves it.
    pango_font_description_set_family(font, "Sans");
    pango_font_description_set_weight(font, pangoWeight(style.weight));
    pango_font_description_set_absolute_size(font, style.size * PANGO_SCALE);
    pango_layout_set_font_description(l, font);
    pango_font_description_free(font);
    pango_layout_set_text(l, text.data(), static_cast<int>(text.size()));
    // A one-line label shows a line break on its line, whether it is cut or not.
    if (!wrap) pango_layout_set_single_paragraph_mode(l, TRUE);
    if (width > 0) {
      pango_layout_set_width(l, static_cast<int>(width * PANGO_SCALE));
      if (wrap) {
        pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_alignment(l, PANGO_ALIGN_CENTER);
      } else {
        pango_layout_set_ellipsize(l, PANGO_ELLIPSIZE_END);
      }
    }
    layouts.emplace(std::move(key), l);
    return l;
  }

  static Size size(PangoLayout* l) {
    PangoRectangle logical;
    pango_layout_get_extents(l, nullptr, &logical);
    return {logical.width / double(PANGO_SCALE), logical.height / double(PANGO_SCALE)};
  }
};

PangoText::PangoText(std::function<void()> beforeFirstUse)
    : beforeFirstUse_(std::move(beforeFirstUse)) {}
PangoText::~PangoText() = default;

PangoText::Impl& PangoText::impl() {
  if (!impl_) {
    if (beforeFirstUse_) std::exchange(beforeFirstUse_, nullptr)();
    impl_ = std::make_unique<Impl>();
  }
  return *impl_;
}

Size PangoText::labelSize(const std::string& text, Font style) {
  return Impl::size(impl().layout(text, style, -1, false));
}

Size PangoText::wrappedLabelSize(const std::string& text, Font style, double widthLimit) {
  return Impl::size(impl().layout(text, style, widthLimit, true));
}

void PangoText::draw(cairo_t* cr, const std::string& text, Font style, double x, double y,
                     double width, bool wrap, Color color) {
  PangoLayout* l = impl().layout(text, style, width, wrap);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
  if (!wrap && width > 0) {
    // A line may overhang its box by a fraction; keep it inside.
    const Size s = Impl::size(l);
    cairo_rectangle(cr, x, y, width, s.height);
    cairo_clip(cr);
  }
  cairo_move_to(cr, x, y);
  pango_cairo_update_layout(cr, l);
  pango_cairo_show_layout(cr, l);
  cairo_restore(cr);
}

}  // namespace orvane::selector::linux_ui
