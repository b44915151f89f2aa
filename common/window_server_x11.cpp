// The window server on an X11 desktop, speaking the record vocabulary of CoreGraphics.
//
// Window number: the client's top-level window (the one carrying WM_STATE under a window
// manager, the root's child without one). Bounds: the window as seen on screen, that is the
// client plus the frame the window manager draws (_NET_FRAME_EXTENTS). Coordinates: points
// with the origin at the top-left of the primary RandR monitor. All requests of a snapshot
// are sent before any reply is read, so a snapshot costs a few round trips whatever the
// number of windows.
#include <xcb/res.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "json.hpp"
#include "process_files.hpp"
#include "window_server.hpp"
#include "x11_session.hpp"
#include "x11_util.hpp"

namespace orvane {
namespace {

using x11::adopt;

// macOS window levels the layers follow.
constexpr std::int64_t kNormalLayer = 0;
constexpr std::int64_t kFloatingLayer = 3;
constexpr std::int64_t kDockLayer = 20;
constexpr std::int64_t kPopUpMenuLayer = 101;

enum Atom {
  NET_WM_NAME,
  UTF8_STRING,
  NET_WM_PID,
  NET_WM_WINDOW_TYPE,
  NET_WM_WINDOW_TYPE_DESKTOP,
  NET_WM_WINDOW_TYPE_DOCK,
  NET_WM_WINDOW_TYPE_MENU,
  NET_WM_WINDOW_TYPE_DROPDOWN_MENU,
  NET_WM_WINDOW_TYPE_POPUP_MENU,
  NET_WM_WINDOW_TYPE_TOOLTIP,
  NET_WM_WINDOW_TYPE_NOTIFICATION,
  NET_WM_WINDOW_TYPE_COMBO,
  NET_WM_WINDOW_TYPE_DND,
  NET_WM_STATE,
  NET_WM_STATE_ABOVE,
  NET_WM_STATE_HIDDEN,
  NET_WM_WINDOW_OPACITY,
  NET_FRAME_EXTENTS,
  NET_CLIENT_LIST_STACKING,
  GTK_FRAME_EXTENTS,
  WM_STATE,
  kAtomCount
};

const std::vector<std::string_view> kAtomNames = {
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_OPACITY",
    "_NET_FRAME_EXTENTS",
    "_NET_CLIENT_LIST_STACKING",
    "_GTK_FRAME_EXTENTS",
    "WM_STATE",
};

class X11WindowServer final : public WindowServer {
 public:
  X11WindowServer() { ready(); }

  std::optional<std::vector<RecordValue>> copyWindowInfo(std::uint32_t options,
                                                         std::uint32_t relativeToWindow) override {
    if (!ready()) return std::nullopt;
    // A server that is gone has no windows left; one that does not answer tells nothing.
    if (session_->broken()) return std::vector<RecordValue>{};
    if (!session_->answering()) return std::nullopt;
    const auto unanswered = x11::unanswered(session_->connection());
    auto result = snapshot(options, relativeToWindow);
    session_->settle();
    if (x11::unanswered(session_->connection()) != unanswered) return std::nullopt;
    return result;
  }

  std::uint32_t activeDisplayCount() override {
    return static_cast<std::uint32_t>(currentLayout().monitors.size());
  }

  std::vector<DisplayId> activeDisplays(std::uint32_t capacity) override {
    std::vector<DisplayId> ids;
    for (const auto& m : currentLayout().monitors) {
      if (ids.size() == capacity) break;
      ids.push_back(m.id);
    }
    return ids;
  }

  Rect displayBounds(DisplayId display) override {
    const auto layout = currentLayout();
    for (const auto& m : layout.monitors) {
      if (m.id == display) return layout.toPoints(m.pixels);
    }
    return {};
  }

  DisplayId mainDisplayId() override {
    const auto layout = currentLayout();
    return layout.monitors.empty() ? 1 : layout.monitors.front().id;
  }

  std::optional<Point> cursorLocation() override {
    if (!ready()) return std::nullopt;
    auto* c = session_->connection();
    auto pointer = x11::reply<xcb_query_pointer_reply_t>(c, xcb_query_pointer(c, session_->root()));
    if (!pointer) return std::nullopt;
    return currentLayout().toPoints(pointer->root_x, pointer->root_y);
  }

