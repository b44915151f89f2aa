// What the tools need from the window server, in its own vocabulary.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "window_record.hpp"

namespace orvane {

using DisplayId = std::uint32_t;

// One of the application kit's screens: its "NSScreenNumber" entry (absent when the device
// description has none) and its backing scale factor.
struct ScreenInfo {
  std::optional<RecordValue> screenNumber;
  double backingScaleFactor = 1;
};

class WindowServer {
 public:
  virtual ~WindowServer() = default;

  // CGWindowListCopyWindowInfo(options, relativeToWindow): the records front to back, or
  // nothing when the call yields nothing. An entry that is not a dictionary is passed on as
  // it is, so that callers can tell "not a list of dictionaries".
  virtual std::optional<std::vector<RecordValue>> copyWindowInfo(
      std::uint32_t options, std::uint32_t relativeToWindow) = 0;

  // CGGetActiveDisplayList: asked with capacity 0 for the count, then for that many.
  virtual std::uint32_t activeDisplayCount() = 0;
  virtual std::vector<DisplayId> activeDisplays(std::uint32_t capacity) = 0;

  // CGDisplayBounds, CGMainDisplayID.
  virtual Rect displayBounds(DisplayId display) = 0;
  virtual DisplayId mainDisplayId() = 0;

  // CGEventCreate(NULL) and CGEventGetLocation; nothing when no event can be created.
  virtual std::optional<Point> cursorLocation() = 0;

  // NSScreen.screens, in order.
  virtual std::vector<ScreenInfo> screens() = 0;

  // Asks for `changed` to be called on the main thread, while the run loop runs, whenever
  // the focus, a title or a window's frame may have changed. False when this window server
  // gives no such notifications: callers then poll.
  virtual bool watchChanges(std::function<void()> changed) {
    (void)changed;
    return false;
  }

  // The front-most on-screen window at `point` (global points) and its process: the first
  // record of the on-screen snapshot whose bounds hold it. A window server that can answer
  // without describing every window does so.
  struct WindowOwner {
    std::int64_t window = 0;
    std::int32_t pid = 0;
  };
  virtual std::optional<WindowOwner> ownerAt(Point point);
};

// The active display identifiers in the window server's order (main display first).
std::vector<DisplayId> activeDisplayList(WindowServer& server);

// Keeps only a snapshot that is a list of dictionaries; anything else reads as no records.
std::optional<std::vector<WindowRecord>> recordsOf(
    const std::optional<std::vector<RecordValue>>& snapshot);

std::unique_ptr<WindowServer> makeWindowServerMacOS();
std::unique_ptr<WindowServer> makeWindowServerX11();
// sway through its IPC (common/window_server_wayland.cpp).
std::unique_ptr<WindowServer> makeWindowServerWayland();
// The backend of the platform this program was built for.
std::unique_ptr<WindowServer> makeWindowServer();

}  // namespace orvane
