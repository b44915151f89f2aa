#include "overlay_view.hpp"

#include <algorithm>
#include <cmath>

#include "controller.hpp"
#include "selector.hpp"

namespace orvane::selector {
namespace {

// CGRectIntersection; nothing for the null rectangle (no overlap at all). Touching rectangles
// give an empty, not a null, intersection.
std::optional<Rect> intersection(const Rect& a0, const Rect& b0) {
  const Rect a = standardized(a0), b = standardized(b0);
  const double left = std::max(a.x, b.x), right = std::min(a.x + a.width, b.x + b.width);
  const double top = std::max(a.y, b.y), bottom = std::min(a.y + a.height, b.y + b.height);
  if (!(left <= right) || !(top <= bottom)) return std::nullopt;
  return Rect{left, top, right - left, bottom - top};
}

Rect inset(const Rect& r, double d) {
  return {r.x + d, r.y + d, r.width - 2 * d, r.height - 2 * d};
}

CompositingOperation currentOperation(Canvas& canvas) {
  return canvas.compositingOperation().value_or(CompositingOperation::sourceOver);
}

}  // namespace

double selectionRadius(const Rect& rect) {
  return std::min(0.25 * std::min(rect.width, rect.height), resolvedWindowCornerRadius);
}

std::optional<Rect> localWindowRect(const Rect& window, const Rect& displayBounds,
                                    const Rect& viewBounds) {
  const auto u = intersection(window, displayBounds);
  if (!u || u->width == 0 || u->height == 0) return std::nullopt;
  if (!(displayBounds.width > 0) || !(displayBounds.height > 0)) return std::nullopt;
  const Rect d = displayBounds;
  const double sx = viewBounds.width / d.width;
  const double sy = viewBounds.height / d.height;
  return Rect{sx * (u->x - d.x), viewBounds.height - sy * (u->y - d.y) - sy * u->height,
              sx * u->width, sy * u->height};
}

void drawDimmedBackdrop(Canvas& canvas, const Rect& rect) {
  canvas.setFillColor(Color::black().withAlpha(0.28));
  canvas.fillRect(rect, currentOperation(canvas));
}

void clear(Canvas& canvas, const Rect& rect) {
  canvas.saveGraphicsState();
  if (canvas.compositingOperation()) canvas.setCompositingOperation(CompositingOperation::clear);
  canvas.fillRoundedRect(rect, selectionRadius(rect));
  canvas.restoreGraphicsState();
}

void drawSelection(Canvas& canvas, const Rect& rect) {
  const double r = selectionRadius(rect);
  canvas.setFillColor(orvaneBrandBlue.withAlpha(0.1));
  canvas.fillRoundedRect(rect, r);
  canvas.setStrokeColor(orvaneBrandBlue);
  canvas.strokeRoundedRect(inset(rect, -1), r + 1, 2);
}

void resolveSystemWindowCornerRadius(Application& application) {
  if (auto radius = application.probeWindowCornerRadius(); radius && *radius > 0) {
    resolvedWindowCornerRadius = *radius;
  }
}

WindowOverlayView::WindowOverlayView(const Rect& frame, CaptureSelectorController& controller,
                                     const Screen& screen)
    : controller_(controller), frame_(frame), instructionPill_(controller) {
  displayId_ = screenDisplayId(controller.windowServer(), screen.info);
  displayBounds_ = controller.windowServer().displayBounds(displayId_);
  // A warning of blanks is still a warning.
  if (!controller.config().warning.empty()) warningBubble_.emplace(controller.config().warning);
}

void WindowOverlayView::attach(ViewHost& host) {
  host_ = &host;
  CaptureSelectorController& controller = controller_;
  instructionPill_.attach(
      host.addPill([&controller](PillAction action) { performPillAction(controller, action); }));
  if (warningBubble_) {
    warningBubble_->attach(host.addWarningBubble(warningBubble_->text()));
    warningBubble_->layoutIn(bounds(), controller_.application().textMeasurer());
  }
}

void WindowOverlayView::draw(Canvas& canvas) {
  const Rect all = bounds();
  if (controller_.selectionMode() == SelectionMode::window) {
    drawDimmedBackdrop(canvas, all);
    if (const auto& hovered = controller_.hoveredWindow()) {
      if (auto r = localWindowRect(hovered->bounds, displayBounds_, all)) {
        clear(canvas, *r);
        drawSelection(canvas, *r);
      }
    }
    return;
  }
  if (displayId_ == controller_.activeDisplayId()) {
    canvas.setFillColor(orvaneBrandBlue.withAlpha(0.08));
    canvas.fillRect(all, currentOperation(canvas));
    canvas.setStrokeColor(orvaneBrandBlue);
    canvas.strokeRoundedRect(inset(all, 2.5), 10, 3);
  } else {
    drawDimmedBackdrop(canvas, all);
  }
}

void WindowOverlayView::mouseMoved() {
  if (host_ && host_->hasWindow() && !host_->windowIsKey()) host_->makeWindowKey();
  controller_.updateSelectionState(false);
}

void WindowOverlayView::mouseDragged() { controller_.updateSelectionState(false); }

void WindowOverlayView::mouseDown() {
  if (host_ && host_->hasWindow()) host_->makeWindowKey();
  controller_.updateSelectionState(false);
  controller_.acceptCurrent();
}

bool WindowOverlayView::keyDown(const KeyEvent& event) { return controller_.handleKeyDown(event); }

}  // namespace orvane::selector
