// Accessibility on Linux: AT-SPI 2 through libatspi, read in the vocabulary of macOS.
//
// Roles: the table of accessibility_roles.cpp. Attributes: AXTitle is the accessible name,
// AXDescription the accessible description, AXValue the text of a text element (a number for
// an element with a value, such as a slider), AXURL the document's "DocURL" attribute, else
// its "URI" (an empty text is no address), of a web area only, AXChildren the accessible children,
// AXFrame, AXPosition and AXSize the Component extents on the screen in global points.
// AXFocusedWindow of an application is its frame in the ACTIVE state, else its first showing frame.
// AXFocusedUIElement of the system-wide element is the object that last gained focus, kept
// from AT-SPI focus events once the caller follows focus (followFocus); before the first event,
// and on every read of a caller that does not follow it, one query of the active frames. The
// recorder reads it with its role, subrole, title and description on every click and key, so a
// read of it costs one round trip: its name and description in one call (Properties.GetAll of
// the Accessible interface, atspi_properties.cpp), which also shows that the object still
// answers; its role is read once after it gains focus and kept current by its role-change
// events. The element handed out answers these four from that read; the recorder asks for a
// new element on every event.
// When that call fails, the role is asked instead, as for any element. Every other element, the
// focused object reached another way included, is asked on every read.
// NOTE: ATK tells no change of a name or description that was never set before, so these are
// never kept from events.
// The element at a position: the window server names the window under the point, its
// pid names the application, its frame under the point answers GetAccessibleAtPoint, and the
// answer is asked again, down to the deepest element (an element that answers itself or an
// element seen before, or depth 64, ends the descent). Every call is a round trip to the
// application, so the application of a pid is remembered until a call on it fails, and the role
// of each of its top-level objects is asked once. The frames a query found are asked first by the
// next one, and read again only when none of them is the active frame under the point.
// The element answered keeps the role read to choose it, so its role costs no second call.
//
// Switch-on: the nearest Linux counterpart of AXManualAccessibility and
// AXEnhancedUserInterface is the session-wide org.a11y.Status.IsEnabled property of the
// accessibility bus launcher, which Chromium and other toolkits follow to expose their trees.
// Writing either attribute of an application sets IsEnabled to true when it reads false, once
// per process, and answers whether it is true. The tool never sets it back.
//
// NOTE: libatspi ends the whole process when a call finds no accessibility bus, so the bus is
// probed first (the address libatspi takes, as it finds it, with a short timeout, and a
// connection to that address). Without a bus every value is
// absent and every write fails, and libatspi is never called.
//
// Every call waits for an application at most kAccessibilityCallTimeoutMs, and no longer than
// the calling thread's deadline (setCallDeadline); a list of children read one call at a time
// is given up at that deadline.
//
// Nothing here knows the display: its side (accessibility_atspi.hpp) gives the published bus
// address, the pixel-point conversions and the window server.
#include "accessibility_atspi.hpp"

#include <atspi/atspi.h>
#include <gio/gio.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "accessibility_roles.hpp"
#include "atspi_properties.hpp"

namespace orvane {
namespace {

constexpr int kBusTimeoutMs = 2000;
// How long finding the session bus's address may take (see sessionBusAddress).
constexpr int kBusAddressTimeoutMs = 1000;
constexpr int kCallTimeoutMs = kAccessibilityCallTimeoutMs;
constexpr int kMaxHitDepth = 64;

// The deadline of the calling thread's calls (setCallDeadline), on the steady clock in ms.
thread_local std::optional<std::int64_t> tCallDeadlineMs;

std::int64_t steadyNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// How long the next call may wait: its own longest wait, cut to the time left before the
// deadline (a call made at the deadline still gets a millisecond).
int callTimeoutMs(int longestMs) {
  if (!tCallDeadlineMs) return longestMs;
  return static_cast<int>(std::clamp<std::int64_t>(*tCallDeadlineMs - steadyNowMs(), 1, longestMs));
}

bool pastCallDeadline() { return tCallDeadlineMs && steadyNowMs() >= *tCallDeadlineMs; }

// The session bus's address. With none in the environment GIO runs dbus-launch to find the
// display's own bus and waits for it with no deadline; dbus-launch asks the X server, so a
// server that does not answer would hold up the caller for ever. The look-up runs on a thread
// of its own (left behind when it does not end) and is waited for kBusAddressTimeoutMs.
std::optional<std::string> sessionBusAddress() {
  struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::optional<std::string> address;
  };
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup] {
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    g_clear_error(&error);
    std::lock_guard lock(lookup->lock);
    if (address) lookup->address = address;
    g_free(address);
    lookup->finished = true;
    lookup->done.notify_all();
  }).detach();
  std::unique_lock lock(lookup->lock);
  if (!lookup->done.wait_for(lock, std::chrono::milliseconds(kBusAddressTimeoutMs),
                             [&] { return lookup->finished; })) {
    return std::nullopt;
  }
  return lookup->address;
}

// libatspi's wait for the calls that follow. It is one setting for the whole process, so it
// is set again before every call that may reach an application.
// NOTE: libatspi waits max(timeout, startup time - age) for an application that joined the
// bus less than the startup time ago; the same value for both keeps that from stretching it.
void limitNextCalls() {
  const int timeout = callTimeoutMs(kCallTimeoutMs);
  atspi_set_timeout(timeout, timeout);
}

