// The process's one X11 session, shared by every X11 backend of a tool: the connection, the
// screen, the interned atoms, the RandR monitor layout with the one rule from root-window
// pixels to global points, and the events read from the connection. Never included by a seam
// header.
//
// Threads: requests and replies may come from any thread (XCB serialises them); the layout,
// the atoms and the event inboxes are guarded here. Only the session reads events.
//
// NOTE: the pointer history (pointer_history_x11) keeps a second connection: a connection with
// an enabled RECORD context gets no answer to anything else until the context is disabled.
#pragma once

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window_record.hpp"
#include "x11_util.hpp"

namespace orvane::x11 {

// A RandR monitor (or the whole screen without RandR), in root-window pixels.
struct Monitor {
  std::uint32_t id = 0;
  Rect pixels;
  bool primary = false;
};

// The display layout as the window server of macOS counts it: the main (primary) monitor
// first, and global points measured from its top-left, at `scale` pixels per point
// (Xft.dpi / 96).
struct Layout {
  std::vector<Monitor> monitors;
  double scale = 1;

  Point origin() const;
  Point toPoints(double xPixels, double yPixels) const;
  Rect toPoints(const Rect& pixels) const;
  Point toPixels(Point points) const;
};

// An event as read from the connection, shared by every inbox it went to.
using Event = std::shared_ptr<const xcb_generic_event_t>;

// The events read for one reader since it last took them.
class Inbox {
 public:
  using Filter = std::function<bool(const xcb_generic_event_t*)>;
  Inbox(std::function<void()> onEvents, Filter wants)
      : onEvents_(std::move(onEvents)), wants_(std::move(wants)) {}
  std::vector<Event> take();

 private:
  friend class Session;
  std::function<void()> onEvents_;  // run by the event source; may be empty
  Filter wants_;                    // the events kept; all when empty
  std::vector<Event> events_;       // guarded by the session's event lock
};

// The root's _NET_SUPPORTING_WM_CHECK, with the last window it named asked in the same trip.
struct PendingWindowManager {
  PendingProperty root;
  std::optional<PendingProperty> self;
  xcb_window_t asked = XCB_WINDOW_NONE;
  bool continued = false;
  bool runs = false;
};

class Session;

// A backend's hold on the session and on the atoms it names. A display that did not answer
// when the backend was made (a server stalled at start-up) is asked for again on later calls,
// at most once a second, and atoms a stalled server did not name are interned again once it
// answers: a tool started during a stall works once the server does.
class SessionHold {
 public:
  explicit SessionHold(const std::vector<std::string_view>& atomNames);
  // The session, or null while no display has answered.
  Session* get();
  // The atoms, in the order of the names; XCB_ATOM_NONE for one not named yet.
  const std::vector<xcb_atom_t>& atoms() const { return atoms_; }

 private:
  std::vector<std::string_view> names_;
  std::vector<xcb_atom_t> atoms_;
  Session* session_ = nullptr;
  std::uint64_t triedAtMs_ = 0;
  bool named_ = false;
};

class Session {
 public:
  // The process's session, opened at the first call; null when no display can be opened (a
  // later call tries again). Lives as long as the process.
  static Session* get();

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  xcb_connection_t* connection() const { return c_; }
  xcb_window_t root() const { return root_; }
  xcb_screen_t* screen() const { return screen_; }
  int screenNumber() const { return screenNumber_; }
  bool broken() const { return xcb_connection_has_error(c_) != 0; }
  // False while the server has not answered a request in time (x11::answering): callers that
  // poll skip their turn rather than send requests a stopped server would never read.
  bool answering() const;
  bool usable() const { return !broken() && answering(); }
  bool hasRandr() const { return hasRandr_; }  // 1.5: monitors
  bool hasRes() const { return hasRes_; }      // 1.2: client pids

  // The atom of `name`, interned at the first use and kept.
  xcb_atom_t atom(std::string_view name);
  // Those of all `names`, the ones not kept yet interned together in one round trip.
  std::vector<xcb_atom_t> atoms(const std::vector<std::string_view>& names);
  // XCB_ATOM_NONE when no client has interned the name yet; not kept until it exists.
  xcb_atom_t existingAtom(std::string_view name);

