#include "x11_session.hpp"

#include <xcb/res.h>

#include <algorithm>
#include <chrono>

#include "json.hpp"

namespace orvane::x11 {
namespace {

// A layout read this recently is served again.
constexpr std::uint64_t kLayoutLifetimeMs = 250;

std::uint64_t nowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::mutex openLock;
Session* opened = nullptr;
std::shared_ptr<PendingConnection> connecting;  // an attempt not taken yet

}  // namespace

Point Layout::origin() const {
  if (monitors.empty()) return {};
  return {monitors.front().pixels.x, monitors.front().pixels.y};
}

Point Layout::toPoints(double xPixels, double yPixels) const {
  const Point o = origin();
  return {(xPixels - o.x) / scale, (yPixels - o.y) / scale};
}

Rect Layout::toPoints(const Rect& pixels) const {
  const Point o = origin();
  return {(pixels.x - o.x) / scale, (pixels.y - o.y) / scale, pixels.width / scale,
          pixels.height / scale};
}

Point Layout::toPixels(Point points) const {
  const Point o = origin();
  return {points.x * scale + o.x, points.y * scale + o.y};
}

std::vector<Event> Inbox::take() {
  // The session's event lock guards the list; inboxes are only made by a session.
  Session* session = Session::get();
  if (!session) return {};
  session->pumpQueued();
  std::vector<Event> out;
  std::lock_guard lock(session->eventsLock_);
  out.swap(events_);
  return out;
}

Session* Session::get() {
  std::lock_guard lock(openLock);
  if (opened) return opened;
  // Only the first caller of an attempt waits for it: a server that accepts connections but
  // does not answer costs one deadline, and later callers see whether it has come since.
  bool first = false;
  if (!connecting) {
    connecting = PendingConnection::start();
    first = true;
  }
  PendingConnection::Made made;
  const auto state =
      connecting->wait(first ? kConnectDeadline : std::chrono::milliseconds(0), made);
  if (state == PendingConnection::State::Waiting) return nullptr;
  connecting.reset();
  if (state == PendingConnection::State::Failed) return nullptr;
  xcb_connection_t* c = made.c;
  auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
  if (made.screen < 0 || made.screen >= it.rem) {
    xcb_disconnect(c);
    return nullptr;
  }
  for (int i = 0; i < made.screen; ++i) xcb_screen_next(&it);
  // Never closed: the backends of a process use it until the process ends.
  opened = new Session(c, made.screen, it.data);
  return opened;
}

SessionHold::SessionHold(const std::vector<std::string_view>& atomNames)
    : names_(atomNames), atoms_(atomNames.size(), XCB_ATOM_NONE) {
  session_ = Session::get();
  triedAtMs_ = nowMs();
  get();
}

Session* SessionHold::get() {
  constexpr std::uint64_t kRetryMs = 1000;
  if (!session_ && nowMs() - triedAtMs_ >= kRetryMs) {
    session_ = Session::get();
    triedAtMs_ = nowMs();
  }
  if (session_ && !named_ && session_->usable()) {
    atoms_ = session_->atoms(names_);
    named_ = std::find(atoms_.begin(), atoms_.end(), XCB_ATOM_NONE) == atoms_.end();
  }
  return session_;
}

Session::Session(xcb_connection_t* c, int screenNumber, xcb_screen_t* screen)
    : c_(c), screenNumber_(screenNumber), screen_(screen), root_(screen->root) {
  // Extension look-ups and version checks travel together: two round trips.
  xcb_prefetch_extension_data(c, &xcb_randr_id);
  xcb_prefetch_extension_data(c, &xcb_res_id);
  const auto* randr = extension(c, &xcb_randr_id);
  const auto* res = extension(c, &xcb_res_id);
  hasRandr_ = randr != nullptr;
  hasRes_ = res != nullptr;
  xcb_randr_query_version_cookie_t randrVersion{};
  xcb_res_query_version_cookie_t resVersion{};
  if (hasRandr_) randrVersion = xcb_randr_query_version(c, 1, 5);
  if (hasRes_) resVersion = xcb_res_query_version(c, 1, 2);
  if (hasRandr_) {
    auto version = reply<xcb_randr_query_version_reply_t>(c, randrVersion);
    hasRandr_ = version && (version->major_version > 1 || version->minor_version >= 5);
  }
  if (hasRes_) {
    auto version = reply<xcb_res_query_version_reply_t>(c, resVersion);
    hasRes_ = version && (version->server_major > 1 || version->server_minor >= 2);
  }
}

bool Session::answering() const { return x11::answering(c_); }

xcb_atom_t Session::atom(std::string_view name) {
  {
    std::lock_guard lock(atomsLock_);
    if (auto it = atoms_.find(name); it != atoms_.end()) return it->second;
  }
  auto reply = x11::reply<xcb_intern_atom_reply_t>(
      c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.data()));
  if (!reply) return XCB_ATOM_NONE;
  std::lock_guard lock(atomsLock_);
  atoms_.emplace(std::string(name), reply->atom);
  return reply->atom;
}

