// The event tap on an X11 desktop: XInput 2.2 raw events selected on the root window, which
// every client may read and which never change, hold back or take the user's input.
//
// Buttons 1 and 3 are the left and right types, 2 and 8 upwards the "other" types; buttons
// 4-7 are wheel detents, delivered as scroll events and never as clicks. Smooth-scrolling
// devices report scroll valuators instead, and the server adds emulated presses of buttons
// 4-7 for older clients: those carry the pointer-emulated flag and are skipped, so that a
// scroll is counted once. Pointer moves are moved/dragged by the buttons held. Key codes are
// macOS virtual key codes (input_mapping.cpp); modifier keys give flags-changed events. Key
// text comes from xkbcommon with the modifier state and layout of the moment, kept current
// from XKB state notifications. The pointer position is not part of a raw event: a key or
// button event takes the position of its own recorded core event (pointer_history_x11.hpp);
// a pointer move or a scroll by valuators, the position the server gives when asked. Either is
// converted to global points as the window-server backend counts them.
//
// The events come through the process's X session, read on the GLib main loop of the thread
// that adds the tap to its run loop, so the callback runs on that (the main) thread. X11 never
// disables a tap, so the two disabled notifications never come. "Cannot be created" means no X
// display or no XInput 2.2.
#include <glib-unix.h>
#include <glib.h>
#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon-x11.h>

// NOTE: xcb/xkb.h names a member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "event_tap.hpp"
#include "input_mapping.hpp"
#include "pointer_history_x11.hpp"
#include "x11_session.hpp"
#include "x11_util.hpp"

namespace orvane {
namespace {

using x11::adopt;

double fp3232(xcb_input_fp3232_t v) {
  return static_cast<double>(v.integral) + static_cast<double>(v.frac) / 4294967296.0;
}

class X11TapEvent : public TapEvent {
 public:
  X11TapEvent(std::function<Point()> locate, std::int64_t keyCode, std::string text,
              input::ScrollDelta scroll)
      : locate_(std::move(locate)), keyCode_(keyCode), text_(std::move(text)), scroll_(scroll) {}

  Point location() const override {
    if (!location_) location_ = locate_();
    return *location_;
  }
  std::int64_t keyCode() const override { return keyCode_; }
  std::string keyboardText() const override { return text_; }
  double scrollDeltaAxis1() const override { return scroll_.axis1; }
  double scrollDeltaAxis2() const override { return scroll_.axis2; }

 private:
  std::function<Point()> locate_;
  mutable std::optional<Point> location_;
  std::int64_t keyCode_;
  std::string text_;
  input::ScrollDelta scroll_;
};

// One scroll valuator of a device.
struct ScrollAxis {
  bool vertical = true;
  double increment = 1;
  bool absolute = false;
  std::optional<double> last;  // previous value of an absolute axis
};

class X11EventTap : public EventTap {
 public:
  X11EventTap(x11::Session& session, std::uint8_t xiOpcode, std::uint64_t mask,
              TapCallback callback)
      : session_(session),
        points_(session),
        recorded_(x11::RecordedPointer::open(session.connection())),
        inbox_(session.subscribe([this] { drain(); })),
        xiOpcode_(xiOpcode),
        mask_(mask),
        callback_(std::move(callback)) {
    select();
    if (wantsKeys()) setUpKeyboard();
    readDevices();
    xcb_flush(session_.connection());
  }

  ~X11EventTap() override {
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (context_) xkb_context_unref(context_);
  }

  void addToCurrentRunLoop() override {
    if (added_) return;
    added_ = true;
    // On the main thread's context: GLib's default one, or the one its run loop made its own.
    // Events read while setting up are already in the inbox, and count as ready there.
    GMainContext* context = g_main_context_get_thread_default();
    x11::watchEvents(session_, context);
  }

  void enable(bool enabled) override { enabled_ = enabled; }

  void flush() override {
    // The server handles requests and sends events in order: once the answer to this request
    // is in, every event the server made before it is in XCB's queue.
    auto* c = session_.connection();
    if (xcb_connection_has_error(c)) return;
    x11::reply<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus(c));
    if (recorded_) recorded_->drain();  // the positions of those events, sent before them
    drain();
  }