// A GObject reference, released when the holder goes.
template <typename T>
class GRef {
 public:
  GRef() = default;
  explicit GRef(T* object) : object_(object) {}  // takes over a reference
  ~GRef() {
    if (object_) g_object_unref(object_);
  }
  GRef(const GRef&) = delete;
  GRef& operator=(const GRef&) = delete;
  GRef(GRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GRef& operator=(GRef&& other) noexcept {
    if (this != &other) {
      if (object_) g_object_unref(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  static GRef share(T* object) {
    return GRef(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
  }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

// Errors are never reported: the caller reads an absent value.
struct Error {
  GError* error = nullptr;
  ~Error() { g_clear_error(&error); }
  GError** out() {
    g_clear_error(&error);
    return &error;
  }
  explicit operator bool() const { return error != nullptr; }
};

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
using GString_ = std::unique_ptr<gchar, GFree>;

struct AtspiNode : AXElement::Node {
  enum class Kind { systemWide, application, object };
  Kind kind;
  std::int32_t pid = -1;         // of an application
  GRef<AtspiAccessible> object;  // of an object
  // The role of an object answered by an element-at-position query, read by that query.
  std::optional<AXRoleName> role;
  // An object answered by an element-at-position query is read at once, by the one who
  // asked: its name, description and child count come in one call, made on the first read of
  // any of them and kept.
  bool answered = false;
  mutable bool textsRead = false;
  mutable std::optional<atspi::NameAndDescription> texts;
  // Its extents (screen pixels), when the query read them with its role.
  std::optional<Rect> extents;
  AtspiNode(Kind k, std::int32_t p, GRef<AtspiAccessible> o,
            std::optional<AXRoleName> r = std::nullopt)
      : kind(k), pid(p), object(std::move(o)), role(std::move(r)) {}
  // libatspi keeps one object per element of an application.
  const void* identity() const override {
    return object ? static_cast<const void*>(object.get()) : this;
  }
};

AXElement wrap(GRef<AtspiAccessible> object, std::optional<AXRoleName> role = std::nullopt) {
  if (!object) return AXElement();
  return AXElement(std::make_shared<const AtspiNode>(AtspiNode::Kind::object, -1, std::move(object),
                                                     std::move(role)));
}

const AtspiNode* nodeOf(const AXElement& element) {
  return dynamic_cast<const AtspiNode*>(element.node());
}

// An object's states, read in one call and tested as often as needed.
class States {
 public:
  explicit States(AtspiAccessible* object) : states_(atspi_accessible_get_state_set(object)) {}
  bool has(AtspiStateType state) const {
    return states_ && atspi_state_set_contains(states_.get(), state);
  }

 private:
  GRef<AtspiStateSet> states_;
};

AXRoleName axRoleOf(AtspiRole role) {
  GString_ name(atspi_role_get_name(role));
  return axRoleForAtspiRole(name ? std::string_view(name.get()) : std::string_view());
}

// An object's role in the vocabulary of macOS, asked with one call; nothing when it fails.
std::optional<AXRoleName> axRole(AtspiAccessible* object) {
  limitNextCalls();
  Error error;
  const AtspiRole role = atspi_accessible_get_role(object, error.out());
  if (error || role == ATSPI_ROLE_INVALID) return std::nullopt;
  return axRoleOf(role);
}

class AtspiAccessibility : public Accessibility {
 public:
  explicit AtspiAccessibility(AtspiDesktopSide side) : side_(std::move(side)) {
    if (!side_.reachable()) return;
    if (!probeBus()) return;
    quietLibraryMessages();
    const int status = atspi_init();
    if (status != 0 && status != 1) return;
    active_ = true;
    // An application that does not answer holds up the calling thread for the whole timeout;
    // libatspi would wait up to 15 s for one that has just started.
    limitNextCalls();
  }

  bool madeBeforeTheDisplay() const override { return side_.displayLate; }

  std::optional<bool> awaitFocusedInputHandled(std::chrono::milliseconds within) override {
    if (!active_ || !side_.awaitInputHandled) return std::nullopt;
    return side_.awaitInputHandled(within);
  }

  ~AtspiAccessibility() override {
    if (listener_) {
      Error error;
      atspi_event_listener_deregister(listener_.get(), "object:state-changed:focused", error.out());
      for (const char* type : kKeptCurrentBy) {
        atspi_event_listener_deregister(listener_.get(), type, error.out());
      }
    }
    if (session_) g_object_unref(session_);
  }

  // A call that misses its deadline makes libatspi write to standard error ("Couldn't get
  // application list", then an unref of the list it never got), which the tools' hosts would
  // read as ours. Its own domains are kept quiet; of GLib's object messages only that one
  // unref is dropped.
  static void quietLibraryMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
      const auto levels =
          static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
      auto drop = [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {};
      g_log_set_handler("dbind", levels, drop, nullptr);
      g_log_set_handler("atspi", levels, drop, nullptr);
      g_log_set_handler(
          "GLib-GObject", G_LOG_LEVEL_CRITICAL,
          [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
            if (message && std::string_view(message).starts_with(
                               "g_object_unref: assertion 'G_IS_OBJECT (object)' failed")) {
              return;
            }
            g_log_default_handler(domain, level, message, nullptr);
          },
          nullptr);
    });
  }

  // NOTE: only a listener makes the applications send events, and then every one of them
  // reaches this process, 64 KiB titles included, whether it reads them or not.
  void followFocus() override {
    if (!active_ || listener_) return;
    limitNextCalls();
    listener_ = GRef<AtspiEventListener>(
        atspi_event_listener_new(&AtspiAccessibility::onFocus, this, nullptr));
    Error error;
    atspi_event_listener_register(listener_.get(), "object:state-changed:focused", error.out());
    // The apps then tell the name changes that keep libatspi's cache of names current.
    for (const char* type : kKeptCurrentBy) {
      atspi_event_listener_register(listener_.get(), type, error.out());
    }
  }

  // libatspi keeps its buses, and the focus events, on GLib's default context; a program that
  // calls it off the main thread leaves that context to the calling thread.
  void dispatchPending() override {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }

  std::uint64_t focusChanges() const override { return focusChanges_; }

  bool canWaitForEvents() const override { return true; }
  void waitForEvents() override { g_main_context_iteration(nullptr, TRUE); }
  // NOTE: a wake-up stays pending until the context's next poll, so one that comes just
  // before the wait still ends it.
  void interruptWait() override { g_main_context_wakeup(nullptr); }

  void setCallDeadline(std::optional<std::int64_t> deadlineMs) override {
    tCallDeadlineMs = deadlineMs;
  }

  AXElement createApplication(std::int32_t pid) override {
    return AXElement(std::make_shared<const AtspiNode>(AtspiNode::Kind::application, pid,
                                                       GRef<AtspiAccessible>()));
  }

  AXElement createSystemWide() override {
    return AXElement(std::make_shared<const AtspiNode>(AtspiNode::Kind::systemWide, -1,
                                                       GRef<AtspiAccessible>()));
  }

  std::optional<AXValue> copyAttributeValue(const AXElement& element,
                                            std::string_view attribute) override {
    const AtspiNode* node = nodeOf(element);
    if (!active_ || !node) return std::nullopt;
    limitNextCalls();
    switch (node->kind) {
      case AtspiNode::Kind::systemWide:
        return systemWideAttribute(attribute);
      case AtspiNode::Kind::application:
        return applicationAttribute(node->pid, attribute);
      case AtspiNode::Kind::object:
        if (handedOut(node)) {
          if ((attribute == kAttrRole || attribute == kAttrSubrole) && focusedRole_) {
            return axRoleAttribute(*focusedRole_, attribute);
          }
          if (kept_.texts && attribute == kAttrTitle) return kept_.texts->name;
          if (kept_.texts && attribute == kAttrDescription) return kept_.texts->description;
        }
        if ((attribute == kAttrRole || attribute == kAttrSubrole) && node->role) {
          return axRoleAttribute(*node->role, attribute);
        }
        if (node->extents &&
            (attribute == kAttrFrame || attribute == kAttrPosition || attribute == kAttrSize)) {
          return geometryAttribute(side_.pixelsToPoints(*node->extents), attribute);
        }
        if (node->answered && (attribute == kAttrTitle || attribute == kAttrDescription ||
                               attribute == kAttrChildren)) {
          if (!node->textsRead) {
            node->textsRead = true;
            node->texts =
                atspi::readNameAndDescription(node->object.get(), callTimeoutMs(kCallTimeoutMs));
          }
          if (node->texts && attribute == kAttrTitle) return node->texts->name;
          if (node->texts && attribute == kAttrDescription) return node->texts->description;
          if (node->texts && attribute == kAttrChildren && node->texts->childCount == 0) {
            return std::vector<AXElement>{};
          }
        }
        return objectAttribute(node->object.get(), attribute);
    }
    return std::nullopt;
  }

  bool setAttributeValue(const AXElement& element, std::string_view attribute,
                         bool value) override {
    const AtspiNode* node = nodeOf(element);
    if (!active_ || !node || node->kind != AtspiNode::Kind::application || !value) return false;
    if (attribute != kAttrManualAccessibility && attribute != kAttrEnhancedUserInterface) {
      return false;
    }
    return switchOn();
  }

  void expectElementAtPosition(float x, float y) override {
    if (!active_) return;
    const Point point{x, y};
    Expected expected;
    expected.point = point;
    // Questions asked for a press whose lookup never came (its application was left alone,
    // or the budget ran out first) are not asked again until a lookup answers: an application
    // that does not answer would get them on every press.
    if (expected_ && expected_->asked) lastHitPid_.reset();
    // The window the last press landed in is asked at once, while the window server is asked
    // which window is under the point: mostly it is the same one.
    if (auto* known = lastHitPid_ ? application(*lastHitPid_, false) : nullptr;
        known && known->hitPath.size() > 1 && known->windowFrame &&
        known->hitPath.front().get() == known->windowFrame.get()) {
      const Point pixels = side_.pointsToPixels(point);
      std::vector<AtspiAccessible*> remembered;
      for (const auto& object : known->hitPath) {
        remembered.push_back(object.get());
        expected.askedPath.push_back(GRef<AtspiAccessible>::share(object.get()));
      }
      expected.askedPid = *lastHitPid_;
      expected.askedWindow = known->window;
      expected.asked =
          atspi::PathQuestions::ask(remembered, static_cast<int>(pixels.x),
                                    static_cast<int>(pixels.y), callTimeoutMs(kCallTimeoutMs));
    }
    expected.owner = windowOwnerAt(point);
    expected_ = std::move(expected);
  }

  std::optional<AXElement> copyElementAtPosition(const AXElement& element, float x,
                                                 float y) override {
    const AtspiNode* node = nodeOf(element);
    if (!active_ || !node || node->kind != AtspiNode::Kind::systemWide) return std::nullopt;
    limitNextCalls();
    const Point point{x, y};
    auto expected = std::exchange(expected_, std::nullopt);
    if (expected && (expected->point.x != point.x || expected->point.y != point.y)) {
      expected.reset();
    }
    const auto owner = expected ? expected->owner : windowOwnerAt(point);
    if (!owner) return std::nullopt;
    const Point pixels = side_.pointsToPixels(point);
    const int px = static_cast<int>(pixels.x), py = static_cast<int>(pixels.y);
    // The frame last found active for the same window is asked straight away: a window keeps
    // its frame. Clicks in a window mostly land where one landed before, so the last descent
    // from that frame is checked with all its questions at once (sent at the press when the
    // window was the last one hit), and the descent goes on one question at a time only from
    // where the answers part from it. When the frame has nothing at the point, or no longer
    // answers, the frames are looked at as for a window not seen before.
    std::vector<GRef<AtspiAccessible>> path;
    std::optional<atspi::HitReads> reads;
    if (auto* known = application(owner->pid, false);
        known && known->window == owner->window && known->windowFrame) {
      if (known->hitPath.size() > 1 && known->hitPath.front().get() == known->windowFrame.get()) {
        std::vector<AtspiAccessible*> remembered;
        for (const auto& object : known->hitPath) remembered.push_back(object.get());
        limitNextCalls();
        const bool askedAlready = expected && expected->asked && expected->askedPid == owner->pid &&
                                  expected->askedWindow == owner->window &&
                                  sameObjects(expected->askedPath, known->hitPath);
        const auto check =
            askedAlready ? expected->asked->answers()
                         : atspi::checkPath(remembered, px, py, callTimeoutMs(kCallTimeoutMs));
        for (std::size_t i = 0; check.firstAnswered && i < check.confirmed; ++i) {
          path.push_back(GRef<AtspiAccessible>::share(remembered[i]));
        }
        if (check.deepest && check.confirmed == remembered.size()) reads = check.reads;
        if (check.firstAnswered && !check.deepest) descend(path, px, py);
      } else {
        path.push_back(GRef<AtspiAccessible>::share(known->windowFrame.get()));
        if (!descend(path, px, py)) path.clear();
      }
      if (path.empty()) {
        known->windowFrame = {};
        known->hitPath.clear();
      }
    }
    if (path.empty()) {
      auto frame = frameUnder(*owner, pixels);
      if (!frame) return std::nullopt;
      path.push_back(std::move(frame));
      descend(path, px, py);
    }
    if (auto* known = application(owner->pid, false);
        known && known->windowFrame && known->windowFrame.get() == path.front().get()) {
      known->hitPath.clear();
      for (const auto& object : path) {
        known->hitPath.push_back(GRef<AtspiAccessible>::share(object.get()));
      }
      lastHitPid_ = owner->pid;
    }
    // The deepest answer's role, texts and extents are asked together: it is nearly always
    // the element of the line.
    if (!reads) {
      limitNextCalls();
      reads = atspi::readHit(path.back().get(), callTimeoutMs(kCallTimeoutMs));
    }
    auto [hit, role] = controlLabelledBy(path, *reads);
    auto answer = std::make_shared<AtspiNode>(AtspiNode::Kind::object, -1, std::move(path[hit]),
                                              std::move(role));
    answer->answered = true;
    if (hit == path.size() - 1) {
      if (reads->texts) {
        answer->textsRead = true;
        answer->texts = reads->texts;
      }
      if (const auto& e = reads->extents)
        answer->extents = Rect{double((*e)[0]), double((*e)[1]), double((*e)[2]), double((*e)[3])};
    }
    return AXElement(std::shared_ptr<const AtspiNode>(std::move(answer)));
  }

 private:
  // The frame of the owner's application under the point (pixels). The frames found by the
  // last query are asked first; a window opened since may lie above them, so only an active
  // one is believed without reading the frames again. An active frame is remembered as the
  // window's.
  GRef<AtspiAccessible> frameUnder(const WindowServer::WindowOwner& owner, Point pixels) {
    FrameAt found;
    if (auto* known = application(owner.pid, false)) found = frameAt(known->frames, pixels);
    if (!found.active) {
      auto topLevel = applicationFrames(owner.pid);
      if (!topLevel) return {};
      found = frameAt(*topLevel, pixels);
      if (auto* known = application(owner.pid, false)) known->frames = std::move(*topLevel);
    }
    if (auto* known = application(owner.pid, false); known && found.active) {
      known->window = owner.window;
      known->windowFrame = GRef<AtspiAccessible>::share(found.frame.get());
    }
    return std::move(found.frame);
  }

  // Asks the last element of `path` for its child at the point, and that one again, down to
  // the deepest; false when the first question got no answer.
  // NOTE: Chromium may answer the element asked, or a child that is not among its children;
  // the descent ends when an answer repeats.
  static bool descend(std::vector<GRef<AtspiAccessible>>& path, int px, int py) {
    std::set<AtspiAccessible*> seen{path.back().get()};
    const std::size_t start = path.size();
    for (int depth = 0; depth < kMaxHitDepth; ++depth) {
      GRef<AtspiComponent> component(atspi_accessible_get_component_iface(path.back().get()));
      if (!component) break;
      Error error;
      GRef<AtspiAccessible> child(atspi_component_get_accessible_at_point(
          component.get(), px, py, ATSPI_COORD_TYPE_SCREEN, error.out()));
      if (error || !child || !seen.insert(child.get()).second) break;
      path.push_back(std::move(child));
    }
    return path.size() > start;
  }

  // The element a descent ends at: its last answer, or the control that answer is the text of.
  // NOTE: a browser answers the text inside a button ("Go" inside the button "Go"), where the
  // platform's own hit test, like macOS's, ends at the control whose name is that text. Only
  // when the deepest answer is text are roles and names read, so an ordinary hit costs nothing
  // more.
  // With it, the role read of the element chosen (nothing when none was read).
  static std::pair<std::size_t, std::optional<AXRoleName>> controlLabelledBy(
      const std::vector<GRef<AtspiAccessible>>& path, const atspi::HitReads& reads) {
    const std::size_t last = path.size() - 1;
    std::optional<AXRoleName> role;
    if (reads.role) role = axRoleOf(static_cast<AtspiRole>(*reads.role));
    if (last == 0) return {last, role};
    if (!reads.role) role = axRole(path[last].get());
    if (!role || role->role != "AXStaticText") return {last, role};
    // Text sits in the control itself or in a group or two inside it.
    constexpr std::size_t kMaxTextDepth = 3;
    for (std::size_t i = last; i-- > 0 && last - i <= kMaxTextDepth;) {
      auto above = axRole(path[i].get());
      if (!above) return {last, role};
      if (above->role == "AXGroup" || above->role == "AXUnknown") continue;
      if (!isLabelledControl(above->role)) return {last, role};
      auto text = reads.texts ? std::optional(reads.texts->name) : name(path[last].get());
      auto label = name(path[i].get());
      if (text && label && !label->empty() && *text == *label) return {i, above};
      return {last, role};
    }
    return {last, role};
  }

  // The frame among `frames` under the point (in pixels), the active one first.
  struct FrameAt {
    GRef<AtspiAccessible> frame;
    bool active = false;
  };
  FrameAt frameAt(const std::vector<GRef<AtspiAccessible>>& frames, Point pixels) {
    FrameAt out;
    for (const auto& candidate : frames) {
      const States states(candidate.get());
      if (!states.has(ATSPI_STATE_SHOWING)) continue;
      auto r = extents(candidate.get());
      if (!r || !containsPoint(*r, pixels)) continue;
      out.active = states.has(ATSPI_STATE_ACTIVE);
      if (!out.frame || out.active) out.frame = GRef<AtspiAccessible>::share(candidate.get());
      if (out.active) break;
    }
    return out;
  }

  static bool isLabelledControl(std::string_view role) {
    return role == "AXButton" || role == "AXCheckBox" || role == "AXRadioButton" ||
           role == "AXMenuItem";
  }

  static std::optional<std::string> name(AtspiAccessible* object) {
    Error error;
    GString_ text(atspi_accessible_get_name(object, error.out()));
    if (error || !text) return std::nullopt;
    return std::string(text.get());
  }

  // --- The bus ---

  // The address libatspi itself takes, looked for in its order: AT_SPI_BUS_ADDRESS, then the
  // one the display publishes (which it skips in a Wayland session), then the session bus's.
  // Another order could find a bus where libatspi finds none.
  bool probeBus() {
    if (const gchar* address = g_getenv("AT_SPI_BUS_ADDRESS"); address && *address) {
      return reachable(address);
    }
    if (side_.publishedBusAddress && !g_getenv("WAYLAND_DISPLAY")) {
      if (auto address = side_.publishedBusAddress(); address && !address->empty()) {
        return reachable(*address);
      }
    }
    GDBusConnection* session = sessionBus();
    if (!session) return false;
    Error error;
    GVariant* reply = g_dbus_connection_call_sync(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, callTimeoutMs(kBusTimeoutMs), nullptr,
        error.out());
    if (!reply) return false;
    const gchar* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    const bool ok = address && *address && reachable(address);
    g_variant_unref(reply);
    return ok;
  }

  static bool reachable(const std::string& address) {
    Error error;
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, error.out());
    if (!c) return false;
    g_dbus_connection_close_sync(c, nullptr, nullptr);
    g_object_unref(c);
    return true;
  }

  // A private connection to the session bus, made once; nothing when there is none.
  GDBusConnection* sessionBus() {
    if (session_ || sessionTried_) return session_;
    sessionTried_ = true;
    const auto address = sessionBusAddress();
    if (!address) return nullptr;
    Error error;
    session_ = g_dbus_connection_new_for_address_sync(
        address->c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, error.out());
    return session_;
  }

  std::optional<bool> isEnabled() {
    GDBusConnection* session = sessionBus();
    if (!session) return std::nullopt;
    Error error;
    GVariant* reply = g_dbus_connection_call_sync(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, callTimeoutMs(kBusTimeoutMs), nullptr, error.out());
    if (!reply) return std::nullopt;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    std::optional<bool> enabled;
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
      enabled = g_variant_get_boolean(value) != 0;
    }
    if (value) g_variant_unref(value);
    g_variant_unref(reply);
    return enabled;
  }

  bool switchOn() {
    if (switchedOn_) return true;
    auto enabled = isEnabled();
    if (!enabled) return false;
    if (!*enabled && !switchTried_) {
      switchTried_ = true;
      Error error;
      GVariant* reply = g_dbus_connection_call_sync(
          sessionBus(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
          g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
          nullptr, G_DBUS_CALL_FLAGS_NONE, callTimeoutMs(kBusTimeoutMs), nullptr, error.out());
      if (reply) g_variant_unref(reply);
      enabled = isEnabled();
    }
    switchedOn_ = enabled.value_or(false);
    return switchedOn_;
  }

  // --- Applications and focus ---

  // Whether each of an application's top-level objects is a window, by object. The roles of
  // top-level objects do not change, so each is asked once; objects that are no longer
  // children are forgotten.
  using WindowRoles = std::map<AtspiAccessible*, std::pair<GRef<AtspiAccessible>, bool>>;

  struct KnownApplication {
    GRef<AtspiAccessible> object;
    WindowRoles windowRoles;
    // Its frames as the last element-at-position query read them.
    std::vector<GRef<AtspiAccessible>> frames;
    // The window the last query found an active frame under, and that frame.
    std::int64_t window = 0;
    GRef<AtspiAccessible> windowFrame;
    // The last descent from that frame: the frame, then each answer down to the deepest.
    std::vector<GRef<AtspiAccessible>> hitPath;
  };

  // The AT-SPI application of a process, looked up among the desktop's applications. One
  // remembered is checked with a call first when `check` is set; otherwise the caller's next
  // call on it tells whether it is gone (see applicationFrames).
  KnownApplication* application(std::int32_t pid, bool check = true) {
    auto it = applications_.find(pid);
    if (it != applications_.end()) {
      if (!check) return &it->second;
      Error error;
      if (atspi_accessible_get_child_count(it->second.object.get(), error.out()) >= 0 && !error) {
        return &it->second;
      }
      applications_.erase(it);
    }
    forgetEndedProcesses();
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return nullptr;
    Error error;
    const gint count = atspi_accessible_get_child_count(desktop.get(), error.out());
    for (gint i = 0; i < count; ++i) {
      GRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, error.out()));
      if (!app) continue;
      const guint appPid = atspi_accessible_get_process_id(app.get(), error.out());
      if (error || static_cast<std::int32_t>(appPid) != pid) continue;
      return &(applications_[pid] = KnownApplication{std::move(app), {}, {}, 0, {}, {}});
    }
    return nullptr;
  }

  // An application remembered for a process that has ended is never asked for again: its
  // objects would stay for the life of the tool, one set per application the user closed.
  void forgetEndedProcesses() {
    std::erase_if(applications_,
                  [](const auto& entry) { return ::kill(entry.first, 0) != 0 && errno == ESRCH; });
  }

  // The children of an object; nothing when their number cannot be read.
  static std::optional<std::vector<GRef<AtspiAccessible>>> children(AtspiAccessible* object) {
    Error error;
    const gint count = atspi_accessible_get_child_count(object, error.out());
    if (error || count < 0) return std::nullopt;
    std::vector<GRef<AtspiAccessible>> out;
    out.reserve(static_cast<size_t>(count));
    for (gint i = 0; i < count; ++i) {
      // A huge list costs a call per child where the application keeps no cache.
      if (pastCallDeadline()) return std::nullopt;
      limitNextCalls();
      GRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(object, i, error.out()));
      if (child) out.push_back(std::move(child));
    }
    return out;
  }

