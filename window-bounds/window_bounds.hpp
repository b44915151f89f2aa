// orvane-window-bounds: follows one window and prints a JSON line whenever its status, frame,
// display or scale factor changes.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "activation.hpp"
#include "output.hpp"
#include "run_loop.hpp"
#include "window_server.hpp"

namespace orvane::windowbounds {

inline constexpr const char* kMissingWindowId = "Missing --window-id\n";
inline constexpr std::int64_t kMinPollMs = 16;
inline constexpr std::int64_t kMaxPollMs = 1000;
// Consecutive misses after which the window counts as closed.
inline constexpr std::int64_t kMissesUntilClosed = 3;

struct Arguments {
  std::uint32_t windowId = 0;  // 0: none given
  std::int64_t pollMs = 50;
};

// Scans the arguments after the program name. Unknown arguments are skipped.
Arguments parseArguments(const std::vector<std::string>& arguments);

struct DisplayMatch {
  DisplayId id = 0;
  double scale = 1;
};

// The window server's record of the window, on screen or not; nothing when it is gone.
std::optional<WindowRecord> windowInfo(WindowServer& server, std::uint32_t windowId);

// The display showing most of `bounds` (ties to the earlier one in the display list) and the
// backing scale factor of its screen, 1 when no screen matches.
std::optional<DisplayMatch> displayForWindow(WindowServer& server, const Rect& bounds);

// Equal exactly when status, bounds and display are all equal.
std::string signature(std::string_view status, const std::optional<Rect>& bounds,
                      const std::optional<DisplayMatch>& display);

class WindowBoundsPoller {
 public:
  WindowBoundsPoller(std::uint32_t windowId, WindowServer& server, Output& output,
                     std::function<std::int64_t()> clock);

  // One poll of the window; main thread.
  void tick();

  // The owner's pid as last seen, 0 before the window was first found. Any thread.
  std::int32_t lastOwnerPid() const;

  // Whether the window is missing from the list but not yet counted as closed; main thread.
  bool missing() const { return missingCount > 0 && missingCount < kMissesUntilClosed; }

 private:
  void emitIfChanged(std::string_view status, const std::optional<Rect>& bounds,
                     const std::optional<DisplayMatch>& display);

  const std::uint32_t windowId;
  std::string lastSignature;
  std::int64_t missingCount = 0;
  mutable std::mutex ownerPidLock;
  std::int32_t ownerPid = 0;

  WindowServer& server;
  Output& output;
  std::function<std::int64_t()> clock;
};

// The input reader's handling of one line, on its own thread: "activate" looks up the owner
// and hands its activation to the main thread.
void handleInputLine(const std::string& line, const WindowBoundsPoller& poller,
                     Activation& activation, RunLoop& runLoop);

// Everything after the argument check: signals, poller, reader, timer, first tick, run loop.
// Returns the exit status should the run loop ever return.
int run(const Arguments& arguments, WindowServer& server, Activation& activation, RunLoop& runLoop,
        Output& output, std::function<std::int64_t()> clock);

}  // namespace orvane::windowbounds
