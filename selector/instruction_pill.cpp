#include "instruction_pill.hpp"

#include <cmath>

#include "controller.hpp"
#include "selector.hpp"
#include "text.hpp"

namespace orvane::selector {
namespace {

using namespace pillmetrics;

const Color kWhite = Color::white();

PillLabel label(const std::string& text, Font font, Color color, TextMeasurer& measurer) {
  PillLabel l;
  l.text = labelText(text);  // a window's name can be anything
  l.font = font;
  l.textColor = color;
  const Size size = measurer.labelSize(l.text, font);
  l.frame = {0, 0, size.width, size.height};
  return l;
}

double width(const PillSegment& segment) {
  return std::visit([](const auto& s) { return s.frame.width; }, segment);
}

Rect& frameOf(PillSegment& segment) {
  return std::visit([](auto& s) -> Rect& { return s.frame; }, segment);
}

PillSegment segmentFor(const PillItem& item, TextMeasurer& measurer) {
  constexpr Font medium{13, FontWeight::medium}, semibold{13, FontWeight::semibold};
  if (auto* p = std::get_if<pillitem::Primary>(&item))
    return label(p->text, semibold, kWhite, measurer);
  if (auto* s = std::get_if<pillitem::Slot>(&item)) {
    PillLabel l = label(s->text, s->placeholder ? medium : semibold,
                        s->placeholder ? kWhite.withAlpha(0.55) : kWhite, measurer);
    l.truncatesTail = true;
    l.frame.width = std::min(l.frame.width, kMaxNameSlotWidth);
    return l;
  }
  if (auto* s = std::get_if<pillitem::Secondary>(&item)) {
    PillLabel l = label(s->text, medium, kWhite.withAlpha(0.55), measurer);
    l.alpha = s->dimmed ? 0.35 : 1;
    return l;
  }
  if (auto* t = std::get_if<pillitem::Tertiary>(&item)) {
    return label(t->text, medium, kWhite.withAlpha(0.4), measurer);
  }
  const auto& a = std::get<pillitem::Action>(item);
  return makeActionGroup(a.key, a.label, a.action, measurer);
}

}  // namespace

std::string windowDisplayName(const WindowCandidate& candidate) {
  const std::string owner = std::string(trimmed(candidate.ownerName, TrimSet::kWhitespace));
  const std::string title = std::string(trimmed(candidate.title, TrimSet::kWhitespace));
  if (!owner.empty()) {
    // A title that only spells the owner's name another way (precomposed or decomposed
    // accents, as file-system names often come) is the owner's name.
    if (title.empty() || canonicalDecomposition(title) == canonicalDecomposition(owner)) {
      return owner;
    }
    return owner + " \u2014 " + title;
  }
  return title.empty() ? "This window" : title;
}

std::vector<PillItem> pillItems(SelectionMode mode, const std::optional<WindowCandidate>& candidate,
                                const std::string& /*micLabel: shown nowhere*/) {
  using namespace pillitem;
  if (mode == SelectionMode::screen) {
    return {Primary{"Entire screen"}, Action{"\u21B5", "Record", PillAction::record},
            Action{"W", "Record a window", PillAction::pickWindow},
            Action{"esc", "Cancel", PillAction::cancel}};
  }
  return {Slot{candidate ? windowDisplayName(*candidate) : "Select a window to record", !candidate},
          Secondary{"Click to record", !candidate},
          Action{"F", "Entire screen", PillAction::fullScreen},
          Action{"esc", "Cancel", PillAction::cancel}};
}

std::string pillContentKey(SelectionMode mode, const std::optional<WindowCandidate>& candidate) {
  if (mode == SelectionMode::screen) return "screen";
  return candidate ? "window-" + std::to_string(candidate->windowId) : "window-idle";
}

PillActionGroup makeActionGroup(const std::string& key, const std::string& text, PillAction action,
                                TextMeasurer& measurer) {
  PillActionGroup group;
  group.action = action;
  // The chip: its label centred, half a point low, at its fitted size.
  group.chipLabel = label(key, {11, FontWeight::semibold}, kWhite.withAlpha(0.9), measurer);
  const double klw = group.chipLabel.frame.width, klh = group.chipLabel.frame.height;
  const double cw = std::ceil(klw) + 2 * kChipPaddingX, ch = kChipHeight;
  group.chipLabel.frame = {(cw - klw) / 2, (ch - klh) / 2 - 0.5, klw, klh};
  group.chipFrame = {kGroupPaddingX, (kGroupHeight - ch) / 2, cw, ch};
  // The label beside it.
  group.label = label(text, {13, FontWeight::medium}, kWhite.withAlpha(0.75), measurer);
  const double lw = group.label.frame.width, lh = group.label.frame.height;
  group.label.frame = {cw + 2 * kGroupPaddingX, (kGroupHeight - lh) / 2 - 0.5, lw, lh};
  group.frame = {0, 0, cw + 2 * kGroupPaddingX + std::ceil(lw) + kGroupPaddingX, kGroupHeight};
  return group;
}

PillLayout layoutPill(const std::vector<PillItem>& items, Color glyphColor, const Rect& container,
                      TextMeasurer& measurer) {
  PillLayout layout;
  layout.glyphColor = glyphColor;
  auto& segments = layout.segments;
  for (const auto& item : items) segments.push_back(segmentFor(item, measurer));

  // Fit: when the row is wider than three quarters of the display less the chrome, the first
  // text label gives up the difference, down to 40 points. Action groups keep their size.
  const double chrome = kPaddingX + kGlyphSize + kGlyphGap + kPaddingX;  // 54
  const double available = container.width * 0.75 - chrome;
  double total = 0;
  for (const auto& s : segments) total += width(s);
  if (!segments.empty()) total += kSegmentGap * static_cast<double>(segments.size() - 1);
  if (available < total) {
    for (auto& s : segments) {
      if (auto* l = std::get_if<PillLabel>(&s)) {
        l->truncatesTail = true;
        l->frame.width = std::max(l->frame.width - (total - available), kMinShrunkLabelWidth);
        break;
      }
    }
  }

  // Place: one row, vertically centred, labels half a point low.
  double x = 0;
  for (auto& s : segments) {
    Rect& f = frameOf(s);
    f.x = x;
    f.y = (kPillHeight - f.height) / 2 - (std::holds_alternative<PillLabel>(s) ? 0.5 : 0);
    x += f.width + kSegmentGap;
  }
  const double contentWidth = std::max(x - kSegmentGap, 0.0);
  const double pillWidth = contentWidth + chrome;
  layout.pillFrame = {(container.width - pillWidth) / 2, kBottomMargin, pillWidth, kPillHeight};
  layout.contentFrame = {kPaddingX + kGlyphSize + kGlyphGap, 0, contentWidth, kPillHeight};
  return layout;
}

void performPillAction(CaptureSelectorController& controller, PillAction action) {
  switch (action) {
    case PillAction::record:
      controller.acceptCurrent();
      break;
    case PillAction::pickWindow:
      controller.setMode(SelectionMode::window);
      break;
    case PillAction::fullScreen:
      controller.setMode(SelectionMode::screen);
      break;
    case PillAction::cancel:
      controller.cancel();
      break;
  }
}

void InstructionPillView::update(SelectionMode mode,
                                 const std::optional<WindowCandidate>& candidate,
                                 const std::string& micLabel, const Rect& in, bool animated) {
  std::string key = pillContentKey(mode, candidate);
  if (key == contentKey_) return;
  const bool firstLayout = contentKey_ == "unset";
  contentKey_ = std::move(key);
  const Color glyph =
      mode == SelectionMode::window && !candidate ? kWhite.withAlpha(0.7) : orvaneBrandBlue;
  layout_ = layoutPill(pillItems(mode, candidate, micLabel), glyph, in,
                       controller_.application().textMeasurer());
  if (surface_) surface_->show(*layout_, animated && !firstLayout);
}

BubbleLayout layoutWarningBubble(const std::string& text, const Rect& container,
                                 TextMeasurer& measurer) {
  const double c = container.width;
  const double limit = std::min(c - 40, kBubbleMaxTextWidth);
  const Size fitted = measurer.wrappedLabelSize(text, pillstyle::kBubbleFont, limit);
  const double fw = std::ceil(fitted.width), fh = std::ceil(fitted.height);
  const double w = fw + 2 * kBubblePaddingX, h = fh + 2 * kBubblePaddingY;
  return {{(c - w) / 2, kBubbleBottom, w, h}, {kBubblePaddingX, kBubblePaddingY, fw, fh}};
}

void WarningBubbleView::layoutIn(const Rect& container, TextMeasurer& measurer) {
  layout_ = layoutWarningBubble(text_, container, measurer);
  if (surface_) surface_->setLayout(*layout_);
}

}  // namespace orvane::selector