  // An application's top-level frames, windows and dialogs; nothing when its children cannot
  // be read. With `roles`, the roles already known are not asked again.
  static std::optional<std::vector<GRef<AtspiAccessible>>> frames(AtspiAccessible* app,
                                                                  WindowRoles* roles = nullptr) {
    auto list = children(app);
    if (!list) return std::nullopt;
    WindowRoles known;
    std::vector<GRef<AtspiAccessible>> out;
    for (auto& child : *list) {
      std::optional<bool> window;
      if (roles) {
        if (auto it = roles->find(child.get()); it != roles->end()) window = it->second.second;
      }
      if (!window) {
        // A role that could not be read is asked again next time.
        if (auto role = axRole(child.get())) window = role->role == "AXWindow";
      }
      if (roles && window) {
        known.emplace(child.get(), std::pair(GRef<AtspiAccessible>::share(child.get()), *window));
      }
      if (window.value_or(false)) out.push_back(std::move(child));
    }
    if (roles) *roles = std::move(known);
    return out;
  }

  // The top-level frames of the application of a process. The application remembered is not
  // checked first: when its children cannot be read it is looked up again, once.
  std::optional<std::vector<GRef<AtspiAccessible>>> applicationFrames(std::int32_t pid) {
    KnownApplication* app = application(pid, false);
    if (!app) return std::nullopt;
    if (auto list = frames(app->object.get(), &app->windowRoles)) return list;
    applications_.erase(pid);
    app = application(pid, false);
    if (!app) return std::nullopt;
    return frames(app->object.get(), &app->windowRoles);
  }

