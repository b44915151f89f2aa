// The X11 backend's own logic: key translation, what a repaint must cover, the replay of a
// drawing pass with Cairo, the pill's pointer handling and animation, and text measuring.
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <vector>

#include "canvas_cairo.hpp"
#include "lazy_libraries_linux.hpp"
#include "overlay_desktop.hpp"
#include "overlay_view.hpp"
#include "pill_surface_cairo.hpp"
#include "text_measure_pango.hpp"

namespace orvane::selector {
namespace {

using linux_ui::PaintOp;

constexpr std::uint16_t kShift = 1, kControl = 4, kAlt = 8, kSuper = 64;

// X key codes of a PC keyboard (evdev + 8), named by the key's place on a US layout.
constexpr std::uint8_t kEscape = 9, kReturn = 36, kKeypadEnter = 104, kQ = 24, kW = 25, kA = 38,
                       kF = 41, kZ = 52, kF1 = 67, kShiftL = 50, kOne = 10;

TEST(X11Keys, TheSelectorsKeysGetTheirMacOSCodesWhateverIsHeld) {
  EXPECT_EQ(linux_ui::translateKey(kEscape, XKB_KEY_Escape, 0, "\x1b").keyCode, kVKEscape);
  EXPECT_EQ(linux_ui::translateKey(kReturn, XKB_KEY_Return, kSuper, "\r").keyCode, kVKReturn);
  EXPECT_EQ(linux_ui::translateKey(kKeypadEnter, XKB_KEY_KP_Enter, kShift, "\r").keyCode,
            kVKKeypadEnter);
  // Letters by their place on the ANSI keyboard, whatever the level.
  EXPECT_EQ(linux_ui::translateKey(kW, XKB_KEY_w, 0, "w").keyCode, 13);
  EXPECT_EQ(linux_ui::translateKey(kW, XKB_KEY_W, kShift, "W").keyCode, 13);
  EXPECT_EQ(linux_ui::translateKey(kF, XKB_KEY_f, 0, "f").keyCode, 3);
  // A key without a macOS counterpart has no code.
  EXPECT_EQ(linux_ui::translateKey(255, XKB_KEY_NoSymbol, 0, "").keyCode, 0xFFFF);
  EXPECT_EQ(linux_ui::translateKey(0, XKB_KEY_NoSymbol, 0, "").keyCode, 0xFFFF);
}

// On AZERTY the key in the place of Q types "a": its code stays kVK_ANSI_Q, its characters
// follow the layout, as macOS reports them.
TEST(X11Keys, CodesFollowThePhysicalKeyAndCharactersTheLayout) {
  const auto a = linux_ui::translateKey(kQ, XKB_KEY_a, 0, "a");
  EXPECT_EQ(a.keyCode, 12);  // kVK_ANSI_Q
  EXPECT_EQ(a.charactersIgnoringModifiers, "a");
  EXPECT_EQ(linux_ui::translateKey(kA, XKB_KEY_q, 0, "q").keyCode, 0);   // kVK_ANSI_A
  EXPECT_EQ(linux_ui::translateKey(kW, XKB_KEY_z, 0, "z").keyCode, 13);  // kVK_ANSI_W
  EXPECT_EQ(linux_ui::translateKey(kZ, XKB_KEY_w, 0, "w").keyCode, 6);   // kVK_ANSI_Z
  // The digit row types symbols unshifted and is still the digit row.
  EXPECT_EQ(linux_ui::translateKey(kOne, XKB_KEY_ampersand, 0, "&").keyCode, 18);  // kVK_ANSI_1
}

TEST(X11Keys, ModifiersMapToControlOptionCommandAndCharactersKeepTheLevel) {
  const auto shiftW = linux_ui::translateKey(kW, XKB_KEY_W, kShift, "W");
  EXPECT_EQ(shiftW.modifierFlags, kModifierShift);
  EXPECT_EQ(shiftW.charactersIgnoringModifiers, "W");
  const auto controlF = linux_ui::translateKey(kF, XKB_KEY_f, kControl, "f");
  EXPECT_EQ(controlF.modifierFlags, kModifierControl);
  EXPECT_EQ(controlF.charactersIgnoringModifiers, "f");
  EXPECT_EQ(linux_ui::translateKey(kW, XKB_KEY_w, kAlt, "w").modifierFlags, kModifierOption);
  EXPECT_EQ(linux_ui::translateKey(kW, XKB_KEY_w, kSuper, "w").modifierFlags, kModifierCommand);
  EXPECT_EQ(
      linux_ui::translateKey(kW, XKB_KEY_w, kControl | kAlt | kSuper, "w").modifierFlags & 0x1C0000,
      0x1C0000u);
  // Keys that type nothing carry no characters.
  EXPECT_FALSE(linux_ui::translateKey(kF1, XKB_KEY_F1, 0, "").charactersIgnoringModifiers);
  EXPECT_FALSE(linux_ui::translateKey(kShiftL, XKB_KEY_Shift_L, 0, "").charactersIgnoringModifiers);
}

// A window-mode pass as the overlay draws it: veil, cut-out, tint and outline.
std::vector<PaintOp> windowPass(const Rect& window) {
  linux_ui::PaintRecorder r;
  drawDimmedBackdrop(r, {0, 0, 800, 600});
  clear(r, window);
  drawSelection(r, window);
  return r.ops;
}

bool covers(const std::vector<Rect>& areas, double x, double y) {
  for (const auto& a : areas) {
    if (x >= a.x && x < a.x + a.width && y >= a.y && y < a.y + a.height) return true;
  }
  return false;
}

TEST(X11Damage, UnchangedPassesRepaintNothingAndAChangedVeilRepaintsAll) {
  const Rect bounds{0, 0, 800, 600};
  EXPECT_TRUE(linux_ui::damageBetween(windowPass({100, 100, 200, 150}),
                                      windowPass({100, 100, 200, 150}), bounds)
                  .empty());
  linux_ui::PaintRecorder tint;
  tint.setFillColor({0, 111 / 255.0, 1, 0.08});
  tint.fillRect(bounds, CompositingOperation::sourceOver);
  EXPECT_EQ(linux_ui::damageBetween(windowPass({100, 100, 200, 150}), tint.ops, bounds),
            std::vector<Rect>{bounds});
}

TEST(X11Damage, AMovedHighlightRepaintsWhereItWasAndWhereItIsOutlineIncluded) {
  const auto before = windowPass({100, 100, 200, 150});
  const auto after = windowPass({400, 300, 100, 100});
  const auto damage = linux_ui::damageBetween(before, after, {0, 0, 800, 600});
  // The old outline lies 2 points outside the old window; both places are covered.
  EXPECT_TRUE(covers(damage, 98.5, 200));
  EXPECT_TRUE(covers(damage, 301.5, 200));
  EXPECT_TRUE(covers(damage, 450, 350));
  EXPECT_TRUE(covers(damage, 501.5, 402));
  EXPECT_FALSE(covers(damage, 700, 50));
  // The veil alone (no window hovered any more): the old highlight is repainted.
  linux_ui::PaintRecorder veilOnly;
  drawDimmedBackdrop(veilOnly, {0, 0, 800, 600});
  EXPECT_TRUE(covers(linux_ui::damageBetween(before, veilOnly.ops, {0, 0, 800, 600}), 150, 150));
}

TEST(X11Damage, TheCutOutRecordsUnderClearAndTheStateComesBack) {
  const auto ops = windowPass({100, 100, 200, 150});
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_EQ(ops[1].operation, CompositingOperation::clear);
  EXPECT_EQ(ops[2].operation, CompositingOperation::sourceOver);
  EXPECT_EQ(ops[3].kind, PaintOp::Kind::strokeRoundedRect);
}

struct Pixel {
  int r, g, b, a;
};

Pixel pixelAt(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  const auto* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
  const std::uint32_t v = reinterpret_cast<const std::uint32_t*>(row)[x];
  return {int(v >> 16 & 0xff), int(v >> 8 & 0xff), int(v & 0xff), int(v >> 24)};
}

TEST(X11Replay, ViewCoordinatesAreFlippedAndClearShowsWhatIsUnder) {
  // A 200 × 100 view; what lies under the overlay is pure green.
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 100);
  cairo_t* cr = cairo_create(s);
  auto background = [](cairo_t* c) {
    cairo_save(c);
    cairo_set_source_rgb(c, 0, 1, 0);
    cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
    cairo_fill_preserve(c);
    cairo_restore(c);
  };
  cairo_rectangle(cr, 0, 0, 200, 100);
  background(cr);
  cairo_new_path(cr);
  linux_ui::PaintRecorder r;
  drawDimmedBackdrop(r, {0, 0, 200, 100});
  // A window at the view's bottom-left (y up): Cairo's rows 60 to 100.
  clear(r, {0, 0, 80, 40});
  linux_ui::replay(cr, r.ops, 100, background);
  cairo_destroy(cr);
  const Pixel veil = pixelAt(s, 150, 20);
  EXPECT_EQ(veil.r, 0);
  EXPECT_NEAR(veil.g, 255 * 0.72, 1.5);
  const Pixel cut = pixelAt(s, 40, 80);
  EXPECT_EQ(cut.g, 255);
  const Pixel above = pixelAt(s, 40, 50);
  EXPECT_NEAR(above.g, 255 * 0.72, 1.5);
  cairo_surface_destroy(s);
}

// A pill with one label and two action groups, as the layout gives it.
PillLayout pillLayout(double x) {
  PillLayout l;
  l.pillFrame = {x, 28, 300, 38};
  l.contentFrame = {38, 0, 246, 38};
  l.glyphColor = Color{0, 111 / 255.0, 1, 1};
  PillLabel label{"Entire screen", {13, FontWeight::semibold}, Color::white(), false, 1,
                  {0, 10, 80, 17}};
  PillActionGroup record{PillAction::record, {88, 6, 70, 26}, {6, 3, 20, 20}, label, label};
  PillActionGroup cancel{PillAction::cancel, {166, 6, 80, 26}, {6, 3, 28, 20}, label, label};
  l.segments = {label, record, cancel};
  return l;
}

struct PillHarness {
  linux_ui::PangoText text;
  double now = 10;
  std::vector<PillAction> performed;
  std::vector<Rect> damage;
  int animateCalls = 0;
  linux_ui::CairoPillSurface pill{
      text,
      [this](PillAction a) { performed.push_back(a); },
      {[this](const Rect& r) { damage.push_back(r); }, [this] { ++animateCalls; }, nullptr},
      [this] { return now; }};
};

TEST(X11Pill, AnActionRunsOnReleaseInsideTheGroupThatWasPressed) {
  PillHarness h;
  h.pill.show(pillLayout(100), false);
  // The record group spans x 226..296, y 34..60 in the view.
  EXPECT_TRUE(h.pill.mouseDown(230, 40));
  h.pill.mouseUp(290, 55);
  EXPECT_EQ(h.performed, std::vector<PillAction>{PillAction::record});
  // Dragged off before the release: nothing.
  EXPECT_TRUE(h.pill.mouseDown(230, 40));
  h.pill.mouseUp(230, 80);
  // Pressed on one group, released on another: nothing.
  EXPECT_TRUE(h.pill.mouseDown(230, 40));
  h.pill.mouseUp(310, 40);
  EXPECT_EQ(h.performed.size(), 1u);
  // The background and the glyph absorb the press and do nothing.
  EXPECT_TRUE(h.pill.mouseDown(123, 47));
  h.pill.mouseUp(123, 47);
  EXPECT_EQ(h.performed.size(), 1u);
  // Beside the pill: not the pill's.
  EXPECT_FALSE(h.pill.mouseDown(50, 47));
  EXPECT_FALSE(h.pill.mouseDown(200, 67));
}

TEST(X11Pill, AChangeSlidesEasingOutAndAFirstOrUnanimatedOneJumps) {
  PillHarness h;
  h.pill.show(pillLayout(100), false);
  EXPECT_EQ(h.pill.presentedFrame(), pillLayout(100).pillFrame);
  EXPECT_EQ(h.animateCalls, 0);
  h.pill.show(pillLayout(200), true);
  EXPECT_EQ(h.animateCalls, 1);
  EXPECT_DOUBLE_EQ(h.pill.presentedFrame().x, 100);
  h.now += 0.1;  // half the slide: past half the way, easing out
  EXPECT_TRUE(h.pill.tick());
  EXPECT_GT(h.pill.presentedFrame().x, 150);
  EXPECT_LT(h.pill.presentedFrame().x, 200);
  h.now += 0.2;
  EXPECT_TRUE(h.pill.tick());  // the last frame
  EXPECT_FALSE(h.pill.tick());
  EXPECT_DOUBLE_EQ(h.pill.presentedFrame().x, 200);
  h.pill.show(pillLayout(300), false);
  EXPECT_DOUBLE_EQ(h.pill.presentedFrame().x, 300);
  // Every change repaints where the pill was and where it goes, shadow included.
  EXPECT_TRUE(covers(h.damage, 210, 20));
  EXPECT_TRUE(covers(h.damage, 590, 80));
}

TEST(X11Pill, EaseOutStartsFastAndEndsAtOne) {
  EXPECT_DOUBLE_EQ(linux_ui::easeOut(0), 0);
  EXPECT_NEAR(linux_ui::easeOut(1), 1, 1e-6);
  EXPECT_GT(linux_ui::easeOut(0.25), 0.35);
  EXPECT_LT(linux_ui::easeOut(0.5), linux_ui::easeOut(0.75));
}

TEST(X11Text, LabelsGrowWithTextAndSizeAndWrapWithinTheLimit) {
  linux_ui::PangoText text;
  const Font body{13, FontWeight::medium};
  const Size short_ = text.labelSize("Cancel", body);
  const Size long_ = text.labelSize("Record a window", body);
  EXPECT_GT(short_.width, 20);
  EXPECT_GT(long_.width, short_.width);
  EXPECT_GT(short_.height, 13);
  EXPECT_LT(short_.height, 24);
  EXPECT_GT(text.labelSize("Cancel", {26, FontWeight::medium}).width, short_.width * 1.8);
  const std::string warning(40, 'x');
  const Size wrapped = text.wrappedLabelSize(warning + " " + warning + " " + warning,
                                             {10, FontWeight::semibold}, 260);
  EXPECT_LE(wrapped.width, 260);
  EXPECT_GT(wrapped.height, text.labelSize("x", {10, FontWeight::semibold}).height * 1.5);
}

TEST(X11Text, ALabelCutWithAnEllipsisStaysOnOneLine) {
  // A window name may hold a line break; a one-line label shows it on its one line, cut or not.
  linux_ui::PangoText text;
  const Font body{13, FontWeight::semibold};
  const std::string name = "Terminal \u2014 make test\nsecond line of the title";
  const double line = text.labelSize(name, body).height;
  EXPECT_LT(line, 24);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 100);
  cairo_t* cr = cairo_create(s);
  text.draw(cr, name, body, 0, 0, 80, false, Color::white());
  cairo_destroy(cr);
  int inkAbove = 0, inkBelow = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 200; ++x) (y < line ? inkAbove : inkBelow) += pixelAt(s, x, y).a > 0;
  }
  cairo_surface_destroy(s);
  EXPECT_GT(inkAbove, 50);
  EXPECT_EQ(inkBelow, 0);
}

}  // namespace
}  // namespace orvane::selector