 private:
  bool wants(std::uint32_t type) const { return (mask_ & eventMaskBit(type)) != 0; }
  bool wantsKeys() const {
    return wants(kCGEventKeyDown) || wants(kCGEventKeyUp) || wants(kCGEventFlagsChanged);
  }
  bool wantsMotion() const {
    return wants(kCGEventMouseMoved) || wants(kCGEventLeftMouseDragged) ||
           wants(kCGEventRightMouseDragged) || wants(kCGEventOtherMouseDragged);
  }

  // Only what the mask asks for is selected: a tap of clicks alone never wakes on moves or keys.
  void select() {
    std::uint32_t bits = 0;
    const bool drags = wants(kCGEventLeftMouseDragged) || wants(kCGEventRightMouseDragged) ||
                       wants(kCGEventOtherMouseDragged);
    if (wants(kCGEventLeftMouseDown) || wants(kCGEventRightMouseDown) ||
        wants(kCGEventOtherMouseDown) || wants(kCGEventScrollWheel) || drags) {
      bits |= XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    }
    if (wants(kCGEventLeftMouseUp) || wants(kCGEventRightMouseUp) || wants(kCGEventOtherMouseUp) ||
        drags) {
      bits |= XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    }
    if (wantsMotion() || wants(kCGEventScrollWheel)) bits |= XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
    if (wants(kCGEventKeyDown) || wants(kCGEventFlagsChanged)) {
      bits |= XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS;
    }
    if (wants(kCGEventKeyUp) || wants(kCGEventFlagsChanged)) {
      bits |= XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
    }
    // Scroll valuators change when devices come and go; the server takes these two only for
    // all devices.
    std::uint32_t deviceBits = 0;
    if (wants(kCGEventScrollWheel)) {
      deviceBits = XCB_INPUT_XI_EVENT_MASK_HIERARCHY | XCB_INPUT_XI_EVENT_MASK_DEVICE_CHANGED;
    }
    struct Selection {
      xcb_input_event_mask_t head;
      std::uint32_t bits;
    };
    const Selection selections[] = {{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, bits},
                                    {{XCB_INPUT_DEVICE_ALL, 1}, deviceBits}};
    xcb_input_xi_select_events(session_.connection(), session_.root(), deviceBits ? 2 : 1,
                               &selections[0].head);
  }

  void setUpKeyboard() {
    auto* c = session_.connection();
    std::uint8_t firstEvent = 0;
    // libxkbcommon waits for its replies with no deadline: it is asked only of a server that
    // has just answered.
    if (!x11::extension(c, &xcb_xkb_id)) return;
    auto keyboard = std::make_shared<std::int32_t>(-1);
    auto event = std::make_shared<std::uint8_t>(0);
    const bool answered = x11::runWithin([c, keyboard, event] {
      if (xkb_x11_setup_xkb_extension(
              c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
              XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, event.get(), nullptr)) {
        *keyboard = xkb_x11_get_core_keyboard_device_id(c);
      }
    });
    if (!answered || *keyboard < 0) return;  // keys still come, without text
    firstEvent = *event;
    xkbEvent_ = firstEvent;
    keyboard_ = *keyboard;
    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context_) return;
    loadKeymap();
    const std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                 XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    const std::uint16_t mapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
        XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_MODIFIER_BASE | XCB_XKB_STATE_PART_MODIFIER_LATCH |
                          XCB_XKB_STATE_PART_MODIFIER_LOCK | XCB_XKB_STATE_PART_GROUP_BASE |
                          XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    details.stateDetails = details.affectState;
    xcb_xkb_select_events_aux(c, static_cast<xcb_xkb_device_spec_t>(keyboard_), events, 0, 0,
                              mapParts, mapParts, &details);
  }

