// Draws lines of text on a plain background and writes a PNG, for the OCR tests and benchmark.
//
//   orvane-ocr-render OUT.png WIDTH HEIGHT BACKGROUND FOREGROUND PIXELS [X Y TEXT]...
//
// Colours are RRGGBB, PIXELS is the font's size in pixels, X and Y place the top-left corner of
// each line's layout box. The font is DejaVu Sans, which fonts-dejavu-core provides.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool parseColour(const char* text, double rgb[3]) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 16);
  if (!end || *end != '\0' || std::string(text).size() != 6) return false;
  rgb[0] = ((value >> 16) & 0xff) / 255.0;
  rgb[1] = ((value >> 8) & 0xff) / 255.0;
  rgb[2] = (value & 0xff) / 255.0;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double background[3], foreground[3];
  if (argc < 7 || (argc - 7) % 3 != 0 || !parseColour(argv[4], background) ||
      !parseColour(argv[5], foreground)) {
    std::fputs("usage: orvane-ocr-render OUT.png WIDTH HEIGHT BG FG PIXELS [X Y TEXT]...\n", stderr);
    return 2;
  }
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  const double pixels = std::atof(argv[6]);
  if (width <= 0 || height <= 0 || pixels <= 0) return 2;

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, background[0], background[1], background[2]);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, foreground[0], foreground[1], foreground[2]);

  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans");
  pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  for (int i = 7; i + 2 < argc; i += 3) {
    cairo_move_to(cr, std::atof(argv[i]), std::atof(argv[i + 1]));
    pango_layout_set_text(layout, argv[i + 2], -1);
    pango_cairo_show_layout(cr, layout);
  }
  pango_font_description_free(font);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const bool written = cairo_surface_write_to_png(surface, argv[1]) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return written ? 0 : 1;
}
