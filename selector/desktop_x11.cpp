// The overlay desktop on X11: one override-redirect window per RandR monitor, the keyboard
// grab, pointer and key events in the macOS vocabulary, and Cairo drawing in points.
#include "overlay_desktop.hpp"

#include <cairo-xcb.h>
#include <glib.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcb_cursor.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "canvas_cairo.hpp"
#include "damage.hpp"
#include "input_mapping.hpp"
#include "lazy_libraries_linux.hpp"
#include "x11_session.hpp"
#include "x11_util.hpp"

namespace orvane::selector::linux_ui {

using orvane::x11::adopt;

namespace {

constexpr std::uint32_t kOverlayEvents =
    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
    XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_LEAVE_WINDOW |
    XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;

struct Overlay {
  Monitor monitor;
  xcb_window_t window = XCB_WINDOW_NONE;
  xcb_pixmap_t back = XCB_NONE;            // what the window shows, kept for exposures
  cairo_surface_t* backSurface = nullptr;  // made at the first painting
  bool shown = false;
  bool painted = false;
  Rect bounds;  // points
};

class X11Desktop final : public Desktop {
 public:
  bool connect() override {
    session_ = orvane::x11::Session::get();
    if (!session_ || !session_->usable()) return false;
    c_ = session_->connection();
    screen_ = session_->screen();
    root_ = session_->root();
    return true;
  }

  void start() override {
    if (started_) return;
    started_ = true;
    xcb_connection_t* c = c_;
    const std::string cm = "_NET_WM_CM_S" + std::to_string(session_->screenNumber());
    auto cmAtom = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(cm.size()), cm.c_str());
    auto layout = session_->requestLayout();
    if (auto reply = x11::reply<xcb_intern_atom_reply_t>(c, cmAtom)) {
      auto owner =
          x11::reply<xcb_get_selection_owner_reply_t>(c, xcb_get_selection_owner(c, reply->atom));
      composited_ = owner && owner->owner != XCB_WINDOW_NONE;
    }
    layout_ = session_->takeLayout(layout);
    scale_ = layout_.scale;
    for (const auto& m : layout_.monitors) {
      monitors_.push_back({m.id, static_cast<int>(m.pixels.x), static_cast<int>(m.pixels.y),
                           static_cast<int>(m.pixels.width), static_cast<int>(m.pixels.height),
                           layout_.toPoints(m.pixels)});
    }
    chooseVisual();
    // Other top-level windows that appear or move above the overlays.
    // Kept from here on, and read once the main loop runs.
    inbox_ = session_->subscribe([this] { drain(); });
    session_->selectEvents(root_, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
  }

  ~X11Desktop() override {
    if (raiseTimer_ != 0) g_source_remove(raiseTimer_);
    for (auto& o : overlays_) {
      if (o.backSurface) cairo_surface_destroy(o.backSurface);
    }
    if (screenshotSurface_) cairo_surface_destroy(screenshotSurface_);
    if (xkbState_) xkb_state_unref(xkbState_);
    if (xkbKeymap_) xkb_keymap_unref(xkbKeymap_);
    if (xkbContext_) xkb_context_unref(xkbContext_);
  }

  void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  double scale() const override { return scale_; }
  bool composited() const override { return composited_; }
  std::vector<Monitor> monitors() override { return monitors_; }

