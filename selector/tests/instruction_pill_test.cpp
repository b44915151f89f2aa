#include "instruction_pill.hpp"

#include <gtest/gtest.h>

#include "application_fake.hpp"
#include "controller.hpp"
#include "selector.hpp"
#include "text_measure_fake.hpp"
#include "window_server_fake.hpp"

namespace orvane::selector {
namespace {

using namespace pillitem;

WindowCandidate named(std::string owner, std::string title, std::uint32_t id = 812) {
  return {id, 1, std::move(owner), std::move(title), {0, 0, 100, 100}, 1};
}

TEST(WindowDisplayName, TrimsBlanksButNotLineBreaks) {
  EXPECT_EQ(windowDisplayName(named("Safari ", "  Start")), "Safari \u2014 Start");
  EXPECT_EQ(windowDisplayName(named(" Notes", "Notes\t")), "Notes");
  EXPECT_EQ(windowDisplayName(named("", "Only title")), "Only title");
  EXPECT_EQ(windowDisplayName(named("   ", "")), "This window");
  EXPECT_EQ(windowDisplayName(named("Mail", "\t")), "Mail");
  // The same name, once precomposed and once decomposed, is shown once.
  EXPECT_EQ(windowDisplayName(named("Caf\xC3\xA9", " Cafe\xCC\x81")), "Caf\xC3\xA9");
  EXPECT_EQ(windowDisplayName(named("Cafe", "Caf\xC3\xA9")), "Cafe \u2014 Caf\xC3\xA9");
  // No-break and ideographic spaces are blanks; a line break is kept.
  EXPECT_EQ(windowDisplayName(named("\xC2\xA0Mail\xE3\x80\x80", "a\n")), "Mail \u2014 a\n");
  EXPECT_EQ(windowDisplayName(named("", "\nx")), "\nx");
}

TEST(PillItems, ListsAndKeys) {
  const std::vector<PillItem> screen = {Primary{"Entire screen"},
                                        Action{"\u21B5", "Record", PillAction::record},
                                        Action{"W", "Record a window", PillAction::pickWindow},
                                        Action{"esc", "Cancel", PillAction::cancel}};
  EXPECT_EQ(pillItems(SelectionMode::screen, std::nullopt, ""), screen);
  EXPECT_EQ(pillItems(SelectionMode::screen, named("A", "B"), "Mic"), screen);
  const std::vector<PillItem> idle = {Slot{"Select a window to record", true},
                                      Secondary{"Click to record", true},
                                      Action{"F", "Entire screen", PillAction::fullScreen},
                                      Action{"esc", "Cancel", PillAction::cancel}};
  EXPECT_EQ(pillItems(SelectionMode::window, std::nullopt, "Mic"), idle);
  const auto hovered = pillItems(SelectionMode::window, named("A", "B"), "");
  EXPECT_EQ(hovered[0], PillItem(Slot{"A \u2014 B", false}));
  EXPECT_EQ(hovered[1], PillItem(Secondary{"Click to record", false}));

  EXPECT_EQ(pillContentKey(SelectionMode::screen, named("A", "B")), "screen");
  EXPECT_EQ(pillContentKey(SelectionMode::window, std::nullopt), "window-idle");
  EXPECT_EQ(pillContentKey(SelectionMode::window, named("A", "B", 4294967295u)),
            "window-4294967295");
}

// The fake measurer: a character is half the font size wide, a line the size plus 4 high.
TEST(PillLayout, ActionGroupAndChip) {
  FixedAdvanceMeasurer m;
  const auto group = makeActionGroup("esc", "Cancel", PillAction::cancel, m);
  // Chip: "esc" is 16.5 wide at 11 points, so 17 + 12; its label centred, half a point low.
  EXPECT_EQ(group.chipFrame, (Rect{6, 3, 29, 20}));
  EXPECT_EQ(group.chipLabel.frame, (Rect{6.25, 2, 16.5, 15}));
  EXPECT_EQ(group.chipLabel.font, (Font{11, FontWeight::semibold}));
  EXPECT_EQ(group.chipLabel.textColor, Color::white().withAlpha(0.9));
  // Label: "Cancel" is 39 wide at 13 points, 6 after the chip's 6 of padding.
  EXPECT_EQ(group.label.frame, (Rect{41, 4, 39, 17}));
  EXPECT_EQ(group.label.font, (Font{13, FontWeight::medium}));
  EXPECT_EQ(group.label.textColor, Color::white().withAlpha(0.75));
  EXPECT_EQ(group.frame, (Rect{0, 0, 86, 26}));
  // A fractional label width is rounded up in the group's width only.
  EXPECT_EQ(makeActionGroup("W", "Record a window", PillAction::pickWindow, m).frame.width,
            18 + 12 + 98 + 6);
}

Rect frame(const PillSegment& s) {
  return std::visit([](const auto& v) { return v.frame; }, s);
}

TEST(PillLayout, ScreenModeRow) {
  FixedAdvanceMeasurer m;
  const auto layout = layoutPill(pillItems(SelectionMode::screen, std::nullopt, ""),
                                 orvaneBrandBlue, {0, 0, 1440, 900}, m);
  ASSERT_EQ(layout.segments.size(), 4u);
  EXPECT_EQ(frame(layout.segments[0]), (Rect{0, 10, 84.5, 17}));  // labels half a point low
  EXPECT_EQ(frame(layout.segments[1]), (Rect{92.5, 6, 75, 26}));
  EXPECT_EQ(frame(layout.segments[2]), (Rect{175.5, 6, 134, 26}));
  EXPECT_EQ(frame(layout.segments[3]), (Rect{317.5, 6, 86, 26}));
  EXPECT_EQ(layout.contentFrame, (Rect{38, 0, 403.5, 38}));
  EXPECT_EQ(layout.pillFrame, (Rect{491.25, 28, 457.5, 38}));
  const auto& primary = std::get<PillLabel>(layout.segments[0]);
  EXPECT_EQ(primary.font, (Font{13, FontWeight::semibold}));
  EXPECT_EQ(primary.textColor, Color::white());
  EXPECT_FALSE(primary.truncatesTail);
}

TEST(PillLayout, NarrowDisplayShrinksTheFirstLabelOnly) {
  FixedAdvanceMeasurer m;
  // Available 500 × 0.75 − 54 = 321 against a row of 403.5: the label would go to 2, but
  // stops at 40; the row still overflows and nothing else shrinks.
  const auto layout = layoutPill(pillItems(SelectionMode::screen, std::nullopt, ""),
                                 orvaneBrandBlue, {0, 0, 500, 400}, m);
  const auto& primary = std::get<PillLabel>(layout.segments[0]);
  EXPECT_TRUE(primary.truncatesTail);
  EXPECT_EQ(primary.frame, (Rect{0, 10, 40, 17}));
  EXPECT_EQ(frame(layout.segments[3]).width, 86);
  EXPECT_EQ(layout.pillFrame, (Rect{43.5, 28, 413, 38}));
  // A smaller overflow takes exactly the difference.
  const auto wider = layoutPill(pillItems(SelectionMode::screen, std::nullopt, ""), orvaneBrandBlue,
                                {0, 0, 600, 400}, m);
  EXPECT_EQ(frame(wider.segments[0]).width, 84.5 - (403.5 - 396));
}

TEST(PillLayout, WindowNameSlot) {
  FixedAdvanceMeasurer m;
  const auto longName = named(std::string(100, 'x'), "");
  auto layout = layoutPill(pillItems(SelectionMode::window, longName, ""), orvaneBrandBlue,
                           {0, 0, 1440, 900}, m);
  auto slot = std::get<PillLabel>(layout.segments[0]);
  EXPECT_EQ(slot.frame.width, 226);
  EXPECT_TRUE(slot.truncatesTail);
  EXPECT_EQ(slot.font.weight, FontWeight::semibold);
  EXPECT_EQ(slot.textColor, Color::white());
  EXPECT_EQ(std::get<PillLabel>(layout.segments[1]).alpha, 1);
  // Row: 226 + 97.5 + 121 + 86 + 24 = 554.5; at 800 points 546 are available.
  layout = layoutPill(pillItems(SelectionMode::window, longName, ""), orvaneBrandBlue,
                      {0, 0, 800, 600}, m);
  EXPECT_EQ(frame(layout.segments[0]).width, 217.5);
  // The idle slot: lighter, and "Click to record" faded.
  layout = layoutPill(pillItems(SelectionMode::window, std::nullopt, ""), orvaneBrandBlue,
                      {0, 0, 1440, 900}, m);
  slot = std::get<PillLabel>(layout.segments[0]);
  EXPECT_EQ(slot.font.weight, FontWeight::medium);
  EXPECT_EQ(slot.textColor, Color::white().withAlpha(0.55));
  EXPECT_EQ(std::get<PillLabel>(layout.segments[1]).alpha, 0.35);
  EXPECT_EQ(std::get<PillLabel>(layout.segments[1]).textColor, Color::white().withAlpha(0.55));
}

TEST(PillLayout, EmptyRow) {
  FixedAdvanceMeasurer m;
  const auto layout = layoutPill({}, orvaneBrandBlue, {0, 0, 100, 100}, m);
  EXPECT_EQ(layout.contentFrame, (Rect{38, 0, 0, 38}));
  EXPECT_EQ(layout.pillFrame, (Rect{23, 28, 54, 38}));
}

struct PillUpdates : ::testing::Test {
  FakeApplication app;
  FakeWindowServer server;
  CapturedOutput out;
  CaptureSelectorController controller{{}, app, server, out};
  InstructionPillView pill{controller};
  FakePillSurface* surface = nullptr;