  // The window under the point as the X server stacks it (TranslateCoordinates from the root),
  // its client (itself, or the descendant carrying WM_STATE a level or two down), and that
  // client described alone: a few small round trips instead of describing every window. When
  // the answer is not plainly the snapshot's (the point in a client's invisible margin, a window
  // that is not drawn, no client), the snapshot decides.
  std::optional<WindowOwner> ownerAt(Point point) override {
    if (!ready() || !session_->usable()) return std::nullopt;
    auto client = clientAt(point);
    if (!client) return WindowServer::ownerAt(point);
    auto described = describe({*client}, kOnScreenSnapshot, nullptr);
    session_->settle();
    const auto* record = described.empty() ? nullptr : std::get_if<Dictionary>(&described[0].data);
    const RecordValue* bounds = record ? find(*record, kCGWindowBounds) : nullptr;
    auto rect = bounds ? rectFromDictionary(*bounds) : std::nullopt;
    auto pid = record ? readInt32(*record, kCGWindowOwnerPID) : std::nullopt;
    if (!rect || !containsPoint(*rect, point) || !pid) return WindowServer::ownerAt(point);
    return WindowOwner{static_cast<std::int64_t>(*client), *pid};
  }

  std::vector<ScreenInfo> screens() override {
    std::vector<ScreenInfo> list;
    if (!ready()) return list;
    const auto layout = currentLayout();
    for (const auto& m : layout.monitors) {
      ScreenInfo& info = list.emplace_back();
      info.screenNumber.emplace(static_cast<std::int64_t>(m.id));
      info.backingScaleFactor = layout.scale;
    }
    return list;
  }

 private:
  std::optional<std::vector<RecordValue>> snapshot(std::uint32_t options,
                                                   std::uint32_t relativeToWindow) {
    auto* c = session_->connection();
    // The layout is read with every snapshot, in the same round trip as its first requests.
    auto layout = session_->requestLayout();
    std::vector<xcb_window_t> clients;
    if (options & kCGWindowListOptionIncludingWindow) {
      // One window: its requests travel with the layout's in a single round trip.
      if (relativeToWindow != 0) clients.push_back(relativeToWindow);
      return describe(clients, options, &layout);
    }
    auto tree = xcb_query_tree(c, session_->root());
    auto stacking = x11::requestProperty(c, session_->root(), atoms_[NET_CLIENT_LIST_STACKING],
                                         XCB_ATOM_WINDOW, 1 << 16);
    auto manager = session_->requestWindowManager();
    layout_ = session_->takeLayout(layout);
    if (!topLevelClients(tree, stacking, manager, clients)) return std::nullopt;
    return describe(clients, options, nullptr);
  }

  // The client window of the top-level window the X server finds at the point; nothing when
  // none is found or the top-level window is not one the snapshot lists.
  std::optional<xcb_window_t> clientAt(Point point) {
    auto* c = session_->connection();
    layout_ = currentLayout();
    const Point pixels = layout_.toPixels(point);
    auto at = x11::reply<xcb_translate_coordinates_reply_t>(
        c, xcb_translate_coordinates(c, session_->root(), session_->root(),
                                     static_cast<std::int16_t>(pixels.x),
                                     static_cast<std::int16_t>(pixels.y)));
    if (!at || at->child == XCB_WINDOW_NONE) return std::nullopt;
    const xcb_window_t top = at->child;
    auto attrsCookie = xcb_get_window_attributes(c, top);
    auto stateCookie = x11::requestProperty(c, top, atoms_[WM_STATE], XCB_ATOM_ANY, 2);
    auto attrs = x11::reply<xcb_get_window_attributes_reply_t>(c, attrsCookie);
    auto state = x11::takeProperty(c, stateCookie);
    if (!attrs || attrs->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) return std::nullopt;
    if (state || attrs->override_redirect) return top;
    // A reparenting window manager's frame: its client a level or two down.
    std::vector<xcb_window_t> level{top};
    for (int depth = 0; depth < 2 && !level.empty(); ++depth) {
      std::vector<xcb_query_tree_cookie_t> trees;
      for (auto w : level) trees.push_back(xcb_query_tree(c, w));
      std::vector<xcb_window_t> next;
      for (auto cookie : trees) {
        auto sub = x11::reply<xcb_query_tree_reply_t>(c, cookie);
        if (!sub) continue;
        const auto* kids = xcb_query_tree_children(sub.get());
        next.insert(next.end(), kids, kids + xcb_query_tree_children_length(sub.get()));
      }
      std::vector<x11::PendingProperty> states;
      for (auto w : next) {
        states.push_back(x11::requestProperty(c, w, atoms_[WM_STATE], XCB_ATOM_ANY, 2));
      }
      std::optional<xcb_window_t> found;
      for (size_t k = 0; k < next.size(); ++k) {
        // Every reply is taken, so that none stays queued.
        if (x11::takeProperty(c, states[k]) && !found) found = next[k];
      }
      if (found) return found;
      level = std::move(next);
    }
    return std::nullopt;
  }