  std::size_t createOverlay(const Monitor& monitor) override {
    if (!composited_ && screenshot_ == XCB_NONE) takeScreenshot();
    Overlay o;
    o.monitor = monitor;
    o.bounds = {0, 0, monitor.width / scale_, monitor.height / scale_};
    o.window = xcb_generate_id(c_);
    const auto w = static_cast<std::uint16_t>(std::max(monitor.width, 1));
    const auto h = static_cast<std::uint16_t>(std::max(monitor.height, 1));
    // Value order follows the attribute bits: background, border pixel, override-redirect,
    // event mask, colormap. Until its first painting a translucent overlay is clear; an opaque
    // one keeps showing the screen (no background of its own).
    const std::uint32_t mask = (composited_ ? XCB_CW_BACK_PIXEL : XCB_CW_BACK_PIXMAP) |
                               XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK |
                               XCB_CW_COLORMAP;
    const std::uint32_t values[] = {composited_ ? 0u : std::uint32_t{XCB_BACK_PIXMAP_NONE}, 0, 1,
                                    kOverlayEvents, colormap_};
    xcb_create_window(c_, depth_, o.window, root_, static_cast<std::int16_t>(monitor.x),
                      static_cast<std::int16_t>(monitor.y), w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      visual_->visual_id, mask, values);
    session_->noteEventMask(o.window, kOverlayEvents);
    setProperties(o.window);
    o.back = xcb_generate_id(c_);
    xcb_create_pixmap(c_, depth_, o.back, o.window, w, h);
    overlays_.push_back(o);
    return overlays_.size() - 1;
  }

  void showOverlay(std::size_t i) override {
    if (i >= overlays_.size()) return;
    Overlay& o = overlays_[i];
    xcb_map_window(c_, o.window);
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c_, o.window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    o.shown = true;
    // The cursor is read from its theme once the map is on its way: its round trips send it.
    if (cursor() != XCB_CURSOR_NONE) {
      xcb_change_window_attributes(c_, o.window, XCB_CW_CURSOR, &cursor_);
    }
  }

