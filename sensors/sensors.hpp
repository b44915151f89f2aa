// orvane-capture-sensors: while a recording runs, prints a JSON line when the application in
// front or its focused window's title changes ("window"), when the address shown by a browser
// in front changes ("url"), for every mouse-button press and release ("click", "clickUp"), and
// for the accessibility element under each press ("ax-element").
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility.hpp"
#include "event_tap.hpp"
#include "json.hpp"
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

// The one thread that makes the tool's accessibility calls. An application that does not
// answer, or answers with a huge tree, costs that thread its time and never the main thread,
// which keeps polling the application in front and printing click lines as they come.
class AccessibilityWorker {
 public:
  using Job = std::function<void(Accessibility&)>;
  virtual ~AccessibilityWorker() = default;
  // Runs `job` on the worker after the jobs posted before it. Callable from any thread.
  virtual void post(Job job) = 0;
};

// The worker of this platform, with the accessibility service that `make` creates on it.
// On X11 the worker runs the default GLib context, where libatspi does all its work; the
// calling thread gets a context of its own, pushed as its thread default, so it must be made
// on the main thread before the run loop and the event taps.
std::unique_ptr<AccessibilityWorker> makeAccessibilityWorker(
    std::function<std::unique_ptr<Accessibility>()> make);
// The portable worker: a thread with a queue of jobs (what macOS uses).
std::unique_ptr<AccessibilityWorker> makeThreadAccessibilityWorker(
    std::function<std::unique_ptr<Accessibility>()> make);

// Milliseconds of a clock that never jumps (for budgets, never printed).
std::int64_t steadyNowMs();

// Applications whose accessibility took longer than a search budget to answer: they are left
// alone for a while, so that one that does not answer costs the worker one timeout now and
// then, not one per tick and press. Used on the worker only.
class SlowApplications {
 public:
  static constexpr std::int64_t kRestMs = 5000;
  // Whether the application is being left alone at `nowMs`.
  bool resting(std::int32_t pid, std::int64_t nowMs);
  // Notes work on the application that began at `startedMs`: when it took longer than a
  // search budget, the application rests from `nowMs` on.
  void note(std::int32_t pid, std::int64_t startedMs, std::int64_t nowMs);

 private:
  std::map<std::int32_t, std::int64_t> restingUntil_;
};

// What the tool works with: the desktop seams, the accessibility worker, the stdout queue,
// the clocks and the settings taken from the command line. The workspace and the window
// server are used on the main thread only; the accessibility service only on the worker.
struct Context {
  Workspace& workspace;
  WindowServer& windowServer;
  AccessibilityWorker& accessibility;
  SerialWriteQueue& stdoutQueue;
  std::function<std::int64_t()> clock;  // wall clock for "atUnixMs"
  std::int32_t ignorePid = -1;
  // The browsers whose shown address is read (exact, case-sensitive identifiers).
  const std::set<std::string>& browserBundleIds;
  std::function<std::int64_t()> steadyMs = steadyNowMs;  // for the search budgets
  std::shared_ptr<SlowApplications> slowApplications = std::make_shared<SlowApplications>();
};

// --- Bounded searches of an application's tree.

// Time for the element search of one click, counted from the press, and for the address
// search of one tick. An application may answer slowly, hold a huge tree or one that loops
// back on itself; past this budget the search gives up.
inline constexpr std::int64_t kSearchBudgetMs = 300;
// Elements the address search examines at most per tick (web area and address bar together).
inline constexpr int kAddressSearchMaxVisits = 4000;

// The limits of one search: a visit count, the elements seen (a tree that loops back is
// walked once), and a deadline on the steady clock.
class SearchBudget {
 public:
  SearchBudget(int maxVisits, std::int64_t deadlineMs, std::function<std::int64_t()> steadyMs)
      : maxVisits_(maxVisits), deadlineMs_(deadlineMs), steadyMs_(std::move(steadyMs)) {}
  // No limit but the visit count, for callers without a clock.
  explicit SearchBudget(int maxVisits) : maxVisits_(maxVisits) {}

  // Whether the element may be examined: not seen before, the visit limit not reached, and
  // time left. Counts the visit.
  bool visit(const AXElement& element);
  // Whether time is left; once it is not, it never is again.
  bool timeLeft();
  bool timedOut() const { return timedOut_; }
  int visits() const { return visits_; }
  // A budget for a second search: the visits and time left, nothing seen yet.
  SearchBudget remainder() const;
  // The search also ends, as if its time were up, once `superseded` answers true (its result
  // is no longer wanted). Called with the time checks.
  void endWhen(std::function<bool()> superseded) { superseded_ = std::move(superseded); }

 private:
  int maxVisits_;
  std::optional<std::int64_t> deadlineMs_;
  std::function<std::int64_t()> steadyMs_;
  std::function<bool()> superseded_;
  int visits_ = 0;
  bool timedOut_ = false;
  AXElementSet seen_;
};

// --- Accessibility readers. Every failure, and a value of another kind, reads as nothing.

