// What the selector needs from a platform's application framework, in AppKit's vocabulary:
// the application object with its activation, the screens, the borderless overlay windows
// and their content views, a local key monitor, delayed calls on the main thread and
// termination.
//
// Threads: every call into a backend, and every call a backend makes into the selector
// (delegate notifications, view events, drawing, the key monitor's handler, delayed work),
// happens on the main thread, from the application's event loop.
//
// Coordinates: points. A screen's frame is in the application kit's screen space (origin at
// the bottom-left of the main screen, y up). A view's own space is not flipped: origin at the
// bottom-left of the view, which covers its whole display, y up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pill_surface.hpp"
#include "text_measure.hpp"
#include "window_server.hpp"

namespace orvane::selector {

class WindowOverlayView;

// A key-down event as NSEvent gives it.
struct KeyEvent {
  // The virtual key code of the physical key (kVK_… of a US layout): Escape 53, Return 36,
  // keypad Enter 76. A backend maps its own key symbols to these.
  std::uint16_t keyCode = 0;
  // NSEventModifierFlags of the keys held: the bits below. Other bits may be set and mean
  // nothing to the selector.
  std::uint64_t modifierFlags = 0;
  // charactersIgnoringModifiers, UTF-8: the text the key types at the current level without
  // Control, Option or Command applied (Shift still applies: Shift+W gives "W"). Nothing when
  // the key types no text.
  std::optional<std::string> charactersIgnoringModifiers;
};

inline constexpr std::uint16_t kVKEscape = 53;
inline constexpr std::uint16_t kVKReturn = 36;
inline constexpr std::uint16_t kVKKeypadEnter = 76;

inline constexpr std::uint64_t kModifierCapsLock = 1u << 16;
inline constexpr std::uint64_t kModifierShift = 1u << 17;
inline constexpr std::uint64_t kModifierControl = 1u << 18;
inline constexpr std::uint64_t kModifierOption = 1u << 19;   // Alt
inline constexpr std::uint64_t kModifierCommand = 1u << 20;  // Super

// NSTrackingArea options: the overlay view's one area (mouse-moved, active-always,
// in-visible-rect) and an action group's (mouse-entered-and-exited, active-always,
// in-visible-rect). Both with rectangle zero, owner the view, no user information.
inline constexpr std::uint32_t kOverlayTrackingOptions = 0x282;
inline constexpr std::uint32_t kPillActionTrackingOptions = 0x281;

// One screen of the application kit's screen list.
struct Screen {
  Rect frame;       // application kit screen space
  ScreenInfo info;  // its "NSScreenNumber" and backing scale factor
};

// The native side of one overlay content view (macOS: a WindowOverlayView NSView, layer-backed,
// not flipped, first responder of its window, accepting the first mouse). The backend forwards
// to the selector's view, with no position (the selector samples the pointer itself):
// - drawing: `draw(canvas)` over the whole bounds, on every display pass;
// - pointer moved over the view: `mouseMoved()`; moved with the primary button down:
//   `mouseDragged()`; primary button pressed on the view: `mouseDown()` (presses on the pill
//   and its actions are the pill's; presses on the warning bubble are the view's);
// - a key press that the key monitor passed on: `keyDown(event)`; when it answers false the
//   event goes on to the platform's default key handling.
// It keeps one tracking area (`kOverlayTrackingOptions`) over the visible view and the
// pointing-hand cursor over its bounds.
class ViewHost {
 public:
  virtual ~ViewHost() = default;

  // setNeedsDisplay: true; the view is redrawn at the next display pass.
  virtual void setNeedsDisplay() = 0;

  // The view's window: whether it has one, whether it is the key window, make it key.
  virtual bool hasWindow() = 0;
  virtual bool windowIsKey() = 0;
  virtual void makeWindowKey() = 0;

  // Adds the pill as a subview (see PillSurface); `perform` is called with an action group's
  // action when it is released inside it.
  virtual std::unique_ptr<PillSurface> addPill(std::function<void(PillAction)> perform) = 0;
  // Adds the warning bubble showing `text` as a subview, above the pill.
  virtual std::unique_ptr<BubbleSurface> addWarningBubble(const std::string& text) = 0;
};

// One OverlayWindow: borderless (style 0), buffered (2), not deferred, level 1000, clear
// background, not opaque, no shadow, not ignoring mouse events, collection behaviour 273 (all
// spaces, stationary, full-screen auxiliary), able to become key and main; its content rect
// is its screen's frame.
class OverlayWindow {
 public:
  virtual ~OverlayWindow() = default;

  virtual void setAcceptsMouseMovedEvents(bool accepts) = 0;
  // Makes a native content view with `view`'s frame, forwarding to `view` (see ViewHost), and
  // makes it the window's content view. The host lives as long as the window.
  virtual ViewHost& setContentView(WindowOverlayView& view) = 0;
  virtual void makeKeyAndOrderFront() = 0;
  virtual void orderFrontRegardless() = 0;
  virtual void makeContentViewFirstResponder() = 0;
  virtual void makeKeyWindow() = 0;
};

// NSApplicationDelegate: the two notifications the selector answers.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() = 0;
  // Whenever the application stops being the active application.
  virtual void applicationDidResignActive() = 0;
};

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

// The shared application object (NSApplication.shared); made once per process.
class Application {
 public:
  virtual ~Application() = default;

  virtual void setActivationPolicy(ActivationPolicy policy) = 0;
  virtual void activateIgnoringOtherApps(bool flag) = 0;
  virtual bool isActive() = 0;
  // keyWindow != nil: whether any window of the application is the key window.
  virtual bool hasKeyWindow() = 0;

  // NSScreen.screens, in the application kit's order (the main screen first).
  virtual std::vector<Screen> screens() = 0;
  // OverlayWindow(screen:) with the properties above; not yet shown.
  virtual std::unique_ptr<OverlayWindow> makeOverlayWindow(const Screen& screen) = 0;

  // An application-local monitor of key-down events (mask 1 << 10): `handler` sees every
  // key-down before it is dispatched; when it answers true the event is dropped (consumed),
  // otherwise it goes on to the key window's first responder. Never removed.
  virtual void addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) = 0;

  // Runs `work` on the main queue at now + `delaySeconds`.
  virtual void performAfter(double delaySeconds, std::function<void()> work) = 0;

  // terminate: the application ends and the process exits with status 0. May return before
  // the process ends (the selector ignores everything after it).
  virtual void terminate() = 0;

  virtual std::int32_t getpid() = 0;

  // The corner radius the window server gives real windows, read from a never-shown probe
  // window; nothing (or a value not above 0) when it cannot be told.
  virtual std::optional<double> probeWindowCornerRadius() = 0;

  // Label sizes in the system font, for the pill's and the bubble's layout.
  virtual TextMeasurer& textMeasurer() = 0;

  // Makes `delegate` the application's delegate and runs the event loop; returns only if the
  // loop ever stops.
  virtual void run(ApplicationDelegate& delegate) = 0;
};

// The macOS backend. Each factory makes the shared application object.
std::unique_ptr<Application> makeApplicationMacOS();
// The X11 backend. It opens the X display when it runs; without one it prints the
// cancellation at once, so that the host still gets its one line.
std::unique_ptr<Application> makeApplicationX11();

}  // namespace orvane::selector