  void raiseAll() override {
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    for (const auto& o : overlays_) {
      xcb_configure_window(c_, o.window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    }
    xcb_flush(c_);
  }

  bool takeKeyboard(std::size_t i) override {
    if (i >= overlays_.size()) return false;
    // An overlay not mapped yet can take neither the focus nor the grab: spare the round trip.
    if (!overlays_[i].shown) {
      grabbed_ = false;
      focused_ = i;
      return false;
    }
    const xcb_window_t w = overlays_[i].window;
    xcb_set_input_focus(c_, XCB_INPUT_FOCUS_PARENT, w, XCB_CURRENT_TIME);
    auto reply = x11::reply<xcb_grab_keyboard_reply_t>(
        c_,
        xcb_grab_keyboard(c_, 0, w, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    grabbed_ = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    if (grabbed_) keyOverlay_ = i;
    focused_ = i;
    return grabbed_;
  }

  bool holdsKeyboard() const override { return grabbed_; }

  std::optional<std::size_t> keyOverlay() const override {
    if (grabbed_) return keyOverlay_;
    return focused_;
  }

  void paint(std::size_t i, const std::vector<Rect>& dirty, const Painter& painter) override {
    if (i >= overlays_.size()) return;
    Overlay& o = overlays_[i];
    const auto pixels = damagedPixels(dirty, !o.painted, o.bounds.height, scale_, o.monitor.width,
                                      o.monitor.height);
    if (pixels.empty()) return;
    if (!o.backSurface) {
      // Cairo's first surface on the connection asks the server a few questions: after the map.
      // Cairo waits for those answers with no deadline: only a server that has just answered
      // is asked.
      if (!x11::sync(c_)) return;
      o.backSurface = cairo_xcb_surface_create(c_, o.back, visual_, std::max(o.monitor.width, 1),
                                               std::max(o.monitor.height, 1));
    }
    repaintPixels(
        o.backSurface, pixels, scale_, o.bounds, [&](cairo_t* cr) { fillWithBackground(cr, i); },
        painter);
    o.painted = true;
    for (const auto& p : pixels) {
      xcb_copy_area(c_, o.back, o.window, gc(), static_cast<std::int16_t>(p.x),
                    static_cast<std::int16_t>(p.y), static_cast<std::int16_t>(p.x),
                    static_cast<std::int16_t>(p.y), static_cast<std::uint16_t>(p.width),
                    static_cast<std::uint16_t>(p.height));
    }
    xcb_flush(c_);
  }

  void fillWithBackground(cairo_t* cr, std::size_t i) override {
    cairo_save(cr);
    if (!composited_ && !screenshotSurface_ && screenshot_ != XCB_NONE && rootVisualType_ &&
        x11::sync(c_)) {
      screenshotSurface_ = cairo_xcb_surface_create(
          c_, screenshot_, rootVisualType_, screen_->width_in_pixels, screen_->height_in_pixels);
    }
    if (composited_ || !screenshotSurface_) {
      // NOTE: without a compositor and without a screenshot this paints black; only an
      // unreadable root window leads there.
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    } else {
      const Monitor& m = overlays_.at(i).monitor;
      cairo_pattern_t* pattern = cairo_pattern_create_for_surface(screenshotSurface_);
      cairo_matrix_t matrix;
      cairo_matrix_init(&matrix, scale_, 0, 0, scale_, m.x, m.y);
      cairo_pattern_set_matrix(pattern, &matrix);
      cairo_set_source(cr, pattern);
      cairo_pattern_destroy(pattern);
      cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    }
    cairo_fill_preserve(cr);
    cairo_restore(cr);
  }

  void attachToMainLoop() override { orvane::x11::watchEvents(*session_, nullptr); }

  void flush() override { xcb_flush(c_); }

 private:
  // The events the overlays answer; the session reads others for other readers.
  static bool handled(std::uint8_t type) {
    switch (type) {
      case XCB_MOTION_NOTIFY:
      case XCB_BUTTON_PRESS:
      case XCB_BUTTON_RELEASE:
      case XCB_LEAVE_NOTIFY:
      case XCB_KEY_PRESS:
      case XCB_FOCUS_IN:
      case XCB_FOCUS_OUT:
      case XCB_EXPOSE:
      case XCB_MAP_NOTIFY:
      case XCB_CONFIGURE_NOTIFY:
      case XCB_MAPPING_NOTIFY:
        return true;
      default:
        return false;
    }
  }

  void drain() {
    if (!inbox_) return;
    if (session_->broken()) {
      // The X server went away: nothing more can be shown or chosen.
      inbox_.reset();
      if (handlers_.displayLost) handlers_.displayLost();
      return;
    }
    std::vector<orvane::x11::Event> events;
    for (auto& e : inbox_->take()) {
      if (handled(e->response_type & 0x7f)) events.push_back(std::move(e));
    }
    for (std::size_t k = 0; k < events.size(); ++k) {
      const xcb_generic_event_t* e = events[k].get();
      const std::uint8_t type = e->response_type & 0x7f;
      // Only the latest of consecutive pointer movements matters: the controller samples
      // the pointer itself.
      if (type == XCB_MOTION_NOTIFY && k + 1 < events.size() &&
          (events[k + 1]->response_type & 0x7f) == XCB_MOTION_NOTIFY) {
        continue;
      }
      handle(e, type);
    }
  }

  std::optional<std::size_t> indexOf(xcb_window_t w) const {
    for (std::size_t i = 0; i < overlays_.size(); ++i) {
      if (overlays_[i].window == w) return i;
    }
    return std::nullopt;
  }

  // Window pixels to view points (origin bottom-left).
  std::pair<double, double> viewPoint(std::size_t i, int x, int y) const {
    return {x / scale_, overlays_[i].bounds.height - y / scale_};
  }

  void handle(const xcb_generic_event_t* e, std::uint8_t type) {
    switch (type) {
      case XCB_MOTION_NOTIFY: {
        auto* m = reinterpret_cast<const xcb_motion_notify_event_t*>(e);
        if (auto i = indexOf(m->event)) {
          auto [x, y] = viewPoint(*i, m->event_x, m->event_y);
          if ((m->state & XCB_BUTTON_MASK_1) && handlers_.dragged) {
            handlers_.dragged(*i, x, y);
          } else if (handlers_.pointerMoved) {
            handlers_.pointerMoved(*i, x, y);
          }
        }
        break;
      }
      case XCB_BUTTON_PRESS:
      case XCB_BUTTON_RELEASE: {
        auto* b = reinterpret_cast<const xcb_button_press_event_t*>(e);
        if (b->detail != XCB_BUTTON_INDEX_1) break;
        if (auto i = indexOf(b->event)) {
          auto [x, y] = viewPoint(*i, b->event_x, b->event_y);
          auto& handler =
              type == XCB_BUTTON_PRESS ? handlers_.buttonPressed : handlers_.buttonReleased;
          if (handler) handler(*i, x, y);
        }
        break;
      }
      case XCB_LEAVE_NOTIFY: {
        auto* l = reinterpret_cast<const xcb_leave_notify_event_t*>(e);
        if (auto i = indexOf(l->event); i && handlers_.pointerLeft) handlers_.pointerLeft(*i);
        break;
      }
      case XCB_KEY_PRESS: {
        auto* k = reinterpret_cast<const xcb_key_press_event_t*>(e);
        if (handlers_.keyPressed) handlers_.keyPressed(keyPress(k->detail, k->state));
        break;
      }
      case XCB_FOCUS_IN: {
        auto* f = reinterpret_cast<const xcb_focus_in_event_t*>(e);
        if (auto i = indexOf(f->event); i && f->detail != XCB_NOTIFY_DETAIL_POINTER) focused_ = i;
        break;
      }
      case XCB_FOCUS_OUT: {
        auto* f = reinterpret_cast<const xcb_focus_out_event_t*>(e);
        if (!indexOf(f->event)) break;
        if (f->detail != XCB_NOTIFY_DETAIL_INFERIOR && f->detail != XCB_NOTIFY_DETAIL_POINTER &&
            focused_ == indexOf(f->event)) {
          focused_.reset();
        }
        if (f->detail == XCB_NOTIFY_DETAIL_INFERIOR || f->detail == XCB_NOTIFY_DETAIL_POINTER)
          break;
        // Taking the grab moves the focus with mode Grab, from the overlay to itself; while
        // the grab holds, no other client can take one, and focus moves do not matter.
        if (grabbed_ && f->mode != XCB_NOTIFY_MODE_UNGRAB) break;
        if (f->mode == XCB_NOTIFY_MODE_UNGRAB) grabbed_ = false;
        if (handlers_.activationLost) handlers_.activationLost();
        break;
      }
      case XCB_EXPOSE: {
        auto* x = reinterpret_cast<const xcb_expose_event_t*>(e);
        auto i = indexOf(x->window);
        if (!i) break;
        if (overlays_[*i].painted) {
          xcb_copy_area(c_, overlays_[*i].back, x->window, gc(), x->x, x->y, x->x, x->y, x->width,
                        x->height);
        } else if (x->count == 0 && handlers_.exposed) {
          handlers_.exposed(*i);
        }
        break;
      }
      case XCB_MAP_NOTIFY: {
        // Another top-level window appeared (a dock, a menu): stay above it.
        auto* m = reinterpret_cast<const xcb_map_notify_event_t*>(e);
        if (m->event == root_ && !indexOf(m->window)) raiseAgain();
        break;
      }
      case XCB_CONFIGURE_NOTIFY: {
        auto* c = reinterpret_cast<const xcb_configure_notify_event_t*>(e);
        // A window restacked directly above one of the overlays.
        if (c->event == root_ && !indexOf(c->window) && indexOf(c->above_sibling)) raiseAgain();
        break;
      }
      case XCB_MAPPING_NOTIFY:
        if (xkbState_) {
          xkb_state_unref(xkbState_);
          xkb_keymap_unref(xkbKeymap_);
          xkbState_ = nullptr;
          xkbKeymap_ = nullptr;
        }
        break;
      default:
        break;
    }
  }

  // Raises the overlays in answer to another window's move; at most a few times a second, so
  // that a client doing the same never turns it into a contest.
  void raiseAgain() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastReactiveRaise_ >= kReactiveRaiseInterval) {
      lastReactiveRaise_ = now;
      raiseAll();
      return;
    }
    // Too soon after the last one: once more when the interval is over.
    if (raiseTimer_ != 0) return;
    raiseTimer_ = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(kReactiveRaiseInterval.count()),
        [](gpointer data) {
          auto* self = static_cast<X11Desktop*>(data);
          self->raiseTimer_ = 0;
          self->lastReactiveRaise_ = std::chrono::steady_clock::now();
          self->raiseAll();
          return gboolean{G_SOURCE_REMOVE};
        },
        this, nullptr);
  }