  // NOTE: Chromium has several frames; only the ACTIVE one is the window the user sees, the
  // others hold empty documents.
  GRef<AtspiAccessible> focusedWindow(std::int32_t pid) {
    auto list = applicationFrames(pid);
    if (!list) return {};
    GRef<AtspiAccessible> showing;
    for (auto& frame : *list) {
      const States states(frame.get());
      if (states.has(ATSPI_STATE_ACTIVE)) return std::move(frame);
      if (!showing && states.has(ATSPI_STATE_SHOWING)) showing = std::move(frame);
    }
    return showing;
  }

  // Besides focus: the name changes that keep libatspi's cache of names current, and the role
  // changes of the focused object. The subrole follows the role alone
  // (accessibility_roles.cpp), so no state but focus matters.
  static constexpr const char* kKeptCurrentBy[] = {
      "object:property-change:accessible-name",
      "object:property-change:accessible-role",
  };

  static void onFocus(AtspiEvent* event, void* self) {
    auto* me = static_cast<AtspiAccessibility*>(self);
    if (event->type && event->source) {
      if (g_str_has_prefix(event->type, "object:state-changed:focused")) {
        me->focusKnown_ = true;
        ++me->focusChanges_;
        me->kept_ = Kept{};
        me->focusedRole_.reset();
        if (event->detail1) {
          me->focused_ = GRef<AtspiAccessible>::share(event->source);
        } else if (me->focused_.get() == event->source) {
          me->focused_ = GRef<AtspiAccessible>();
        }
      } else if (event->source == me->focused_.get() &&
                 g_str_has_prefix(event->type, "object:property-change:accessible-role")) {
        ++me->focusChanges_;
        me->focusedRole_.reset();
      }
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
  }

  // Without events, what was read of the focus may be out of date by the next read.
  void forgetFocus() {
    focusKnown_ = false;
    focused_ = GRef<AtspiAccessible>();
    kept_ = Kept{};
    focusedRole_.reset();
  }

  // Before any focus event: the focused object of an active frame, asked once.
  void findInitialFocus() {
    focusKnown_ = true;
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return;
    for (auto& app : children(desktop.get()).value_or(std::vector<GRef<AtspiAccessible>>{})) {
      for (auto& frame : frames(app.get()).value_or(std::vector<GRef<AtspiAccessible>>{})) {
        if (!States(frame.get()).has(ATSPI_STATE_ACTIVE)) continue;
        GRef<AtspiCollection> collection(atspi_accessible_get_collection_iface(frame.get()));
        if (!collection) continue;
        GRef<AtspiStateSet> states(atspi_state_set_new(nullptr));
        atspi_state_set_add(states.get(), ATSPI_STATE_FOCUSED);
        GRef<AtspiMatchRule> rule(atspi_match_rule_new(
            states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
            ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, FALSE));
        Error error;
        GArray* matches = atspi_collection_get_matches(collection.get(), rule.get(),
                                                       ATSPI_Collection_SORT_ORDER_CANONICAL, 1,
                                                       TRUE, error.out());
        if (!matches) continue;
        for (guint i = 0; i < matches->len; ++i) {
          auto* match = g_array_index(matches, AtspiAccessible*, i);
          if (!focused_ && match) focused_ = GRef<AtspiAccessible>::share(match);
          if (match) g_object_unref(match);
        }
        g_array_free(matches, TRUE);
        if (focused_) return;
      }
    }
  }

  // --- Attributes ---

  std::optional<AXValue> systemWideAttribute(std::string_view attribute) {
    if (attribute == kAttrRole) return std::string("AXSystemWide");
    if (attribute == kAttrFocusedUIElement) {
      if (!listener_) forgetFocus();
      if (!focusKnown_) findInitialFocus();
      if (!focused_) return std::nullopt;
      // An object whose application went away reads nothing.
      auto texts = atspi::readNameAndDescription(focused_.get(), callTimeoutMs(kCallTimeoutMs));
      if (!texts || !focusedRole_) {
        auto role = axRole(focused_.get());
        if (!role) return std::nullopt;
        focusedRole_ = *role;
      }
      auto node = std::make_shared<const AtspiNode>(AtspiNode::Kind::object, -1,
                                                    GRef<AtspiAccessible>::share(focused_.get()));
      kept_ = Kept{node, std::move(texts)};
      return AXElement(std::move(node));
    }
    return std::nullopt;
  }

  // Whether the element is the last one handed out as the focused element, and that object
  // still has focus (see the top).
  bool handedOut(const AtspiNode* node) const {
    return node->object.get() == focused_.get() && kept_.element.lock().get() == node;
  }

  std::optional<AXValue> applicationAttribute(std::int32_t pid, std::string_view attribute) {
    if (attribute == kAttrRole) {
      if (!application(pid)) return std::nullopt;
      return std::string("AXApplication");
    }
    if (attribute == kAttrFocusedWindow) {
      auto window = focusedWindow(pid);
      if (!window) return std::nullopt;
      return wrap(std::move(window));
    }
    auto* known = application(pid);
    if (!known) return std::nullopt;
    auto app = GRef<AtspiAccessible>::share(known->object.get());
    if (attribute == kAttrFocusedUIElement) {
      if (!listener_) forgetFocus();
      if (!focusKnown_) findInitialFocus();
      if (!focused_) return std::nullopt;
      Error error;
      const guint focusedPid = atspi_accessible_get_process_id(focused_.get(), error.out());
      if (error || static_cast<std::int32_t>(focusedPid) != pid) return std::nullopt;
      return wrap(GRef<AtspiAccessible>::share(focused_.get()));
    }
    return objectAttribute(app.get(), attribute);
  }

  std::optional<Rect> extents(AtspiAccessible* object) {
    GRef<AtspiComponent> component(atspi_accessible_get_component_iface(object));
    if (!component) return std::nullopt;
    limitNextCalls();
    Error error;
    AtspiRect* r =
        atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, error.out());
    if (!r) return std::nullopt;
    std::optional<Rect> out;
    // Hidden widgets of GTK answer INT_MIN for their position.
    if (!error && r->x != INT_MIN && r->y != INT_MIN && r->width >= 0 && r->height >= 0) {
      out = Rect{double(r->x), double(r->y), double(r->width), double(r->height)};
    }
    g_boxed_free(ATSPI_TYPE_RECT, r);
    return out;
  }