  // The layout as read with the latest snapshot, or afresh when that is older than a moment,
  // so that a display query right after a snapshot costs no round trip.
  x11::Layout currentLayout() {
    if (!ready()) return {};
    return session_->layout();
  }

  // The windows to describe, front to back. Under a window manager that keeps the EWMH
  // stacking list, its clients in that order, after the override-redirect windows (menus,
  // tooltips), which sit above them. Otherwise the root's children, each replaced by its
  // client window (the descendant carrying WM_STATE) when it has one.
  bool topLevelClients(xcb_query_tree_cookie_t treeCookie, x11::PendingProperty stackingCookie,
                       x11::PendingWindowManager& manager, std::vector<xcb_window_t>& out) {
    auto* c = session_->connection();
    auto tree = x11::reply<xcb_query_tree_reply_t>(c, treeCookie);
    auto stacking = x11::takeProperty(c, stackingCookie);
    if (!tree) {
      session_->windowManagerRuns(manager);  // its replies, so that none stays queued
      return false;
    }
    const auto* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_window_t> tops(children, children + count);
    std::reverse(tops.begin(), tops.end());  // the server lists bottom to top

    std::vector<xcb_get_window_attributes_cookie_t> attrCookies;
    attrCookies.reserve(tops.size());
    for (auto w : tops) attrCookies.push_back(xcb_get_window_attributes(c, w));
    // A window manager that has gone leaves its properties behind: its check window must
    // still name itself. That question travels with the attributes.
    session_->continueWindowManager(manager);
    std::vector<x11::Reply<xcb_get_window_attributes_reply_t>> attrs;
    attrs.reserve(tops.size());
    for (auto cookie : attrCookies) {
      attrs.push_back(x11::reply<xcb_get_window_attributes_reply_t>(c, cookie));
    }
    const bool managed = session_->windowManagerRuns(manager) && stacking.has_value();
    auto viewableInputOutput = [](const auto& a) {
      return a && a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
    };
    if (managed) {
      for (size_t i = 0; i < tops.size(); ++i) {
        if (viewableInputOutput(attrs[i]) && attrs[i]->override_redirect &&
            attrs[i]->map_state == XCB_MAP_STATE_VIEWABLE) {
          out.push_back(tops[i]);
        }
      }
      auto clients = stacking->cardinals();
      out.insert(out.end(), clients.rbegin(), clients.rend());
      return true;
    }

    struct Candidate {
      xcb_window_t top;
      xcb_window_t client = XCB_WINDOW_NONE;
      bool keep = false;
    };
    std::vector<Candidate> candidates;
    std::vector<x11::PendingProperty> stateCookies;
    for (auto w : tops) {
      stateCookies.push_back(x11::requestProperty(c, w, atoms_[WM_STATE], XCB_ATOM_ANY, 2));
    }
    for (size_t i = 0; i < tops.size(); ++i) {
      Candidate cand{tops[i]};
      auto state = x11::takeProperty(c, stateCookies[i]);
      if (viewableInputOutput(attrs[i])) {
        cand.keep = true;
        if (state || attrs[i]->override_redirect) cand.client = tops[i];
      }
      candidates.push_back(cand);
    }
    // Frames of a reparenting window manager without the stacking list: look for WM_STATE a
    // level or two down.
    std::vector<std::pair<size_t, xcb_window_t>> level;
    for (size_t i = 0; i < candidates.size(); ++i) {
      if (candidates[i].keep && candidates[i].client == XCB_WINDOW_NONE) {
        level.push_back({i, candidates[i].top});
      }
    }
    for (int depth = 0; depth < 2 && !level.empty(); ++depth) {
      std::vector<xcb_query_tree_cookie_t> trees;
      for (auto& [i, w] : level) trees.push_back(xcb_query_tree(c, w));
      std::vector<std::pair<size_t, xcb_window_t>> next;
      for (size_t k = 0; k < level.size(); ++k) {
        auto sub = x11::reply<xcb_query_tree_reply_t>(c, trees[k]);
        if (!sub) continue;
        const auto* kids = xcb_query_tree_children(sub.get());
        for (int j = 0; j < xcb_query_tree_children_length(sub.get()); ++j) {
          next.push_back({level[k].first, kids[j]});
        }
      }
      std::vector<x11::PendingProperty> states;
      for (auto& [i, w] : next) {
        states.push_back(x11::requestProperty(c, w, atoms_[WM_STATE], XCB_ATOM_ANY, 2));
      }
      std::vector<std::pair<size_t, xcb_window_t>> deeper;
      for (size_t k = 0; k < next.size(); ++k) {
        auto state = x11::takeProperty(c, states[k]);
        auto& cand = candidates[next[k].first];
        if (state && cand.client == XCB_WINDOW_NONE) cand.client = next[k].second;
        if (!state) deeper.push_back(next[k]);
      }
      level.clear();
      for (auto& entry : deeper) {
        if (candidates[entry.first].client == XCB_WINDOW_NONE) level.push_back(entry);
      }
    }
    for (const auto& cand : candidates) {
      if (!cand.keep) continue;
      // A top-level window without any client below it is a client of its own (no window
      // manager, or a window the window manager draws for itself).
      out.push_back(cand.client != XCB_WINDOW_NONE ? cand.client : cand.top);
    }
    return true;
  }