  // The keymap is read at the first key press, which keeps it off the start-up path.
  KeyPress keyPress(xcb_keycode_t code, std::uint16_t state) {
    if (!xkbState_ && !xkbFailed_) loadKeymap();
    std::uint32_t sym = XKB_KEY_NoSymbol;
    std::string text;
    if (xkbState_) {
      // The level follows Shift, Caps Lock and the group; Control does not change it.
      xkb_state_update_mask(xkbState_, state & 0xff, 0, 0, 0, 0, (state >> 13) & 3);
      sym = xkb_state_key_get_one_sym(xkbState_, code);
      char buffer[16];
      const int n = xkb_keysym_to_utf8(sym, buffer, sizeof buffer);
      if (n > 1) text.assign(buffer, static_cast<std::size_t>(n - 1));
    }
    return translateKey(code, sym, state, text);
  }

  void loadKeymap() {
    xkbFailed_ = true;
    // libxkbcommon waits for its replies with no deadline: it is asked only of a server that has
    // just answered, on a thread of its own that is left behind when it takes too long.
    if (!x11::sync(c_)) return;
    if (!xkbContext_) xkbContext_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!xkbContext_) return;
    auto keymap = std::make_shared<xkb_keymap*>(nullptr);
    xkb_context* context = xkbContext_;
    xcb_connection_t* c = c_;
    if (!x11::runWithin([keymap, context, c] {
          if (!xkb_x11_setup_xkb_extension(
                  c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                  XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
            return;
          }
          const std::int32_t device = xkb_x11_get_core_keyboard_device_id(c);
          if (device < 0) return;
          *keymap = xkb_x11_keymap_new_from_device(context, c, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
        })) {
      xkbContext_ = nullptr;  // left to the read that goes on
      return;
    }
    xkbKeymap_ = *keymap;
    if (!xkbKeymap_) return;
    xkbState_ = xkb_state_new(xkbKeymap_);
    xkbFailed_ = xkbState_ == nullptr;
  }

  void chooseVisual() {
    const xcb_visualid_t rootVisual = screen_->root_visual;
    std::uint8_t wantDepth = composited_ ? 32 : screen_->root_depth;
    for (auto d = xcb_screen_allowed_depths_iterator(screen_); d.rem; xcb_depth_next(&d)) {
      for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
        if (composited_) {
          if (d.data->depth == 32 && v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && !visual_) {
            visual_ = v.data;
          }
        } else if (v.data->visual_id == rootVisual) {
          visual_ = v.data;
        }
        if (v.data->visual_id == rootVisual) rootVisualType_ = v.data;
      }
    }
    if (!visual_) {
      // A compositor without a 32-bit visual: paint as without one.
      composited_ = false;
      visual_ = rootVisualType_;
      wantDepth = screen_->root_depth;
    }
    depth_ = wantDepth;
    if (composited_) {
      colormap_ = xcb_generate_id(c_);
      xcb_create_colormap(c_, XCB_COLORMAP_ALLOC_NONE, colormap_, root_, visual_->visual_id);
    } else {
      colormap_ = screen_->default_colormap;
    }
  }

