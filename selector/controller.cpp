#include "controller.hpp"

#include <cmath>

#include "overlay_view.hpp"
#include "results.hpp"
#include "text.hpp"

namespace orvane::selector {

bool isEscape(const KeyEvent& event) { return event.keyCode == kVKEscape; }
bool isReturn(const KeyEvent& event) {
  return event.keyCode == kVKReturn || event.keyCode == kVKKeypadEnter;
}

CaptureSelectorController::CaptureSelectorController(SelectorConfig config,
                                                     Application& application, WindowServer& server,
                                                     Output& output)
    : config_(std::move(config)),
      application_(application),
      server_(server),
      output_(output),
      self_(std::make_shared<CaptureSelectorController*>(this)) {
  activeDisplayId_ = server_.mainDisplayId();
  excludedPids_ = config_.excludedPids;
  excludedPids_.insert(application_.getpid());
  selectionMode_ = config_.initialMode;
}

// Each overlay's view (with its pill and bubble) goes before its window; delayed work and the
// key monitor see the controller gone first.
CaptureSelectorController::~CaptureSelectorController() = default;

void CaptureSelectorController::applicationDidFinishLaunching() {
  application_.setActivationPolicy(ActivationPolicy::accessory);
  application_.activateIgnoringOtherApps(true);
  resolveSystemWindowCornerRadius(application_);
  createOverlayWindows();
  installKeyMonitor();
  for (double delay : kLaunchReassertDelays) reassertActivation(delay);
  updateSelectionState(false);
}

void CaptureSelectorController::applicationDidResignActive() {
  if (isClosing_) return;
  for (double delay : kResignReassertDelays) reassertActivation(delay);
}

void CaptureSelectorController::createOverlayWindows() {
  std::vector<Overlay> overlays;
  for (const Screen& screen : application_.screens()) {
    Overlay overlay;
    overlay.window = application_.makeOverlayWindow(screen);
    overlay.window->setAcceptsMouseMovedEvents(true);
    const Rect frame{0, 0, screen.frame.width, screen.frame.height};
    overlay.view = std::make_unique<WindowOverlayView>(frame, *this, screen);
    overlay.view->attach(overlay.window->setContentView(*overlay.view));
    overlay.window->makeKeyAndOrderFront();
    overlay.window->orderFrontRegardless();
    overlay.window->makeContentViewFirstResponder();
    overlays.push_back(std::move(overlay));
  }
  windows_ = std::move(overlays);
  if (!windows_.empty()) windows_.front().window->makeKeyWindow();
}

void CaptureSelectorController::installKeyMonitor() {
  std::weak_ptr<CaptureSelectorController*> weak = self_;
  application_.addLocalKeyDownMonitor([weak](const KeyEvent& event) {
    auto self = weak.lock();
    if (!self) return false;
    return (*self)->handleKeyDown(event);
  });
  keyMonitor_ = true;
}

void CaptureSelectorController::reassertActivation(double after) {
  std::weak_ptr<CaptureSelectorController*> weak = self_;
  application_.performAfter(after, [weak] {
    auto self = weak.lock();
    if (!self) return;
    CaptureSelectorController& controller = **self;
    if (!controller.application_.isActive())
      controller.application_.activateIgnoringOtherApps(true);
    if (!controller.application_.hasKeyWindow() && !controller.windows_.empty()) {
      controller.windows_.front().window->makeKeyAndOrderFront();
    }
  });
}

void CaptureSelectorController::updateSelectionState(bool forceRepaint) {
  if (isClosing_) return;
  const DisplayId display = displayUnderCursor(server_);
  std::optional<WindowCandidate> candidate;
  if (selectionMode_ == SelectionMode::window) {
    candidate = windowUnderCursor(server_, excludedPids_, config_.excludedOwnerNames);
  }
  const bool changed = forceRepaint || display != activeDisplayId_ || candidate != hoveredWindow_;
  activeDisplayId_ = display;
  hoveredWindow_ = std::move(candidate);
  for (auto& overlay : windows_) {
    WindowOverlayView& view = *overlay.view;
    if (changed && view.host()) view.host()->setNeedsDisplay();
    view.instructionPill().update(selectionMode_, hoveredWindow_, config_.micLabel, view.bounds(),
                                  changed);
  }
}

bool CaptureSelectorController::handleKeyDown(const KeyEvent& event) {
  if (isEscape(event)) {
    cancel();
    return true;
  }
  if (isReturn(event)) {
    acceptCurrent();
    return true;
  }
  if (event.modifierFlags & kCommandModifiers) return false;
  if (!event.charactersIgnoringModifiers) return false;
  const std::string characters = lowercased(*event.charactersIgnoringModifiers);
  if (characters == "w") {
    setMode(SelectionMode::window);
    return true;
  }
  if (characters == "f") {
    setMode(SelectionMode::screen);
    return true;
  }
  return false;
}

void CaptureSelectorController::setMode(SelectionMode mode) {
  if (mode == selectionMode_ || isClosing_) return;
  selectionMode_ = mode;
  updateSelectionState(true);
}

void CaptureSelectorController::acceptCurrent() {
  if (selectionMode_ == SelectionMode::screen) {
    acceptScreen(activeDisplayId_);
  } else {
    acceptWindow(hoveredWindow_);
  }
}

void CaptureSelectorController::acceptScreen(DisplayId displayId) {
  ScreenSelectionOutput result;
  result.displayId = displayId;
  close(result);
}

void CaptureSelectorController::acceptWindow(const std::optional<WindowCandidate>& candidate) {
  if (!candidate) return;
  const Rect& r = candidate->bounds;
  WindowSelectionOutput result;
  result.windowId = candidate->windowId;
  result.ownerPid = candidate->ownerPid;
  result.ownerName = candidate->ownerName;
  result.title = candidate->title;
  result.displayId = candidate->displayId;
  // The rectangle's minimum corner and absolute size, whichever way round it was given.
  result.bounds = {std::min(r.x, r.x + r.width), std::min(r.y, r.y + r.height), std::abs(r.width),
                   std::abs(r.height)};
  close(result);
}

void CaptureSelectorController::cancel() { close(CancelledOutput{}); }

template <typename Record>
void CaptureSelectorController::close(const Record& result) {
  if (isClosing_) return;
  isClosing_ = true;
  writeJson(output_, result);
  application_.terminate();
}

}  // namespace orvane::selector
