// The cost of hostile label texts in orvane-capture-selector, timed from inside: for each
// text, the warning bubble's layout and first drawing, and the window-name slot's layout and
// drawing, with Pango as the X11 backend uses it. No X display is needed. With "uncut" the
// bubble is laid out from the whole text, as before labels were bounded (slow: a 64 KiB text
// without a space takes tens of seconds; the 128 KiB one is then left out).
//
//   selector_label_bench [uncut]
#include <chrono>
#include <cstdio>
#include <string>

#include "command_line.hpp"
#include "instruction_pill.hpp"
#include "selector.hpp"
#include "text_measure_pango.hpp"
// Last: the drawing calls go through the libraries loaded at run time.
#include "lazy_libraries_linux.hpp"

using namespace orvane;
using namespace orvane::selector;

namespace {

double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  const bool uncut = argc > 1 && std::string(argv[1]) == "uncut";
  if (!linux_ui::loadDrawingLibraries()) {
    std::fprintf(stderr, "selector_label_bench: Cairo and Pango cannot be loaded\n");
    return 1;
  }
  linux_ui::PangoText text;
  // The fonts are loaded before anything is timed.
  text.labelSize("Entire screen", {13, FontWeight::semibold});
  text.wrappedLabelSize("Warning", pillstyle::kBubbleFont, 260);

  std::string accents = "a", accented;
  for (int i = 0; i < 20000; ++i) {
    accents += "\u0301";
    accented += "e\u0301";
  }
  std::string words;
  while (words.size() < 64 * 1024) words += "Screen recording permission is missing. ";
  words.resize(64 * 1024);
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"64 KiB of words", words},
      {"64 KiB without a space", std::string(64 * 1024, 'x')},
      {"128 KiB without a space", std::string(128 * 1024 - 1, 'x')},
      {"20,000 accents on one letter", accents},
      {"20,000 accented letters", accented},
  };
  const Rect display{0, 0, 1280, 800};
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1280, 800);
  cairo_t* cr = cairo_create(surface);
  std::printf("%s; display 1280x800 points\n",
              uncut ? "bubble from the whole text" : "labels bounded as the selector does");
  for (const auto& c : cases) {
    if (uncut && c.text.size() > 100 * 1024) continue;
    auto start = std::chrono::steady_clock::now();
    const std::string shown = uncut ? c.text : labelText(c.text);
    const BubbleLayout bubble = layoutWarningBubble(shown, display, text);
    text.draw(cr, shown, pillstyle::kBubbleFont, 0, 0, bubble.labelFrame.width, true,
              Color::white());
    const double bubbleMs = msSince(start);

    start = std::chrono::steady_clock::now();
    const PillLayout pill =
        layoutPill({pillitem::Slot{c.text, false}}, orvaneBrandBlue, display, text);
    const auto& name = std::get<PillLabel>(pill.segments[0]);
    text.draw(cr, name.text, name.font, 0, 0, name.frame.width, false, Color::white());
    const double slotMs = msSince(start);
    std::printf("%-30s bubble %9.1f ms (%6.0f points high), window-name slot %6.1f ms\n", c.name,
                bubbleMs, bubble.frame.height, slotMs);
    std::fflush(stdout);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return 0;
}