  // The screen as it is before the overlays appear, kept on the server.
  void takeScreenshot() {
    const auto w = screen_->width_in_pixels, h = screen_->height_in_pixels;
    screenshot_ = xcb_generate_id(c_);
    xcb_create_pixmap(c_, screen_->root_depth, screenshot_, root_, w, h);
    const xcb_gcontext_t copyGc = xcb_generate_id(c_);
    // Values in the order of their bits: subwindow mode (1 << 15), graphics exposures (1 << 16).
    const std::uint32_t values[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(c_, copyGc, root_, XCB_GC_GRAPHICS_EXPOSURES | XCB_GC_SUBWINDOW_MODE, values);
    xcb_copy_area(c_, root_, screenshot_, copyGc, 0, 0, 0, 0, w, h);
    xcb_free_gc(c_, copyGc);
  }

  xcb_gcontext_t gc() {
    if (gc_ == XCB_NONE && !overlays_.empty()) {
      gc_ = xcb_generate_id(c_);
      const std::uint32_t values[] = {0};
      xcb_create_gc(c_, gc_, overlays_.front().back, XCB_GC_GRAPHICS_EXPOSURES, values);
    }
    return gc_;
  }

  xcb_cursor_t cursor() {
    if (!cursorLoaded_) {
      cursorLoaded_ = true;
      xcb_cursor_context_t* ctx = nullptr;
      // The cursor library asks its questions with no deadline, as cairo does.
      if (x11::sync(c_) && xcb_cursor_context_new(c_, screen_, &ctx) >= 0) {
        // "hand2" is the pointing hand of the core cursor font and of cursor themes alike.
        cursor_ = xcb_cursor_load_cursor(ctx, "hand2");
        xcb_cursor_context_free(ctx);
      }
    }
    return cursor_;
  }

  void setProperties(xcb_window_t w) {
    static constexpr char kName[] = "orvane-capture-selector";
    static constexpr char kClass[] = "orvane-capture-selector\0Orvane-capture-selector";
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof kName - 1, kName);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof kClass, kClass);
  }