  struct Requests {
    xcb_get_window_attributes_cookie_t attrs;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t position;
    x11::PendingProperty netName, wmClass, type, state, opacity, extents, gtkExtents;
    bool askedRes = false;
    xcb_res_query_client_ids_cookie_t res{};
  };

  // `monitors`, when given, is a layout request still to be taken, once the windows'
  // requests are on their way.
  std::vector<RecordValue> describe(const std::vector<xcb_window_t>& windows, std::uint32_t options,
                                    x11::Session::PendingLayout* layout) {
    auto* c = session_->connection();
    std::vector<Requests> requests;
    requests.reserve(windows.size());
    for (auto w : windows) {
      Requests r;
      r.attrs = xcb_get_window_attributes(c, w);
      r.geometry = xcb_get_geometry(c, w);
      r.position = xcb_translate_coordinates(c, w, session_->root(), 0, 0);
      r.netName = x11::requestProperty(c, w, atoms_[NET_WM_NAME], atoms_[UTF8_STRING]);
      r.wmClass = x11::requestProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
      r.type = x11::requestProperty(c, w, atoms_[NET_WM_WINDOW_TYPE], XCB_ATOM_ATOM, 32);
      r.state = x11::requestProperty(c, w, atoms_[NET_WM_STATE], XCB_ATOM_ATOM, 32);
      r.opacity = x11::requestProperty(c, w, atoms_[NET_WM_WINDOW_OPACITY], XCB_ATOM_CARDINAL, 1);
      r.extents = x11::requestProperty(c, w, atoms_[NET_FRAME_EXTENTS], XCB_ATOM_CARDINAL, 4);
      r.gtkExtents = x11::requestProperty(c, w, atoms_[GTK_FRAME_EXTENTS], XCB_ATOM_CARDINAL, 4);
      if (session_->hasRes()) {
        xcb_res_client_id_spec_t wanted{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        r.askedRes = true;
        r.res = xcb_res_query_client_ids(c, 1, &wanted);
      }
      requests.push_back(r);
    }
    if (layout) layout_ = session_->takeLayout(*layout);
    // Most windows answer everything in the first round; the legacy title and the claimed
    // pid are asked for only of those that lack the modern title or an X server pid.
    struct Fallback {
      size_t record;
      bool name, pid;
      x11::PendingProperty nameCookie, pidCookie;
    };
    std::vector<Dictionary> records;
    std::vector<Fallback> fallbacks;
    for (size_t i = 0; i < windows.size(); ++i) {
      bool needsName = false, needsPid = false;
      auto record = take(windows[i], requests[i], options, needsName, needsPid);
      if (!record) continue;
      if (needsName || needsPid) {
        Fallback f{records.size(), needsName, needsPid, {}, {}};
        if (needsName) f.nameCookie = x11::requestProperty(c, windows[i], XCB_ATOM_WM_NAME);
        if (needsPid) {
          f.pidCookie =
              x11::requestProperty(c, windows[i], atoms_[NET_WM_PID], XCB_ATOM_CARDINAL, 1);
        }
        fallbacks.push_back(f);
      }
      records.push_back(std::move(*record));
    }
    for (auto& f : fallbacks) {
      Dictionary& record = records[f.record];
      if (f.name) {
        auto name = x11::takeProperty(c, f.nameCookie);
        if (name && name->format == 8) {
          record.emplace_back(std::string(kCGWindowName), name->type == XCB_ATOM_STRING
                                                              ? x11::latin1ToUtf8(name->bytes)
                                                              : json::sanitizeUtf8(name->bytes));
        }
      }
      if (f.pid) {
        auto claimed = x11::takeProperty(c, f.pidCookie);
        auto v = claimed ? claimed->cardinals() : std::vector<std::uint32_t>{};
        if (!v.empty() && v[0] > 0) {
          record.emplace_back(std::string(kCGWindowOwnerPID), static_cast<std::int64_t>(v[0]));
        }
      }
    }
    return {std::make_move_iterator(records.begin()), std::make_move_iterator(records.end())};
  }

  // Takes every reply of one window (all of them, so none is left queued) and builds its
  // record; nothing when the window is gone or is not to be listed.
  // `needsName` and `needsPid` tell that the window has no modern title, or no pid from the X
  // server, so that the caller can ask for the older properties.
  std::optional<Dictionary> take(xcb_window_t w, Requests& r, std::uint32_t options,
                                 bool& needsName, bool& needsPid) {
    auto* c = session_->connection();
    auto attrs = x11::reply<xcb_get_window_attributes_reply_t>(c, r.attrs);
    auto geometry = x11::reply<xcb_get_geometry_reply_t>(c, r.geometry);
    auto position = x11::reply<xcb_translate_coordinates_reply_t>(c, r.position);
    auto netName = x11::takeProperty(c, r.netName);
    auto wmClass = x11::takeProperty(c, r.wmClass);
    auto type = x11::takeProperty(c, r.type);
    auto state = x11::takeProperty(c, r.state);
    auto opacity = x11::takeProperty(c, r.opacity);
    auto extents = x11::takeProperty(c, r.extents);
    auto gtkExtents = x11::takeProperty(c, r.gtkExtents);
    std::optional<std::uint32_t> pid;  // from the X server: a local client's process
    if (r.askedRes) {
      auto ids = x11::reply<xcb_res_query_client_ids_reply_t>(c, r.res);
      if (ids) {
        for (auto it = xcb_res_query_client_ids_ids_iterator(ids.get()); it.rem;
             xcb_res_client_id_value_next(&it)) {
          // Only the local client's process was asked for, so every value is a pid.
          if (xcb_res_client_id_value_value_length(it.data) == 1) {
            pid = *xcb_res_client_id_value_value(it.data);
          }
        }
      }
    }
    if (!attrs || !geometry || !position) return std::nullopt;
    if (attrs->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) return std::nullopt;

    std::vector<std::uint32_t> types = type ? type->cardinals() : std::vector<std::uint32_t>{};
    std::vector<std::uint32_t> states = state ? state->cardinals() : std::vector<std::uint32_t>{};
    auto has = [](const std::vector<std::uint32_t>& list, xcb_atom_t atom) {
      return atom != XCB_ATOM_NONE && std::find(list.begin(), list.end(), atom) != list.end();
    };
    const bool desktop = has(types, atoms_[NET_WM_WINDOW_TYPE_DESKTOP]);
    if (desktop && (options & kCGWindowListExcludeDesktopElements)) return std::nullopt;
    const bool onScreen =
        attrs->map_state == XCB_MAP_STATE_VIEWABLE && !has(states, atoms_[NET_WM_STATE_HIDDEN]);
    if (!onScreen && (options & kCGWindowListOptionOnScreenOnly)) return std::nullopt;

    std::int64_t layer = kNormalLayer;
    if (attrs->override_redirect || has(types, atoms_[NET_WM_WINDOW_TYPE_MENU]) ||
        has(types, atoms_[NET_WM_WINDOW_TYPE_DROPDOWN_MENU]) ||
        has(types, atoms_[NET_WM_WINDOW_TYPE_POPUP_MENU]) ||
        has(types, atoms_[NET_WM_WINDOW_TYPE_TOOLTIP]) ||
        has(types, atoms_[NET_WM_WINDOW_TYPE_NOTIFICATION]) ||
        has(types, atoms_[NET_WM_WINDOW_TYPE_COMBO]) ||
        has(types, atoms_[NET_WM_WINDOW_TYPE_DND])) {
      layer = kPopUpMenuLayer;
    } else if (has(types, atoms_[NET_WM_WINDOW_TYPE_DOCK])) {
      layer = kDockLayer;
    } else if (has(states, atoms_[NET_WM_STATE_ABOVE])) {
      layer = kFloatingLayer;
    } else if (desktop) {
      layer = -2147483603;  // kCGDesktopIconWindowLevel
    }

    // The frame as the user sees it: the client, its border, and the window manager's frame.
    const double border = geometry->border_width;
    double left = border, right = border, top = border, bottom = border;
    if (extents) {
      auto e = extents->cardinals();
      if (e.size() == 4) {
        left += e[0];
        right += e[1];
        top += e[2];
        bottom += e[3];
      }
    }
    // A client that draws its own decorations keeps an invisible shadow margin inside its
    // window, which is not part of what the user sees.
    if (gtkExtents) {
      auto e = gtkExtents->cardinals();
      if (e.size() == 4) {
        left -= e[0];
        right -= e[1];
        top -= e[2];
        bottom -= e[3];
      }
    }
    const Rect bounds =
        layout_.toPoints(Rect{position->dst_x - left, position->dst_y - top,
                              geometry->width + left + right, geometry->height + top + bottom});

    double alpha = 1;
    if (opacity) {
      auto v = opacity->cardinals();
      if (!v.empty()) alpha = v[0] / 4294967295.0;
    }
    needsPid = !pid;

    Dictionary record;
    record.emplace_back(std::string(kCGWindowNumber), static_cast<std::int64_t>(w));
    record.emplace_back(std::string(kCGWindowLayer), layer);
    record.emplace_back(std::string(kCGWindowBounds), dictionaryFromRect(bounds));
    record.emplace_back(std::string(kCGWindowAlpha), alpha);
    if (pid) record.emplace_back(std::string(kCGWindowOwnerPID), static_cast<std::int64_t>(*pid));
    if (auto owner = ownerName(wmClass, pid)) {
      record.emplace_back(std::string(kCGWindowOwnerName), std::move(*owner));
    }
    if (netName && netName->format == 8 && netName->type == atoms_[UTF8_STRING]) {
      record.emplace_back(std::string(kCGWindowName), json::sanitizeUtf8(netName->bytes));
    } else {
      needsName = true;
    }
    record.emplace_back(std::string(kCGWindowIsOnscreen), onScreen);
    return record;
  }

  // The WM_CLASS class name, else the process name.
  // The process name is looked up only for a pid the X server reported for a local client:
  // _NET_WM_PID may come from another host.
  static std::optional<std::string> ownerName(const std::optional<x11::Property>& wmClass,
                                              std::optional<std::uint32_t> pid) {
    if (auto cls = x11::wmClassName(wmClass)) return cls;
    if (pid) return programName(*pid);
    return std::nullopt;
  }

  // The session, taken again while no display has answered; false while there is none.
  bool ready() {
    session_ = hold_.get();
    return session_ != nullptr;
  }

  x11::SessionHold hold_{kAtomNames};
  x11::Session* session_ = nullptr;  // null without a display
  const std::vector<xcb_atom_t>& atoms_ = hold_.atoms();
  x11::Layout layout_;  // as read with the snapshot being taken
};

}  // namespace

std::unique_ptr<WindowServer> makeWindowServerX11() { return std::make_unique<X11WindowServer>(); }

}  // namespace orvane
