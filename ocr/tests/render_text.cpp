// Draws lines of text on a plain background and writes a PNG, for the OCR tests and benchmark.
//
//   orvane-ocr-render [--font FAMILY] OUT.png WIDTH HEIGHT BACKGROUND FOREGROUND PIXELS ITEM...
//
// Each ITEM is either `X Y TEXT`, a line whose layout box has its top-left corner at X, Y, or
// `panel X Y W H BACKGROUND FOREGROUND`, a filled rectangle whose foreground colour the following
// lines take. Colours are RRGGBB, PIXELS is the font's size in pixels. The font is DejaVu Sans
// (fonts-dejavu-core) unless --font names another installed family.
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
  std::string family = "DejaVu Sans";
  if (argc > 2 && std::string(argv[1]) == "--font") {
    family = argv[2];
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
  }
  double background[3], foreground[3];
  if (argc < 7 || !parseColour(argv[4], background) || !parseColour(argv[5], foreground)) {
    std::fputs("usage: orvane-ocr-render OUT.png WIDTH HEIGHT BG FG PIXELS ITEM...\n", stderr);
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
  PangoFontDescription* font = pango_font_description_from_string(family.c_str());
  pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  bool valid = true;
  for (int i = 7; i < argc && valid;) {
    if (std::string(argv[i]) == "panel" && i + 6 < argc) {
      valid = parseColour(argv[i + 5], background) && parseColour(argv[i + 6], foreground);
      cairo_set_source_rgb(cr, background[0], background[1], background[2]);
      cairo_rectangle(cr, std::atof(argv[i + 1]), std::atof(argv[i + 2]), std::atof(argv[i + 3]),
                      std::atof(argv[i + 4]));
      cairo_fill(cr);
      i += 7;
    } else if (i + 2 < argc) {
      cairo_set_source_rgb(cr, foreground[0], foreground[1], foreground[2]);
      cairo_move_to(cr, std::atof(argv[i]), std::atof(argv[i + 1]));
      pango_layout_set_text(layout, argv[i + 2], -1);
      pango_cairo_show_layout(cr, layout);
      i += 3;
    } else {
      valid = false;
    }
  }
  pango_font_description_free(font);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const bool written =
      valid && cairo_surface_write_to_png(surface, argv[1]) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  if (!valid) std::fputs("orvane-ocr-render: bad item or colour\n", stderr);
  return written ? 0 : 1;
}