  PillUpdates() {
    auto s = std::make_unique<FakePillSurface>();
    surface = s.get();
    pill.attach(std::move(s));
  }
};

TEST_F(PillUpdates, RebuiltOnlyWhenTheKeyChanges) {
  EXPECT_EQ(pill.contentKey(), "unset");
  pill.update(SelectionMode::screen, std::nullopt, "", {0, 0, 1440, 900}, true);
  ASSERT_EQ(surface->shown.size(), 1u);
  EXPECT_FALSE(surface->shown[0].animated);  // the first layout never animates
  EXPECT_EQ(surface->shown[0].layout.glyphColor, orvaneBrandBlue);
  // Same key: nothing, even in another container.
  pill.update(SelectionMode::screen, named("A", "B"), "x", {0, 0, 500, 300}, true);
  EXPECT_EQ(surface->shown.size(), 1u);
  pill.update(SelectionMode::window, std::nullopt, "", {0, 0, 1440, 900}, true);
  ASSERT_EQ(surface->shown.size(), 2u);
  EXPECT_TRUE(surface->shown[1].animated);
  EXPECT_EQ(surface->shown[1].layout.glyphColor, Color::white().withAlpha(0.7));
  EXPECT_EQ(pill.contentKey(), "window-idle");
  pill.update(SelectionMode::window, named("A", "B", 9), "", {0, 0, 1440, 900}, false);
  ASSERT_EQ(surface->shown.size(), 3u);
  EXPECT_FALSE(surface->shown[2].animated);
  EXPECT_EQ(surface->shown[2].layout.glyphColor, orvaneBrandBlue);
  // A new title of the same window keeps the old text.
  pill.update(SelectionMode::window, named("A", "C", 9), "", {0, 0, 1440, 900}, true);
  EXPECT_EQ(surface->shown.size(), 3u);
  EXPECT_EQ(std::get<PillLabel>(pill.layout()->segments[0]).text, "A \u2014 B");
}

TEST(PillLayout, AWindowNameIsMeasuredAndShownCut) {
  // What the measurer is asked for is what the surface shows: never more than a label holds.
  struct Recording final : TextMeasurer {
    FixedAdvanceMeasurer inner;
    std::size_t longest = 0;
    Size labelSize(const std::string& text, Font font) override {
      longest = std::max(longest, text.size());
      return inner.labelSize(text, font);
    }
    Size wrappedLabelSize(const std::string& text, Font font, double limit) override {
      longest = std::max(longest, text.size());
      return inner.wrappedLabelSize(text, font, limit);
    }
  } m;
  const std::string title = "Bad \xff " + std::string(100000, 'x');
  const auto items = pillItems(SelectionMode::window, named("App", title), "");
  const PillLayout layout = layoutPill(items, orvaneBrandBlue, {0, 0, 1440, 900}, m);
  const auto& name = std::get<PillLabel>(layout.segments[0]);
  EXPECT_EQ(name.text, labelText("App \u2014 " + title));
  EXPECT_EQ(name.text.substr(0, 15), "App \u2014 Bad \uFFFD");
  EXPECT_EQ(name.text.substr(name.text.size() - 3), "\u2026");
  EXPECT_EQ(name.frame.width, pillmetrics::kMaxNameSlotWidth);
  EXPECT_LE(m.longest, kMaxLabelBytes);
}

TEST(WarningBubble, WrapsWithinTheLimit) {
  FixedAdvanceMeasurer m;  // 10 points: 5 per character, 14 per line
  EXPECT_EQ(layoutWarningBubble("Hi", {0, 0, 1440, 900}, m),
            (BubbleLayout{{703, 76, 34, 30}, {12, 8, 10, 14}}));
  // 100 characters wrap at 260 points: 52 a line, two lines.
  EXPECT_EQ(layoutWarningBubble(std::string(100, 'a'), {0, 0, 1440, 900}, m),
            (BubbleLayout{{578, 76, 284, 44}, {12, 8, 260, 28}}));
  // On a narrow display, within its width less 40.
  EXPECT_EQ(layoutWarningBubble(std::string(100, 'a'), {0, 0, 200, 300}, m).labelFrame,
            (Rect{12, 8, 160, 14 * 4}));
}

TEST(WarningBubble, FractionalTextSizeIsRoundedUp) {
  struct Fractional final : TextMeasurer {
    Size labelSize(const std::string&, Font) override { return {}; }
    Size wrappedLabelSize(const std::string&, Font, double) override { return {15.2, 13.1}; }
  } m;
  EXPECT_EQ(layoutWarningBubble("abc", {0, 0, 1001, 900}, m),
            (BubbleLayout{{480.5, 76, 40, 30}, {12, 8, 16, 14}}));
}

}  // namespace
}  // namespace orvane::selector