  // The keymap and its state afresh from the server (at start and when the layout changes).
  void loadKeymap() {
    auto* c = session_.connection();
    if (!context_ || !x11::sync(c)) return;
    struct Loaded {
      xkb_keymap* keymap = nullptr;
      xkb_state* state = nullptr;
    };
    auto loaded = std::make_shared<Loaded>();
    xkb_context* context = context_;
    const std::int32_t device = keyboard_;
    if (!x11::runWithin([loaded, context, c, device] {
          loaded->keymap =
              xkb_x11_keymap_new_from_device(context, c, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
          if (loaded->keymap) {
            loaded->state = xkb_x11_state_new_from_device(loaded->keymap, c, device);
          }
        })) {
      // Left to the read that goes on (libxkbcommon's objects are not shared between
      // threads): keys come without text from here on.
      context_ = nullptr;
      return;
    }
    xkb_keymap* keymap = loaded->keymap;
    xkb_state* state = loaded->state;
    if (!keymap) return;
    if (!state) {
      xkb_keymap_unref(keymap);
      return;
    }
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = state;
  }

  // The scroll valuators of every device.
  void readDevices() {
    scrollAxes_.clear();
    if (!wants(kCGEventScrollWheel)) return;
    auto* c = session_.connection();
    auto reply = x11::reply<xcb_input_xi_query_device_reply_t>(
        c, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL));
    if (!reply) return;
    for (auto info = xcb_input_xi_query_device_infos_iterator(reply.get()); info.rem;
         xcb_input_xi_device_info_next(&info)) {
      std::map<std::uint16_t, bool> absolute;
      std::vector<std::pair<std::uint16_t, ScrollAxis>> axes;
      for (auto cls = xcb_input_xi_device_info_classes_iterator(info.data); cls.rem;
           xcb_input_device_class_next(&cls)) {
        if (cls.data->type == XCB_INPUT_DEVICE_CLASS_TYPE_VALUATOR) {
          const auto* v = reinterpret_cast<const xcb_input_valuator_class_t*>(cls.data);
          absolute[v->number] = v->mode == XCB_INPUT_VALUATOR_MODE_ABSOLUTE;
        } else if (cls.data->type == XCB_INPUT_DEVICE_CLASS_TYPE_SCROLL) {
          const auto* s = reinterpret_cast<const xcb_input_scroll_class_t*>(cls.data);
          ScrollAxis axis;
          axis.vertical = s->scroll_type == XCB_INPUT_SCROLL_TYPE_VERTICAL;
          const double increment = fp3232(s->increment);
          axis.increment = increment != 0 ? increment : 1;
          axes.emplace_back(s->number, axis);
        }
      }
      for (auto& [number, axis] : axes) {
        axis.absolute = absolute[number];
        scrollAxes_[{info.data->deviceid, number}] = axis;
      }
    }
  }

  bool reportCatchUp(std::function<std::uint64_t()> mark,
                     std::function<void(std::uint64_t)> caughtUp) override {
    mark_ = std::move(mark);
    caughtUp_ = std::move(caughtUp);
    return true;
  }

  void catchUp() override {
    if (!xcb_connection_has_error(session_.connection())) drain();
  }

  // Every event read so far, including those queued while the callback asked the server for
  // the pointer. Once none is left, the mark is taken and the socket read once more: when that
  // brings nothing, every later event was sent after the mark.
  void drain() {
    std::optional<std::uint64_t> mark;
    for (;;) {
      session_.pump();
      auto events = inbox_->take();
      if (events.empty()) {
        if (!mark_) return;
        if (mark) {
          caughtUp_(*mark);
          return;
        }
        mark = mark_();
        continue;
      }
      mark.reset();
      for (const auto& event : events) handle(event.get());
    }
  }