std::vector<xcb_atom_t> Session::atoms(const std::vector<std::string_view>& names) {
  std::vector<xcb_atom_t> out(names.size(), XCB_ATOM_NONE);
  std::vector<std::pair<std::size_t, xcb_intern_atom_cookie_t>> asked;
  {
    std::lock_guard lock(atomsLock_);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (auto it = atoms_.find(names[i]); it != atoms_.end()) {
        out[i] = it->second;
      } else {
        asked.emplace_back(i, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(names[i].size()),
                                              names[i].data()));
      }
    }
  }
  for (auto [i, cookie] : asked) {
    auto reply = x11::reply<xcb_intern_atom_reply_t>(c_, cookie);
    if (!reply) continue;
    out[i] = reply->atom;
    std::lock_guard lock(atomsLock_);
    atoms_.emplace(std::string(names[i]), reply->atom);
  }
  return out;
}

xcb_atom_t Session::existingAtom(std::string_view name) {
  {
    std::lock_guard lock(atomsLock_);
    if (auto it = atoms_.find(name); it != atoms_.end()) return it->second;
  }
  auto reply = x11::reply<xcb_intern_atom_reply_t>(
      c_, xcb_intern_atom(c_, 1, static_cast<std::uint16_t>(name.size()), name.data()));
  if (!reply || reply->atom == XCB_ATOM_NONE) return XCB_ATOM_NONE;
  std::lock_guard lock(atomsLock_);
  atoms_.emplace(std::string(name), reply->atom);
  return reply->atom;
}

Session::PendingLayout Session::requestLayout() {
  PendingLayout p;
  p.resources = requestProperty(c_, root_, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 1 << 16);
  if (hasRandr_) p.monitors = xcb_randr_get_monitors(c_, root_, 1);
  return p;
}

// Main (primary) monitor first, the others in the server's order. Without RandR the screen is
// one display.
Layout Session::takeLayout(const PendingLayout& pending) {
  Layout layout;
  if (auto resources = takeProperty(c_, pending.resources)) {
    if (auto dpi = xftDpi(resources->bytes)) layout.scale = *dpi / 96.0;
  }
  if (pending.monitors) {
    if (auto reply = x11::reply<xcb_randr_get_monitors_reply_t>(c_, *pending.monitors)) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
           xcb_randr_monitor_info_next(&it)) {
        const auto* info = it.data;
        Monitor m{info->name,
                  Rect{double(info->x), double(info->y), double(info->width), double(info->height)},
                  info->primary != 0};
        if (m.primary) {
          layout.monitors.insert(layout.monitors.begin(), m);
        } else {
          layout.monitors.push_back(m);
        }
      }
    }
  }
  if (layout.monitors.empty()) {
    layout.monitors.push_back(
        {1, Rect{0, 0, double(screen_->width_in_pixels), double(screen_->height_in_pixels)}, true});
  }
  std::lock_guard lock(layoutLock_);
  layout_ = layout;
  layoutReadAt_ = nowMs();
  return layout;
}

Layout Session::layout() {
  {
    std::lock_guard lock(layoutLock_);
    if (layout_ && nowMs() - layoutReadAt_ <= kLayoutLifetimeMs) return *layout_;
  }
  Layout fresh = takeLayout(requestLayout());
  settle();
  return fresh;
}

void Session::invalidateLayout() {
  std::lock_guard lock(layoutLock_);
  layout_.reset();
}

PendingWindowManager Session::requestWindowManager() {
  PendingWindowManager p;
  const xcb_atom_t check = atom("_NET_SUPPORTING_WM_CHECK");
  p.root = requestProperty(c_, root_, check, XCB_ATOM_WINDOW, 1);
  {
    std::lock_guard lock(wmLock_);
    p.asked = lastCheckWindow_;
  }
  // A window manager keeps its check window while it runs: the one seen last is asked in the
  // same round trip.
  if (p.asked != XCB_WINDOW_NONE) p.self = requestProperty(c_, p.asked, check, XCB_ATOM_WINDOW, 1);
  return p;
}

namespace {

std::optional<std::uint32_t> firstWindow(const std::optional<Property>& p) {
  if (!p || p->format != 32) return std::nullopt;
  auto values = p->cardinals();
  if (values.empty()) return std::nullopt;
  return values[0];
}

}  // namespace