  std::optional<AXValue> objectAttribute(AtspiAccessible* object, std::string_view attribute) {
    if (!object) return std::nullopt;
    if (attribute == kAttrRole || attribute == kAttrSubrole) {
      auto role = axRole(object);
      if (!role) return std::nullopt;
      return axRoleAttribute(*role, attribute);
    }
    if (attribute == kAttrTitle || attribute == kAttrDescription) {
      Error error;
      GString_ text(attribute == kAttrTitle
                        ? atspi_accessible_get_name(object, error.out())
                        : atspi_accessible_get_description(object, error.out()));
      if (error || !text) return std::nullopt;
      return std::string(text.get());
    }
    if (attribute == kAttrValue) return value(object);
    if (attribute == kAttrURL) return url(object);
    if (attribute == kAttrChildren) {
      auto objects = children(object);
      if (!objects) return std::nullopt;
      std::vector<AXElement> list;
      list.reserve(objects->size());
      for (auto& child : *objects) list.push_back(wrap(std::move(child)));
      return list;
    }
    if (attribute == kAttrFrame || attribute == kAttrPosition || attribute == kAttrSize) {
      auto pixels = extents(object);
      if (!pixels) return std::nullopt;
      return geometryAttribute(side_.pixelsToPoints(*pixels), attribute);
    }
    return std::nullopt;
  }