  void handle(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_GE_GENERIC) {
      const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
      if (ge->extension == xiOpcode_) handleInput(ge->event_type, event);
    } else if (xkbEvent_ && type == xkbEvent_) {
      handleKeyboard(event);
    }
  }

  void handleKeyboard(const xcb_generic_event_t* event) {
    const std::uint8_t xkbType = reinterpret_cast<const std::uint8_t*>(event)[1];
    if (xkbType == XCB_XKB_STATE_NOTIFY) {
      const auto* s = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
      if (state_ && s->deviceID == keyboard_) {
        xkb_state_update_mask(state_, s->baseMods, s->latchedMods, s->lockedMods,
                              static_cast<xkb_layout_index_t>(s->baseGroup),
                              static_cast<xkb_layout_index_t>(s->latchedGroup),
                              static_cast<xkb_layout_index_t>(s->lockedGroup));
      }
    } else if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY) {
      loadKeymap();
    }
  }

  void handleInput(std::uint16_t type, const xcb_generic_event_t* event) {
    switch (type) {
      case XCB_INPUT_RAW_BUTTON_PRESS:
      case XCB_INPUT_RAW_BUTTON_RELEASE:
        handleButton(reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event),
                     type == XCB_INPUT_RAW_BUTTON_PRESS);
        break;
      case XCB_INPUT_RAW_MOTION:
        handleMotion(reinterpret_cast<const xcb_input_raw_motion_event_t*>(event));
        break;
      case XCB_INPUT_RAW_KEY_PRESS:
      case XCB_INPUT_RAW_KEY_RELEASE:
        handleKey(reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event),
                  type == XCB_INPUT_RAW_KEY_PRESS);
        break;
      case XCB_INPUT_HIERARCHY:
      case XCB_INPUT_DEVICE_CHANGED:
        readDevices();
        break;
      default:
        break;
    }
  }

  void handleButton(const xcb_input_raw_button_press_event_t* e, bool press) {
    const std::uint8_t coreType = press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE;
    const auto detail = static_cast<std::uint8_t>(e->detail);
    // Wheel presses the server makes up for a smooth scroll: the valuators have it already.
    if (e->flags & XCB_INPUT_POINTER_EVENT_FLAGS_POINTER_EMULATED) {
      if (recorded_) recorded_->skip(coreType, detail);
      return;
    }
    const std::uint32_t button = e->detail;
    recordedAs_ = {coreType, detail};
    if (auto scroll = input::wheelButtonDelta(button)) {
      if (press) deliver(kCGEventScrollWheel, 0, {}, *scroll);
      return;
    }
    if (button == 1)
      held_.left = press;
    else if (button == 3)
      held_.right = press;
    else if (button != 0)
      held_.other = press;
    if (auto cgType = input::buttonEventType(button, press)) deliver(*cgType, 0, {}, {});
  }

  void handleMotion(const xcb_input_raw_motion_event_t* e) {
    const auto* bits = xcb_input_raw_button_press_valuator_mask(e);
    const auto* values = xcb_input_raw_button_press_axisvalues(e);
    const int words = e->valuators_len;
    bool moved = false;
    input::ScrollDelta scroll;
    bool scrolled = false;
    int index = 0;  // of the value, among the valuators present
    for (int word = 0; word < words; ++word) {
      for (int bit = 0; bit < 32; ++bit) {
        if (!(bits[word] & (1u << bit))) continue;
        const auto number = static_cast<std::uint16_t>(word * 32 + bit);
        const double value = fp3232(values[index++]);
        auto axis = scrollAxes_.find({e->sourceid, number});
        if (axis == scrollAxes_.end()) axis = scrollAxes_.find({e->deviceid, number});
        if (axis == scrollAxes_.end()) {
          moved = true;
          continue;
        }
        ScrollAxis& a = axis->second;
        double delta = value;
        if (a.absolute) {
          delta = a.last ? value - *a.last : 0;
          a.last = value;
        }
        if (delta == 0) continue;
        // A positive valuator scrolls down (or right); macOS counts up (or left) as positive.
        (a.vertical ? scroll.axis1 : scroll.axis2) -= delta / a.increment;
        scrolled = true;
      }
    }
    recordedAs_.reset();
    if (scrolled && wants(kCGEventScrollWheel)) deliver(kCGEventScrollWheel, 0, {}, scroll);
    if (moved) {
      const std::uint32_t cgType = input::motionEventType(held_);
      if (wants(cgType)) deliver(cgType, 0, {}, {});
    }
  }

  void handleKey(const xcb_input_raw_key_press_event_t* e, bool press) {
    const std::uint32_t keycode = e->detail;
    recordedAs_ = {press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, static_cast<std::uint8_t>(keycode)};
    const auto key = keycode >= 8 ? input::macKeyFromEvdev(keycode - 8) : std::nullopt;
    const std::int64_t code = key ? key->keyCode : -1;
    if (key && key->modifier) {
      if (wants(kCGEventFlagsChanged)) deliver(kCGEventFlagsChanged, code, {}, {});
      return;
    }
    const std::uint32_t cgType = press ? kCGEventKeyDown : kCGEventKeyUp;
    if (!wants(cgType)) return;
    std::string text;
    if (state_) {
      char buffer[64] = {};
      const int length = xkb_state_key_get_utf8(state_, keycode, buffer, sizeof buffer);
      if (length > 0 && static_cast<std::size_t>(length) < sizeof buffer) {
        text = input::keyboardTextOf(std::string_view(buffer, static_cast<std::size_t>(length)));
      }
    }
    deliver(cgType, code, std::move(text), {});
  }

  void deliver(std::uint32_t type, std::int64_t keyCode, std::string text,
               input::ScrollDelta scroll) {
    if (!enabled_ || !wants(type) || !callback_) return;
    X11TapEvent event([this, as = recordedAs_] { return pointer(as); }, keyCode, std::move(text),
                      scroll);
    callback_(type, event);
  }

  // The recorded event of the raw event being handled: its core type and detail.
  using RecordedAs = std::optional<std::pair<std::uint8_t, std::uint8_t>>;

  Point pointer(RecordedAs as) {
    if (recorded_ && as) {
      if (auto at = recorded_->match(as->first, as->second)) return points_.toPoints(at->x, at->y);
    }
    // NOTE: for moves and valuator scrolls, and without RECORD (or once it fails), the position
    // is the one of the moment the callback asks, which a recorder held up can see after the
    // pointer has moved on.
    auto* c = session_.connection();
    auto reply = x11::reply<xcb_query_pointer_reply_t>(c, xcb_query_pointer(c, session_.root()));
    if (!reply) return {};
    return points_.toPoints(reply->root_x, reply->root_y);
  }

  x11::Session& session_;
  x11::PointMapping points_;
  std::unique_ptr<x11::RecordedPointer> recorded_;  // null without RECORD
  std::shared_ptr<x11::Inbox> inbox_;               // this tap's events
  std::uint8_t xiOpcode_;
  std::uint64_t mask_;
  TapCallback callback_;
  std::function<std::uint64_t()> mark_;
  std::function<void(std::uint64_t)> caughtUp_;
  bool enabled_ = false;
  bool added_ = false;
  input::HeldButtons held_;
  RecordedAs recordedAs_;  // of the raw event being handled
  std::map<std::pair<std::uint16_t, std::uint16_t>, ScrollAxis> scrollAxes_;
  std::uint8_t xkbEvent_ = 0;
  std::int32_t keyboard_ = -1;
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_state* state_ = nullptr;
};

class X11EventTaps : public EventTaps {
 public:
  std::unique_ptr<EventTap> createListenOnlyTap(std::uint64_t mask, TapCallback callback) override {
    x11::Session* session = x11::Session::get();
    later_ = !session || !session->usable();
    if (!session) return nullptr;
    auto* c = session->connection();
    const auto* xi = x11::extension(c, &xcb_input_id);
    if (!xi) return nullptr;
    auto version =
        x11::reply<xcb_input_xi_query_version_reply_t>(c, xcb_input_xi_query_version(c, 2, 2));
    if (!version || version->major_version < 2 ||
        (version->major_version == 2 && version->minor_version < 2)) {
      return nullptr;
    }
    return std::make_unique<X11EventTap>(*session, xi->major_opcode, mask, std::move(callback));
  }

  bool tapMayComeLater() const override { return later_; }

 private:
  bool later_ = false;
};

}  // namespace

std::unique_ptr<EventTaps> makeEventTapsX11() { return std::make_unique<X11EventTaps>(); }

}  // namespace orvane