void Session::continueWindowManager(PendingWindowManager& p) {
  if (p.continued) return;
  p.continued = true;
  const auto named = firstWindow(takeProperty(c_, p.root));
  std::optional<std::uint32_t> self;
  if (p.self) self = firstWindow(takeProperty(c_, *p.self));
  p.self.reset();
  {
    std::lock_guard lock(wmLock_);
    lastCheckWindow_ = named.value_or(XCB_WINDOW_NONE);
  }
  if (!named || *named == XCB_WINDOW_NONE) return;
  if (*named == p.asked) {
    p.runs = self == named;
    return;
  }
  p.asked = *named;
  p.self = requestProperty(c_, *named, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 1);
}

bool Session::windowManagerRuns(PendingWindowManager& p) {
  continueWindowManager(p);
  if (p.self) {
    p.runs = firstWindow(takeProperty(c_, *p.self)) == p.asked;
    p.self.reset();
  }
  return p.runs;
}

void Session::selectEvents(xcb_window_t window, std::uint32_t mask) {
  std::uint32_t all;
  {
    std::lock_guard lock(masksLock_);
    auto& bits = masks_[window];
    if ((bits & mask) == mask) return;
    bits |= mask;
    all = bits;
  }
  xcb_change_window_attributes(c_, window, XCB_CW_EVENT_MASK, &all);
}

void Session::noteEventMask(xcb_window_t window, std::uint32_t mask) {
  std::lock_guard lock(masksLock_);
  masks_[window] |= mask;
}

std::shared_ptr<Inbox> Session::subscribe(std::function<void()> onEvents, Inbox::Filter wants) {
  auto inbox = std::make_shared<Inbox>(std::move(onEvents), std::move(wants));
  std::lock_guard lock(eventsLock_);
  inboxes_.push_back(inbox);
  return inbox;
}

void Session::add(xcb_generic_event_t* raw) {
  const std::uint8_t type = raw->response_type & 0x7f;
  if (type == XCB_PROPERTY_NOTIFY) {
    const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(raw);
    if (p->window == root_ && p->atom == XCB_ATOM_RESOURCE_MANAGER) invalidateLayout();
  }
  Event event(raw,
              [](const xcb_generic_event_t* e) { std::free(const_cast<xcb_generic_event_t*>(e)); });
  // Called with the event lock held.
  for (auto it = inboxes_.begin(); it != inboxes_.end();) {
    if (auto inbox = it->lock()) {
      if (!inbox->wants_ || inbox->wants_(raw)) inbox->events_.push_back(event);
      ++it;
    } else {
      it = inboxes_.erase(it);
    }
  }
}

bool Session::pump() {
  std::lock_guard lock(eventsLock_);
  while (auto* event = xcb_poll_for_event(c_)) add(event);
  return !broken();
}

void Session::pumpQueued() {
  std::lock_guard lock(eventsLock_);
  while (auto* event = xcb_poll_for_queued_event(c_)) add(event);
}

bool Session::eventsWaiting() {
  std::lock_guard lock(eventsLock_);
  for (auto& weak : inboxes_) {
    auto inbox = weak.lock();
    if (inbox && inbox->onEvents_ && !inbox->events_.empty()) return true;
  }
  return false;
}

void Session::deliver() {
  std::vector<std::shared_ptr<Inbox>> ready;
  {
    std::lock_guard lock(eventsLock_);
    for (auto& weak : inboxes_) {
      auto inbox = weak.lock();
      if (inbox && inbox->onEvents_ && (!inbox->events_.empty() || broken())) {
        ready.push_back(std::move(inbox));
      }
    }
  }
  for (auto& inbox : ready) inbox->onEvents_();
}

void Session::settle() {
  pumpQueued();
  std::function<void()> waker;
  {
    std::lock_guard lock(eventsLock_);
    waker = waker_;
  }
  if (waker && eventsWaiting()) waker();
}

void Session::setWaker(std::function<void()> waker) {
  std::lock_guard lock(eventsLock_);
  waker_ = std::move(waker);
}

std::optional<std::string> wmClassName(const std::optional<Property>& wmClass) {
  if (!wmClass || wmClass->format != 8 || wmClass->type != XCB_ATOM_STRING) return std::nullopt;
  const std::string& bytes = wmClass->bytes;
  const std::size_t split = bytes.find('\0');
  if (split == std::string::npos) return std::nullopt;
  std::string cls = bytes.substr(split + 1);
  if (auto end = cls.find('\0'); end != std::string::npos) cls.resize(end);
  if (cls.empty()) return std::nullopt;
  return json::sanitizeUtf8(latin1ToUtf8(cls));
}

}  // namespace orvane::x11