// The attribute as text: axString, shared with the other tools.
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

  // One polling step: a "window" line when the application in front or its title changed,
  // then, for a browser, a "url" line when its address changed. The application is found on
  // the calling (main) thread; where the workspace knows its window's title, the window line
  // is printed there too. Accessibility reads (a title the workspace does not know, the
  // address) are the worker's. Steps that come while the worker is still busy with an earlier
  // one are merged into one, for the latest application, and a new application in front ends
  // the worker's work for the one before: its lines would be stale.
  void tick();
  // Whether the application in front at the last step is a browser, whose address is read.
  bool browserInFront() const { return browser.load(); }

 private:
  // The worker's part of a step.
  void poll(Accessibility& ax);
  // The window line's step for the application in front, on either thread; false (and no
  // line) when another application has come to the front meanwhile.
  bool noteWindow(const RunningApplication& app, const std::optional<std::string>& title);

  [[maybe_unused]] const std::int64_t pollMs;  // the interval it was made for
  Context& context;
  // The application in front as the last step found it; the worker's reads for any other
  // are of no use.
  std::atomic<std::int32_t> frontPid{-1};
  std::atomic<bool> browser{false};
  std::mutex stateMutex;  // the lines' state, and the order of the lines printed under it
  std::optional<std::string> lastApp;
  std::optional<std::string> lastTitle;
  std::optional<std::string> lastUrl;  // never cleared
  std::int32_t lastPid = -1;           // of the application of the last window step
  std::mutex pendingMutex;
  std::optional<RunningApplication> pending;  // the application of the step not yet taken
};

// --- Browser address.

// The address shown in the focused window of that browser: the web area's "AXURL" first, then
// the first address-like text field ("https://" added when it has no scheme, "file://" when it
// is a bare path). Every browser but Safari is switched on with the two switch-on attributes
// on every call.
// Both searches share `budget`; when it runs out the answer is none.
std::optional<std::string> browserUrl(Accessibility& ax, std::int32_t pid,
                                      std::string_view bundleId, SearchBudget& budget);
std::optional<std::string> browserUrl(Accessibility& ax, std::int32_t pid,
                                      std::string_view bundleId);  // visit limit only
// Depth-first, pre-order, depths 0 to 12; a web area's own descendants are not searched.
std::optional<AXElement> findWebArea(Accessibility& ax, const AXElement& element, int depth,
                                     SearchBudget& budget);
std::optional<AXElement> findWebArea(Accessibility& ax, const AXElement& element, int depth);
// The value of the first text field (depths 0 to 12) whose value looks like an address.
std::optional<std::string> findAddressBar(Accessibility& ax, const AXElement& element, int depth,
                                          SearchBudget& budget);
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
// With a budget, an element seen before is not entered again, and once time runs out the
// search stops (the caller then knows it from the budget).
std::optional<AXElement> labeledDescendantUnderPoint(Accessibility& ax, const AXElement& root,
                                                     Point point, SearchBudget& budget);
std::optional<AXElement> labeledDescendantUnderPoint(Accessibility& ax, const AXElement& root,
                                                     Point point);

class ClickInspector {
 public:
  // With a run loop, a release's line held for its press's element line comes out when the
  // lookup's budget ends, whatever the worker is doing; without one, when the worker gets to
  // the lookup.
  ClickInspector(Context& context, EventTaps& taps, Output& errors, RunLoop* runLoop = nullptr);

  // Creates, installs and enables the tap; when it cannot be created, writes the one message
  // to standard error. It is tried again (retryClickTap) only where the backend says a later
  // try may succeed (an X server that stalled at start-up), silently.
  void startClickTap();
  // On every timer tick: the tap again, at most once a second, while it may still come.
  void retryClickTap();

  // The tap's callback: a "click" or "clickUp" line per button event, built from the event;
  // after a press, the element lookup handed to the worker; and the tap enabled again when
  // the system switched it off. The lines of one press come in the order "click",
  // "ax-element", "clickUp": a press's line is printed at once, a release's line waits until
  // its press's element line is out or that lookup's budget has ended (then the element line
  // never comes). A new press ends the lookup of the one before.
  void clickTapCallback(std::uint32_t type, const TapEvent& event);

  // On the worker: switches the application in front on and finds the element under the
  // point; its "ax-element" line (with the application's name) when it has a role or a label
  // and was found before `deadlineMs` on the steady clock.
  std::optional<json::Object> axElementLineAt(Accessibility& ax, Point point,
                                              const std::optional<RunningApplication>& front,
                                              std::int64_t deadlineMs);

  struct Press;  // the lines of one press still to come

 private:
  std::optional<json::Object> lookUp(Accessibility& ax, Point point,
                                     const std::optional<std::string>& app,
                                     const std::optional<RunningApplication>& front,
                                     SearchBudget& budget);

  Context& context;
  EventTaps& taps;
  Output& errors;
  RunLoop* runLoop;
  bool createClickTap();

  std::unique_ptr<EventTap> clickEventTap;
  bool clickTapMissing = false;
  std::int64_t clickTapTriedAtMs = 0;
  std::shared_ptr<Press> lastPress;  // main thread only
};

// Everything after the argument scan: signals, poller, timer, first tick, click tap, run loop.
// Returns the exit status should the run loop ever return.
int run(const Arguments& arguments, Context& context, EventTaps& taps, RunLoop& runLoop,
        Output& errors);

}  // namespace orvane::sensors