  static AXValue geometryAttribute(const Rect& r, std::string_view attribute) {
    if (attribute == kAttrFrame) return AXGeometry{kAXGeometryRect, r.x, r.y, r.width, r.height};
    if (attribute == kAttrPosition) return AXGeometry{kAXGeometryPoint, r.x, r.y, 0, 0};
    return AXGeometry{kAXGeometrySize, 0, 0, r.width, r.height};
  }

  // The text of a text element (entries, labels); the current value of an element with a
  // value (sliders, scroll bars).
  static std::optional<AXValue> value(AtspiAccessible* object) {
    auto role = axRole(object);
    if (!role) return std::nullopt;
    if (role->role == "AXTextField" || role->role == "AXStaticText") {
      GRef<AtspiText> text(atspi_accessible_get_text_iface(object));
      if (!text) return std::nullopt;
      Error error;
      const gint count = atspi_text_get_character_count(text.get(), error.out());
      if (error || count < 0) return std::nullopt;
      GString_ content(atspi_text_get_text(text.get(), 0, count, error.out()));
      if (error || !content) return std::nullopt;
      return std::string(content.get());
    }
    GRef<AtspiValue> number(atspi_accessible_get_value_iface(object));
    if (!number) return std::nullopt;
    Error error;
    const double current = atspi_value_get_current_value(number.get(), error.out());
    if (error) return std::nullopt;
    return AXNumberValue{current};
  }

