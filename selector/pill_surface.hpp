// What the instruction pill and the warning bubble need from a platform. The layout (which
// labels, their fonts, colours, frames, the pill's place) is computed by the pill logic; a
// backend only builds the views it is given and moves them as told.
//
// Geometry: points, every frame in its parent's coordinates, no view flipped (origin at the
// parent's bottom-left, y up). The pill's parent is the overlay view; the content's parent is
// the pill; a segment's parent is the content; an action group's chip and label have the
// group as parent, the chip's label the chip. The bubble's parent is the overlay view, and
// it lies above the pill. Everything is called on the main thread.
#pragma once

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "canvas.hpp"
#include "text_measure.hpp"
#include "window_record.hpp"

namespace orvane::selector {

enum class PillAction { record, pickWindow, fullScreen, cancel };

// A one-line, non-editable, non-selectable label (NSTextField labelWithString:, at most one
// line) showing `text` in `font` and `textColor`, with the view's alpha `alpha`.
struct PillLabel {
  std::string text;
  Font font;
  Color textColor;
  bool truncatesTail = false;  // cut with an ellipsis at the end when narrower than the text
  double alpha = 1;
  Rect frame;
  bool operator==(const PillLabel&) const = default;
};

// A clickable action group: a key-cap chip with its key text, and a label beside it.
struct PillActionGroup {
  PillAction action = PillAction::record;
  Rect frame;           // in the content
  Rect chipFrame;       // in the group
  PillLabel chipLabel;  // in the chip
  PillLabel label;      // in the group
  bool operator==(const PillActionGroup&) const = default;
};

using PillSegment = std::variant<PillLabel, PillActionGroup>;

// One complete content of the pill.
struct PillLayout {
  std::vector<PillSegment> segments;  // the content's subviews, in order, left to right
  Rect pillFrame;                     // in the overlay view
  Rect contentFrame;                  // in the pill
  Color glyphColor;                   // the ring's stroke and the dot's fill
  bool operator==(const PillLayout&) const = default;
};

// The look that never changes, for every backend.
namespace pillstyle {
// Pill: rounded capsule with a border and a soft shadow below it.
inline constexpr Color kBackground{23 / 255.0, 23 / 255.0, 23 / 255.0, 0.92};
inline constexpr double kCornerRadius = 19;
inline constexpr double kBorderWidth = 1;
inline constexpr Color kBorderColor{1, 1, 1, 0.12};
inline constexpr float kShadowOpacity = 0.35f;  // shadow colour black
inline constexpr double kShadowRadius = 18;
inline constexpr double kShadowOffsetX = 0, kShadowOffsetY = -6;  // y up: the shadow falls below
// Record glyph, in the pill's coordinates: a ring (stroked ellipse, clear fill, line width
// 1.5) and a dot above it (filled ellipse), both coloured by `PillLayout::glyphColor`.
inline constexpr Rect kRingEllipse{16.75, 12.75, 12.5, 12.5};
inline constexpr double kRingLineWidth = 1.5;
inline constexpr Rect kDotEllipse{20, 16, 6, 6};
// Key chip: background, border and corner radius of its layer.
inline constexpr Color kChipBackground{1, 1, 1, 0.14};
inline constexpr Color kChipBorderColor{1, 1, 1, 0.28};
inline constexpr double kChipBorderWidth = 1;
inline constexpr double kChipCornerRadius = 5;
// Action group: corner radius; background clear, and this colour while the pointer is over it.
inline constexpr double kActionCornerRadius = 6;
inline constexpr Color kActionHoverBackground{1, 1, 1, 0.12};
// Warning bubble: opaque black, rounded; its label wraps, centred, white, 10 pt semibold.
inline constexpr Color kBubbleBackground{0, 0, 0, 1};
inline constexpr double kBubbleCornerRadius = 10;
inline constexpr Font kBubbleFont{10, FontWeight::semibold};
// Animation of a content change: the new segments cross-fade in over the old ones
// (CATransition kCATransitionFade, key "content-fade") while the pill slides and resizes to
// its new frame (NSAnimationContext, ease-out).
inline constexpr double kFadeSeconds = 0.16;
inline constexpr double kSlideSeconds = 0.2;
}  // namespace pillstyle

// The native side of one pill (macOS: an InstructionPillView with its content view and the two
// glyph layers). The backend makes it once, with the chrome of `pillstyle`, a zero frame and
// no segments. It calls `perform` with a group's action when the primary button is released
// inside that action group (a press is absorbed with no pressed look; a release outside the
// group does nothing). A press anywhere else on the pill (its background, its glyph) is
// absorbed too: it never reaches the overlay view beneath. Action groups show the
// pointing-hand cursor, and their hover background (`kActionHoverBackground`) while the
// pointer is inside; new groups start without it.
class PillSurface {
 public:
  virtual ~PillSurface() = default;

  // Replaces every segment view of the content with new ones made from `layout.segments`, and
  // applies the frames and the glyph colour:
  // - animated false: at once (macOS: an animation group of duration 0 with implicit animation
  //   off, and the glyph colours inside a transaction with actions disabled);
  // - animated true: the content cross-fades (`kFadeSeconds`) and the pill and content frames
  //   slide (`kSlideSeconds`, ease-out) from where they were; the glyph colours are set
  //   directly, with the layers' implicit animation.
  virtual void show(const PillLayout& layout, bool animated) = 0;
};

// Where the warning bubble goes and where its label sits in it.
struct BubbleLayout {
  Rect frame;       // in the overlay view
  Rect labelFrame;  // in the bubble
  bool operator==(const BubbleLayout&) const = default;
};

// The native side of the warning bubble (macOS: a WarningBubbleView with its wrapping label),
// made once with its text and the chrome of `pillstyle`. It is invisible to the mouse: a
// press on it goes to the overlay view beneath, exactly as beside it.
class BubbleSurface {
 public:
  virtual ~BubbleSurface() = default;
  virtual void setLayout(const BubbleLayout& layout) = 0;
};

}  // namespace orvane::selector
