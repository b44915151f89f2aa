// orvane-capture-sensors: while a recording runs, prints a JSON line when the application in
// front or its focused window's title changes ("window"), when the address shown by a browser
// in front changes ("url"), for every mouse-button press and release ("click", "clickUp"), and
// for the accessibility element under each press ("ax-element").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility.hpp"
#include "event_tap.hpp"
#include "line_writer.hpp"
#include "output.hpp"
#include "run_loop.hpp"
#include "window_server.hpp"
#include "workspace.hpp"

namespace orvane::sensors {

inline constexpr std::int64_t kDefaultPollMs = 1000;

struct Arguments {
  std::int64_t pollMs = kDefaultPollMs;
  std::int32_t ignorePid = -1;  // -1 excludes nothing
};

// Scans the arguments after the program name. A "--poll-ms" value that is not a number keeps
// the interval it had; an "--ignore-pid" value that is not a number resets it to -1. Anything
// else, and an option without a value after it, is skipped alone.
Arguments parseArguments(const std::vector<std::string>& arguments);

// The timer period for an interval in milliseconds. A zero or negative interval has no period
// a timer could keep without spinning, so it ticks at the default interval instead.
double timerIntervalSeconds(std::int64_t pollMs);

// What the tool works with: the desktop seams, the stdout queue, the clock and the settings
// taken from the command line. Everything is used on the main thread only.
struct Context {
  Workspace& workspace;
  WindowServer& windowServer;
  Accessibility& accessibility;
  SerialWriteQueue& stdoutQueue;
  std::function<std::int64_t()> clock;
  std::int32_t ignorePid = -1;
  // The browsers whose shown address is read (exact, case-sensitive identifiers).
  const std::set<std::string>& browserBundleIds;
};

// --- Accessibility readers. Every failure, and a value of another kind, reads as nothing.

// The attribute as text, unchanged (not trimmed; it may be empty).
std::optional<std::string> axString(Accessibility& ax, const AXElement& element,
                                    std::string_view attribute);
// The attribute as an element.
std::optional<AXElement> axElement(Accessibility& ax, const AXElement& element,
                                   std::string_view attribute);
// The attribute as an address: a URL's absolute text, or text unchanged.
std::optional<std::string> axURLString(Accessibility& ax, const AXElement& element,
                                       std::string_view attribute);
// "AXChildren" in the application's order; empty when they cannot be read.
std::vector<AXElement> axChildren(Accessibility& ax, const AXElement& element);

// --- Polling.

// The application whose window the user works in: the frontmost application unless it is
// the ignored process; otherwise the owner of the front-most window on layer 0 whose
// application is regular and not the ignored one.
std::optional<RunningApplication> frontmostContentApp(Workspace& workspace,
                                                      WindowServer& windowServer,
                                                      std::int32_t ignorePid);

// The title of the application's focused window; nothing when it cannot be read.
std::optional<std::string> focusedWindowTitle(Accessibility& ax, std::int32_t pid);

class SensorPoller {
 public:
  SensorPoller(std::int64_t pollMs, Context& context);

  // One polling step: a "window" line when the application or its title changed, then, for a
  // browser, a "url" line when its address changed.
  void tick();

 private:
  std::optional<std::string> lastApp;
  std::optional<std::string> lastTitle;
  std::optional<std::string> lastUrl;          // never cleared
  [[maybe_unused]] const std::int64_t pollMs;  // the interval it was made for
  Context& context;
};

// --- Browser address.

// The address shown in the focused window of that browser: the web area's "AXURL" first, then
// the first address-like text field ("https://" added when it has no scheme, "file://" when it
// is a bare path). Every browser but Safari is switched on with the two switch-on attributes
// on every call.
std::optional<std::string> browserUrl(Accessibility& ax, std::int32_t pid,
                                      std::string_view bundleId);
// Depth-first, pre-order, depths 0 to 12; a web area's own descendants are not searched.
std::optional<AXElement> findWebArea(Accessibility& ax, const AXElement& element, int depth);
// The value of the first text field (depths 0 to 12) whose value looks like an address.
std::optional<std::string> findAddressBar(Accessibility& ax, const AXElement& element, int depth);
// No space, not empty, and either an http(s) scheme or a full stop.
bool looksLikeUrl(std::string_view text);

// --- Click inspector.

inline constexpr std::uint64_t kClickEventMask =
    eventMaskBit(kCGEventLeftMouseDown) | eventMaskBit(kCGEventLeftMouseUp) |
    eventMaskBit(kCGEventRightMouseDown) | eventMaskBit(kCGEventRightMouseUp) |
    eventMaskBit(kCGEventOtherMouseDown) | eventMaskBit(kCGEventOtherMouseUp);
static_assert(kClickEventMask == 0x0600001E);

inline constexpr const char* kClickTapUnavailable =
    "[orvane/capture-sensors] click tap unavailable\n";

inline constexpr int kLabelSearchMaxDepth = 40;
inline constexpr int kLabelSearchMaxVisits = 4000;   // one more is examined: see walk()
inline constexpr std::size_t kMaxLabelLength = 200;  // grapheme clusters

// The element's first readable label of "AXTitle", "AXDescription", "AXValue", "AXHelp",
// trimmed of white space and line breaks and cut to 200 user-perceived characters; empty
// when it has none.
std::string axLabel(Accessibility& ax, const AXElement& element);

// The element's frame in global display points: "AXFrame", else "AXPosition" with "AXSize".
std::optional<Rect> axRect(Accessibility& ax, const AXElement& element);

// The last labelled element, in depth-first pre-order, among `root` and the descendants
// reachable through children whose frames contain the point (depth 40, at most 4001 visits).
std::optional<AXElement> labeledDescendantUnderPoint(Accessibility& ax, const AXElement& root,
                                                     Point point);

class ClickInspector {
 public:
  ClickInspector(Context& context, EventTaps& taps, Output& errors);

  // Creates, installs and enables the tap; when it cannot be created, writes the one message
  // to standard error and never tries again.
  void startClickTap();

  // The tap's callback: a "click" or "clickUp" line per button event, an "ax-element" line
  // after a press, and the tap enabled again when the system switched it off.
  void clickTapCallback(std::uint32_t type, const TapEvent& event);

  // Switches the application in front on, finds the element under the point and emits its
  // "ax-element" line (with the application's name) when it has a role or a label.
  void emitAxElementAt(Point point, const std::optional<RunningApplication>& front);

 private:
  Context& context;
  EventTaps& taps;
  Output& errors;
  std::unique_ptr<EventTap> clickEventTap;
};

// Everything after the argument scan: signals, poller, timer, first tick, click tap, run loop.
// Returns the exit status should the run loop ever return.
int run(const Arguments& arguments, Context& context, EventTaps& taps, RunLoop& runLoop,
        Output& errors);

}  // namespace orvane::sensors