  // NOTE: Chromium answers "DocURL" with an empty text and keeps the address in "URI". It
  // also lets every element of a page answer as the document, so only web areas have an
  // address here, as on macOS.
  static std::optional<AXValue> url(AtspiAccessible* object) {
    auto role = axRole(object);
    if (!role || role->role != "AXWebArea") return std::nullopt;
    GRef<AtspiDocument> document(atspi_accessible_get_document_iface(object));
    if (!document) return std::nullopt;
    for (const char* name : {"DocURL", "URI"}) {
      Error error;
      GString_ text(atspi_document_get_document_attribute_value(
          document.get(), const_cast<gchar*>(name), error.out()));
      if (!error && text && *text) return AXURLValue{std::string(text.get())};
    }
    return std::nullopt;
  }

  // The owner of the front-most on-screen window that contains the point.
  std::optional<WindowServer::WindowOwner> windowOwnerAt(Point point) {
    if (!windows_) windows_ = side_.makeWindowServer();
    if (!windows_) return std::nullopt;
    return windows_->ownerAt(point);
  }

  AtspiDesktopSide side_;
  std::unique_ptr<WindowServer> windows_;
  // The window owner found for the point of the query announced last; the next query takes it.
  struct Expected {
    Point point;
    std::optional<WindowServer::WindowOwner> owner;
    // The last descent of the application a press last landed in, and its questions at the
    // point, sent before the owner was known.
    std::int32_t askedPid = -1;
    std::int64_t askedWindow = 0;
    std::vector<GRef<AtspiAccessible>> askedPath;
    std::optional<atspi::PathQuestions> asked;
  };
  std::optional<std::int32_t> lastHitPid_;

  static bool sameObjects(const std::vector<GRef<AtspiAccessible>>& a,
                          const std::vector<GRef<AtspiAccessible>>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.get() == y.get(); });
  }
  std::optional<Expected> expected_;
  bool active_ = false;
  GDBusConnection* session_ = nullptr;
  bool sessionTried_ = false;
  bool switchedOn_ = false;
  bool switchTried_ = false;
  GRef<AtspiEventListener> listener_;
  GRef<AtspiAccessible> focused_;
  bool focusKnown_ = false;
  std::uint64_t focusChanges_ = 0;
  // The role of the focused object; emptied when focus moves or its role changes.
  std::optional<AXRoleName> focusedRole_;
  // The element last handed out as the focused one, with the name and description read then
  // (nothing when that call failed); emptied when focus moves.
  struct Kept {
    std::weak_ptr<const AXElement::Node> element;
    std::optional<atspi::NameAndDescription> texts;
  };
  Kept kept_;
  std::map<std::int32_t, KnownApplication> applications_;
};

}  // namespace

std::unique_ptr<Accessibility> makeAccessibilityAtspi(AtspiDesktopSide side) {
  return std::make_unique<AtspiAccessibility>(std::move(side));
}

}  // namespace orvane
