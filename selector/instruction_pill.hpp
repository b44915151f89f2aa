// The instruction pill at the bottom of every overlay and the warning bubble above it: what
// they say, and where everything goes. The native views only show the result (PillSurface,
// BubbleSurface).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "command_line.hpp"
#include "hit_testing.hpp"
#include "pill_surface.hpp"
#include "text_measure.hpp"

namespace orvane::selector {

class CaptureSelectorController;

// Owner and title, trimmed of blanks (not line breaks), joined by an em dash; "This window"
// when both are empty.
std::string windowDisplayName(const WindowCandidate& candidate);

namespace pillitem {
struct Primary {
  std::string text;
  bool operator==(const Primary&) const = default;
};
struct Slot {
  std::string text;
  bool placeholder = false;
  bool operator==(const Slot&) const = default;
};
struct Secondary {
  std::string text;
  bool dimmed = false;
  bool operator==(const Secondary&) const = default;
};
struct Tertiary {
  std::string text;
  bool operator==(const Tertiary&) const = default;
};
struct Action {
  std::string key;
  std::string label;
  PillAction action = PillAction::record;
  bool operator==(const Action&) const = default;
};
}  // namespace pillitem

using PillItem = std::variant<pillitem::Primary, pillitem::Slot, pillitem::Secondary,
                              pillitem::Tertiary, pillitem::Action>;

// The pill's four items for a mode and hovered window. `micLabel` changes nothing.
std::vector<PillItem> pillItems(SelectionMode mode, const std::optional<WindowCandidate>& candidate,
                                const std::string& micLabel);

// "screen", "window-idle" or "window-<number>": the pill is rebuilt exactly when it changes.
std::string pillContentKey(SelectionMode mode, const std::optional<WindowCandidate>& candidate);

// An action group with its key chip, sized from its texts; its frame has origin (0, 0).
PillActionGroup makeActionGroup(const std::string& key, const std::string& label, PillAction action,
                                TextMeasurer& measurer);

// The whole pill for `items` in a container (the overlay view's bounds).
PillLayout layoutPill(const std::vector<PillItem>& items, Color glyphColor, const Rect& container,
                      TextMeasurer& measurer);

// Calls the controller operation of an action.
void performPillAction(CaptureSelectorController& controller, PillAction action);

namespace pillmetrics {
inline constexpr double kGlyphSize = 14;
inline constexpr double kGlyphGap = 8;
inline constexpr double kPaddingX = 16;
inline constexpr double kPillHeight = 38;
inline constexpr double kSegmentGap = 8;
inline constexpr double kMaxNameSlotWidth = 226;
inline constexpr double kMinShrunkLabelWidth = 40;
inline constexpr double kBottomMargin = 28;
inline constexpr double kChipHeight = 20;
inline constexpr double kChipPaddingX = 6;
inline constexpr double kGroupHeight = 26;
inline constexpr double kGroupPaddingX = 6;
inline constexpr double kBubblePaddingX = 12;
inline constexpr double kBubblePaddingY = 8;
inline constexpr double kBubbleBottom = 76;
inline constexpr double kBubbleMaxTextWidth = 260;
}  // namespace pillmetrics

class InstructionPillView {
 public:
  explicit InstructionPillView(CaptureSelectorController& controller) : controller_(controller) {}

  void attach(std::unique_ptr<PillSurface> surface) { surface_ = std::move(surface); }

  // Rebuilds and places the pill when the content key changed; the first layout is never
  // animated.
  void update(SelectionMode mode, const std::optional<WindowCandidate>& candidate,
              const std::string& micLabel, const Rect& in, bool animated);

  const std::string& contentKey() const { return contentKey_; }
  // The last layout shown; nothing before the first update.
  const std::optional<PillLayout>& layout() const { return layout_; }

 private:
  CaptureSelectorController& controller_;
  std::unique_ptr<PillSurface> surface_;
  std::string contentKey_ = "unset";
  std::optional<PillLayout> layout_;
};

// Where the bubble with `text` goes in a container: centred, its bottom 76 points up, the
// text wrapped within min(container width − 40, 260).
BubbleLayout layoutWarningBubble(const std::string& text, const Rect& container,
                                 TextMeasurer& measurer);

class WarningBubbleView {
 public:
  explicit WarningBubbleView(std::string text) : text_(std::move(text)) {}

  void attach(std::unique_ptr<BubbleSurface> surface) { surface_ = std::move(surface); }
  void layoutIn(const Rect& container, TextMeasurer& measurer);

  const std::string& text() const { return text_; }
  const std::optional<BubbleLayout>& layout() const { return layout_; }

 private:
  std::string text_;
  std::unique_ptr<BubbleSurface> surface_;
  std::optional<BubbleLayout> layout_;
};

}  // namespace orvane::selector