  orvane::x11::Session* session_ = nullptr;
  xcb_connection_t* c_ = nullptr;
  bool started_ = false;
  xcb_screen_t* screen_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  Handlers handlers_;
  orvane::x11::Layout layout_;
  double scale_ = 1;
  bool composited_ = false;
  std::vector<Monitor> monitors_;
  std::vector<Overlay> overlays_;
  xcb_visualtype_t* visual_ = nullptr;
  xcb_visualtype_t* rootVisualType_ = nullptr;
  std::uint8_t depth_ = 24;
  xcb_colormap_t colormap_ = XCB_NONE;
  xcb_pixmap_t screenshot_ = XCB_NONE;
  cairo_surface_t* screenshotSurface_ = nullptr;
  xcb_gcontext_t gc_ = XCB_NONE;
  bool cursorLoaded_ = false;
  xcb_cursor_t cursor_ = XCB_CURSOR_NONE;
  bool grabbed_ = false;
  std::size_t keyOverlay_ = 0;
  xkb_context* xkbContext_ = nullptr;
  xkb_keymap* xkbKeymap_ = nullptr;
  xkb_state* xkbState_ = nullptr;
  bool xkbFailed_ = false;
  std::shared_ptr<orvane::x11::Inbox> inbox_;  // from start() on
  std::optional<std::size_t> focused_;
  static constexpr std::chrono::milliseconds kReactiveRaiseInterval{100};
  std::chrono::steady_clock::time_point lastReactiveRaise_{};
  guint raiseTimer_ = 0;  // a raise waiting for the interval to pass
};

}  // namespace

std::unique_ptr<Desktop> Desktop::make() { return std::make_unique<X11Desktop>(); }

}  // namespace orvane::selector::linux_ui