  // The layout, read afresh when older than a moment so that a burst of conversions costs one
  // round trip and a change is seen soon; read again after a RandR or resource change.
  Layout layout();
  // A layout read whose reply is taken later, so that it travels with other requests.
  struct PendingLayout {
    PendingProperty resources;
    std::optional<xcb_randr_get_monitors_cookie_t> monitors;
  };
  PendingLayout requestLayout();
  Layout takeLayout(const PendingLayout& pending);
  void invalidateLayout();

  // Whether an EWMH window manager runs: the root names a check window that names itself.
  // Asked in steps, so that the questions travel with the caller's own.
  PendingWindowManager requestWindowManager();
  // Takes the root's answer and, when it names a new window, asks that one.
  void continueWindowManager(PendingWindowManager& pending);
  bool windowManagerRuns(PendingWindowManager& pending);

  // Event mask bits on a window, added to those the process already selected there (the server
  // keeps one mask per client and window).
  void selectEvents(xcb_window_t window, std::uint32_t mask);
  // A window made with `mask` in its attributes.
  void noteEventMask(xcb_window_t window, std::uint32_t mask);

  // Events read from now on (those `wants` keeps, all without it) are kept for the returned
  // inbox until the inbox is let go. `onEvents` runs on the event source's thread when some
  // have come (watchEvents); without it the reader takes them when it likes.
  std::shared_ptr<Inbox> subscribe(std::function<void()> onEvents = {}, Inbox::Filter wants = {});
  // Reads every event XCB holds or the socket has into the inboxes (into none when nobody
  // reads); false once the connection is broken.
  bool pump();
  // Only those XCB already holds: never reads the socket.
  void pumpQueued();
  // After round trips made on a thread other than the event source's: replies read there may
  // have brought events into XCB's queue that the source's poll will not see.
  void settle();
  // Whether an inbox with a reader to call has events, and calls those readers. Used by the
  // event source.
  bool eventsWaiting();
  void deliver();
  // The event source's way to wake its loop from another thread.
  void setWaker(std::function<void()> waker);

 private:
  friend class Inbox;
  Session(xcb_connection_t* c, int screenNumber, xcb_screen_t* screen);
  void add(xcb_generic_event_t* event);

  xcb_connection_t* c_;
  int screenNumber_;
  xcb_screen_t* screen_;
  xcb_window_t root_;
  bool hasRandr_ = false;
  bool hasRes_ = false;

  std::mutex atomsLock_;
  std::map<std::string, xcb_atom_t, std::less<>> atoms_;

  std::mutex layoutLock_;
  std::optional<Layout> layout_;
  std::uint64_t layoutReadAt_ = 0;  // steady clock, ms

  std::mutex wmLock_;
  xcb_window_t lastCheckWindow_ = XCB_WINDOW_NONE;

  std::mutex masksLock_;
  std::map<xcb_window_t, std::uint32_t> masks_;

  std::mutex eventsLock_;
  std::vector<std::weak_ptr<Inbox>> inboxes_;
  std::function<void()> waker_;
};

// Root-window pixels to global points and back, by the session's current layout.
class PointMapping {
 public:
  explicit PointMapping(Session& session) : session_(session) {}
  Point toPoints(double xPixels, double yPixels) {
    return session_.layout().toPoints(xPixels, yPixels);
  }
  Rect toPoints(const Rect& pixels) { return session_.layout().toPoints(pixels); }
  Point toPixels(Point points) { return session_.layout().toPixels(points); }

 private:
  Session& session_;
};

// Reads the session's events on `context` (a GLib main context, null for the default one):
// whenever some come, each inbox reader with events waiting is called there. Once per
// process; later calls do nothing. Defined with the GLib backends.
void watchEvents(Session& session, struct _GMainContext* context);

// The class name of a WM_CLASS property (instance name, class name, each ended by a NUL), in
// UTF-8; nothing when it has none.
std::optional<std::string> wmClassName(const std::optional<Property>& wmClass);

}  // namespace orvane::x11
