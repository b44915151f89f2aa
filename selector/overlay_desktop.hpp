// The overlay desktop: what the selector's Linux application needs from a display server to
// show its overlays, one per monitor, take the keyboard, receive pointer and key events in the
// macOS vocabulary, and paint with Cairo in points. X11 (desktop_x11.cpp) and Wayland
// compositors (desktop_wayland.cpp) implement it; the application (application_linux.cpp)
// drives either. Never included by a seam header.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "window_server.hpp"

namespace orvane::selector::linux_ui {

// macOS modifier flags, as the controller reads them.
inline constexpr std::uint64_t kCapsLockFlag = 1u << 16;
inline constexpr std::uint64_t kShiftFlag = 1u << 17;
inline constexpr std::uint64_t kControlFlag = 1u << 18;
inline constexpr std::uint64_t kOptionFlag = 1u << 19;
inline constexpr std::uint64_t kCommandFlag = 1u << 20;

struct KeyPress {
  std::uint16_t keyCode = 0xFFFF;  // no macOS counterpart
  std::uint64_t modifierFlags = 0;
  std::optional<std::string> charactersIgnoringModifiers;
};

// A key press in the macOS vocabulary: the key code from the physical key (X key code, the
// evdev code plus 8, as Wayland's keymaps number keys too), the modifier flags from the X core
// state bits (Wayland's modifiers are passed in the same bits), the characters from the keysym the
// layout gives it; `text` is the keysym's character (xkbcommon, at the level the state selects),
// empty when it has none.
KeyPress translateKey(std::uint8_t keycode, std::uint32_t keysym, std::uint16_t xState,
                      const std::string& text);

// A monitor as the overlay sees it: its display number, its rectangle in root-window pixels,
// and its frame in global points.
struct Monitor {
  DisplayId id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  Rect frame;
};

class Desktop {
 public:
  // Pointer and key events. Positions are in the overlay's view coordinates: points, origin
  // at the bottom-left, y upwards.
  struct Handlers {
    std::function<void(std::size_t overlay, double x, double y)> pointerMoved;
    // Moved with the primary button held.
    std::function<void(std::size_t overlay, double x, double y)> dragged;
    std::function<void(std::size_t overlay, double x, double y)> buttonPressed;
    std::function<void(std::size_t overlay, double x, double y)> buttonReleased;
    std::function<void(std::size_t overlay)> pointerLeft;
    std::function<void(const KeyPress&)> keyPressed;
    // The keyboard or the input focus went to another client.
    std::function<void()> activationLost;
    // An overlay was shown and needs its first painting.
    std::function<void(std::size_t overlay)> exposed;
    // The connection to the display server broke.
    std::function<void()> displayLost;
  };

  virtual ~Desktop() = default;

  // The X11 desktop, not connected yet: making one costs nothing (the warm-up makes one and
  // lets it go).
  static std::unique_ptr<Desktop> make();

  // Opens the display; false when it cannot be opened. Once, before every call below.
  virtual bool connect() = 0;
  // Reads the monitors, the scale factor and whether a compositor runs; once, after
  // connecting and before every call below.
  virtual void start() = 0;

  virtual void setHandlers(Handlers handlers) = 0;
  // Pixels per point (Xft.dpi / 96).
  virtual double scale() const = 0;
  // Whether a compositing manager runs: overlays are then translucent ARGB windows;
  // otherwise they paint the screen as it was at launch under the veil.
  virtual bool composited() const = 0;
  // Primary monitor first, as the window server lists displays.
  virtual std::vector<Monitor> monitors() = 0;

  // Creates the overlay of one monitor, not yet shown; its index. Without a compositor the
  // first one takes the screenshot that the overlays paint under their veil.
  virtual std::size_t createOverlay(const Monitor& monitor) = 0;
  // Maps an overlay above every other window.
  virtual void showOverlay(std::size_t overlay) = 0;

  // Raises every overlay above all other windows.
  virtual void raiseAll() = 0;
  // Grabs the keyboard for, and focuses, one overlay; false when another client holds it.
  virtual bool takeKeyboard(std::size_t overlay) = 0;
  // Whether the selector holds the keyboard, and which overlay has it.
  virtual bool holdsKeyboard() const = 0;
  // As last reported by the server's focus events; no round trip.
  virtual std::optional<std::size_t> keyOverlay() const = 0;

  // Painting: `paint` receives a Cairo context in points, y downwards from the overlay's
  // top-left, clipped to the given rectangles (view coordinates; empty means the whole
  // overlay). `clearBackground` paints what lies under the veil: transparency when
  // composited, the launch screenshot otherwise, inside the current path.
  using Painter = std::function<void(cairo_t* cr)>;
  virtual void paint(std::size_t overlay, const std::vector<Rect>& dirty,
                     const Painter& painter) = 0;
  virtual void fillWithBackground(cairo_t* cr, std::size_t overlay) = 0;

  // Feeds events into the GLib main loop of the default context.
  virtual void attachToMainLoop() = 0;
  virtual void flush() = 0;
};

}  // namespace orvane::selector::linux_ui

namespace orvane::selector {
class Application;
// The selector's application with its overlays on `desktop`: X11's, or a Wayland compositor's
// behind the same interface.
std::unique_ptr<Application> makeApplicationOn(std::unique_ptr<linux_ui::Desktop> desktop);
}  // namespace orvane::selector
