#include "desktop_wayland.hpp"

#include <fcntl.h>
#include <glib.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-cursor.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "canvas_cairo.hpp"
#include "compositor.hpp"
#include "damage.hpp"
#include "sway_ipc.hpp"

// NOTE: the generated layer-shell header names an argument `namespace`, a C++ keyword.
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"
// Last: Cairo and xkbcommon are loaded when a selection starts, as on X11.
#include "lazy_libraries_linux.hpp"

namespace orvane::selector::wayland {

DisplayId displayIdForOutput(const Rect& frame, const std::string& name,
                             const std::vector<std::pair<DisplayId, Rect>>& displays) {
  auto near = [](double a, double b) { return std::abs(a - b) < 0.5; };
  for (const auto& [id, bounds] : displays) {
    if (near(bounds.x, frame.x) && near(bounds.y, frame.y) && near(bounds.width, frame.width) &&
        near(bounds.height, frame.height)) {
      return id;
    }
  }
  // FNV-1a of the name: stable across runs.
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  return hash == 0 ? 1 : hash;
}

namespace {

class SelectorWindowServer final : public WindowServer {
 public:
  explicit SelectorWindowServer(std::shared_ptr<SharedState> shared) : shared_(std::move(shared)) {}
  std::optional<std::vector<RecordValue>> copyWindowInfo(std::uint32_t options,
                                                         std::uint32_t relativeTo) override {
    return inner().copyWindowInfo(options, relativeTo);
  }
  std::uint32_t activeDisplayCount() override { return inner().activeDisplayCount(); }
  std::vector<DisplayId> activeDisplays(std::uint32_t capacity) override {
    return inner().activeDisplays(capacity);
  }
  Rect displayBounds(DisplayId display) override { return inner().displayBounds(display); }
  DisplayId mainDisplayId() override { return inner().mainDisplayId(); }
  std::optional<Point> cursorLocation() override {
    if (shared_->pointer) return shared_->pointer;
    return inner().cursorLocation();
  }
  std::vector<ScreenInfo> screens() override { return inner().screens(); }

 private:
  WindowServer& inner() { return shared_->windowServer(); }
  std::shared_ptr<SharedState> shared_;
};

// X11 modifier bits, which the key translation shared with X11 reads.
constexpr std::uint16_t kXShift = 1, kXLock = 2, kXControl = 4, kXMod1 = 8, kXMod4 = 64;

struct Output {
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  std::uint32_t global = 0;
  int scale = 1;
  std::string name;
  int x = 0, y = 0, width = 0, height = 0;  // layout (logical) coordinates
  bool haveLogical = false;
};

struct Buffer {
  wl_buffer* buffer = nullptr;
  void* data = nullptr;
  std::size_t size = 0;
  bool busy = false;
};

struct Overlay {
  linux_ui::Monitor monitor;
  std::size_t output = 0;
  int scale = 1;
  int pixelWidth = 0, pixelHeight = 0;
  wl_surface* surface = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  // Where the compositor has no layer shell: a toplevel that it places over the output.
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  std::string title;
  bool configured = false;
  bool shown = false;
  bool presentPending = false;
  Buffer buffers[2];
  cairo_surface_t* back = nullptr;  // what the overlay shows, painted in place
  bool painted = false;
  Rect bounds;               // points
  std::vector<Rect> damage;  // pixels, not yet presented
};

class WaylandDesktop;

struct WaylandSource {
  GSource base;
  WaylandDesktop* desktop;
};

class WaylandDesktop final : public linux_ui::Desktop {
 public:
  explicit WaylandDesktop(std::shared_ptr<SharedState> shared) : shared_(std::move(shared)) {}

  ~WaylandDesktop() override {
    if (source_) {
      g_source_destroy(source_);
      g_source_unref(source_);
    }
    for (auto& o : overlays_) {
      for (auto& b : o.buffers) releaseBuffer(b);
      if (o.back) cairo_surface_destroy(o.back);
      if (o.layer) zwlr_layer_surface_v1_destroy(o.layer);
      if (o.toplevel) xdg_toplevel_destroy(o.toplevel);
      if (o.xdgSurface) xdg_surface_destroy(o.xdgSurface);
      if (o.surface) wl_surface_destroy(o.surface);
    }
    if (cursorSurface_) wl_surface_destroy(cursorSurface_);
    if (cursorTheme_) wl_cursor_theme_destroy(cursorTheme_);
    if (xkbState_) xkb_state_unref(xkbState_);
    if (xkbKeymap_) xkb_keymap_unref(xkbKeymap_);
    if (xkbContext_) xkb_context_unref(xkbContext_);
    if (display_) wl_display_disconnect(display_);
  }

  bool connect() override {
    // A stopped compositor leaves a client waiting in its queue for ever: connecting and the
    // first round trips share one deadline, and missing it is as if there were no compositor
    // (the host gets its cancellation). One whose IPC has already let its deadline pass is
    // stopped for the display too: it runs both from one loop.
    if (sharedCompositor().stalled()) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    display_ = connectDisplay(deadline);
    if (!display_) return false;
    registry_ = wl_display_get_registry(display_);
    static const wl_registry_listener registryListener = {&WaylandDesktop::global,
                                                          &WaylandDesktop::globalRemove};
    wl_registry_add_listener(registry_, &registryListener, this);
    // Globals, then what they tell of themselves (outputs' scales, names and layout).
    if (!roundtripBefore(deadline)) return false;
    if (xdgOutputs_) {
      for (auto& o : outputs_) watchXdgOutput(o);
    }
    if (!roundtripBefore(deadline)) return false;
    // Without a layer shell, overlays are toplevels that the compositor (GNOME Shell, through
    // our extension) places above everything.
    toplevels_ = !layerShell_ && wmBase_ && sharedCompositor().overlay() == OverlayKind::placed;
    // Without these nothing can be shown over the desktop.
    return compositor_ && shm_ && (layerShell_ || toplevels_) && !outputs_.empty();
  }

  void start() override {
    if (started_) return;
    started_ = true;
    // The main display is the output at the layout's origin, else the first one.
    std::size_t main = 0;
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      if (outputs_[i].x == 0 && outputs_[i].y == 0) {
        main = i;
        break;
      }
    }
    std::vector<std::pair<DisplayId, Rect>> displays;
    WindowServer& server = shared_->windowServer();
    for (DisplayId id : activeDisplayList(server))
      displays.emplace_back(id, server.displayBounds(id));
    const int ox = outputs_[main].x, oy = outputs_[main].y;
    auto monitorOf = [&](std::size_t i) {
      const Output& o = outputs_[i];
      linux_ui::Monitor m;
      m.frame = {double(o.x - ox), double(o.y - oy), double(o.width), double(o.height)};
      m.id = displayIdForOutput(m.frame, o.name, displays);
      m.x = o.x;
      m.y = o.y;
      m.width = o.width * o.scale;
      m.height = o.height * o.scale;
      return m;
    };
    monitors_.push_back(monitorOf(main));
    monitorOutput_.push_back(main);
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      if (i == main) continue;
      monitors_.push_back(monitorOf(i));
      monitorOutput_.push_back(i);
    }
  }

  void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  double scale() const override {
    return monitorOutput_.empty() ? 1.0 : outputs_[monitorOutput_.front()].scale;
  }
  // The compositor composites: the veil is translucent and no still image is needed.
  bool composited() const override { return true; }
  std::vector<linux_ui::Monitor> monitors() override { return monitors_; }

  std::size_t createOverlay(const linux_ui::Monitor& monitor) override {
    Overlay o;
    o.monitor = monitor;
    for (std::size_t i = 0; i < monitors_.size(); ++i) {
      if (monitors_[i].id == monitor.id) o.output = monitorOutput_[i];
    }
    const Output& out = outputs_[o.output];
    o.scale = std::max(out.scale, 1);
    o.bounds = {0, 0, double(out.width), double(out.height)};
    o.pixelWidth = std::max(out.width, 1) * o.scale;
    o.pixelHeight = std::max(out.height, 1) * o.scale;
    o.back = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, o.pixelWidth, o.pixelHeight);
    overlays_.push_back(o);
    return overlays_.size() - 1;
  }

  void showOverlay(std::size_t i) override {
    if (i >= overlays_.size() || overlays_[i].shown) return;
    Overlay& o = overlays_[i];
    o.shown = true;
    o.surface = wl_compositor_create_surface(compositor_);
    static const wl_surface_listener surfaceListener = {[](void*, wl_surface*, wl_output*) {},
                                                        [](void*, wl_surface*, wl_output*) {}};
    wl_surface_add_listener(o.surface, &surfaceListener, this);
    if (toplevels_) {
      showToplevel(i);
      return;
    }
    o.layer = zwlr_layer_shell_v1_get_layer_surface(
        layerShell_, o.surface, outputs_[o.output].output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
        "orvane-capture-selector");
    static const zwlr_layer_surface_v1_listener layerListener = {&WaylandDesktop::configure,
                                                                 &WaylandDesktop::closed};
    zwlr_layer_surface_v1_add_listener(o.layer, &layerListener, this);
    zwlr_layer_surface_v1_set_anchor(
        o.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                     ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(o.layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(o.layer, 1);  // exclusive
    wl_surface_set_buffer_scale(o.surface, o.scale);
    // The first commit carries no buffer; the compositor answers with a configure.
    wl_surface_commit(o.surface);
  }

  // The overlay layer is above every window, and so are placed toplevels: the compositor
  // keeps them there.
  void raiseAll() override {}

  // Exclusive keyboard interactivity gives the keyboard to the overlays; the compositor picks
  // which of them has it.
  bool takeKeyboard(std::size_t) override { return keyboardFocus_.has_value(); }
  bool holdsKeyboard() const override { return keyboardFocus_.has_value(); }
  std::optional<std::size_t> keyOverlay() const override { return keyboardFocus_; }

  void paint(std::size_t i, const std::vector<Rect>& dirty, const Painter& painter) override {
    if (i >= overlays_.size()) return;
    Overlay& o = overlays_[i];
    const double s = o.scale;
    const auto pixels =
        damagedPixels(dirty, !o.painted, o.bounds.height, s, o.pixelWidth, o.pixelHeight);
    if (pixels.empty()) return;
    linux_ui::repaintPixels(
        o.back, pixels, s, o.bounds, [&](cairo_t* cr) { fillWithBackground(cr, i); }, painter);
    o.painted = true;
    o.damage.insert(o.damage.end(), pixels.begin(), pixels.end());
    present(o);
  }

  void fillWithBackground(cairo_t* cr, std::size_t) override {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_fill_preserve(cr);
    cairo_restore(cr);
  }

  void attachToMainLoop() override {
    static GSourceFuncs funcs = {&prepare, &check, &dispatch, nullptr, nullptr, nullptr};
    source_ = g_source_new(&funcs, sizeof(WaylandSource));
    reinterpret_cast<WaylandSource*>(source_)->desktop = this;
    fdTag_ = g_source_add_unix_fd(source_, wl_display_get_fd(display_),
                                  static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_attach(source_, nullptr);
  }

  void flush() override {
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) lost();
  }

 private:
  // --- connecting ---

  // The display libwayland would connect to (WAYLAND_DISPLAY, else "wayland-0", in
  // XDG_RUNTIME_DIR unless it is a path), connected within the deadline. A socket handed down
  // by the parent (WAYLAND_SOCKET) is already connected.
  static wl_display* connectDisplay(std::chrono::steady_clock::time_point deadline) {
    if (const char* handed = std::getenv("WAYLAND_SOCKET"); handed && *handed)
      return wl_display_connect(nullptr);
    const char* name = std::getenv("WAYLAND_DISPLAY");
    std::string path = name && *name ? name : "wayland-0";
    if (!path.starts_with('/')) {
      const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      if (!runtime || !*runtime) return nullptr;
      path = std::string(runtime) + "/" + path;
    }
    bool stalled = false;
    const int fd = sway::connectUnixSocket(path, remaining(deadline), stalled);
    if (fd < 0) return nullptr;
    // libwayland reads and writes without waiting anyway, and expects the socket as its own
    // connect makes it.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return wl_display_connect_to_fd(fd);
  }

  static std::chrono::milliseconds remaining(std::chrono::steady_clock::time_point deadline) {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()));
  }

  // wl_display_roundtrip, given up at the deadline: false then, and when the connection fails.
  bool roundtripBefore(std::chrono::steady_clock::time_point deadline) {
    bool done = false;
    wl_callback* callback = wl_display_sync(display_);
    static const wl_callback_listener listener = {
        [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
    wl_callback_add_listener(callback, &listener, &done);
    bool ok = true;
    while (ok && !done) {
      if (wl_display_prepare_read(display_) != 0) {
        ok = wl_display_dispatch_pending(display_) >= 0;
        continue;
      }
      if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        ok = false;
        break;
      }
      pollfd p{wl_display_get_fd(display_), POLLIN, 0};
      const int n = ::poll(&p, 1, static_cast<int>(remaining(deadline).count()));
      if (n <= 0) {
        wl_display_cancel_read(display_);
        if (n < 0 && errno == EINTR) continue;
        ok = false;  // the deadline passed, or the socket failed
        break;
      }
      ok = wl_display_read_events(display_) >= 0 && wl_display_dispatch_pending(display_) >= 0;
    }
    wl_callback_destroy(callback);
    return ok && done;
  }

  // --- the main loop ---

  // The usual reading protocol of a Wayland client in someone else's loop: dispatch what is
  // queued, announce the read, flush, poll, then read or cancel.
  static gboolean prepare(GSource* source, gint* timeout) {
    auto* self = reinterpret_cast<WaylandSource*>(source)->desktop;
    *timeout = -1;
    if (self->gone_) return FALSE;
    if (self->reading_) return FALSE;
    while (wl_display_prepare_read(self->display_) != 0) {
      if (wl_display_dispatch_pending(self->display_) < 0) {
        self->lost();
        return FALSE;
      }
    }
    self->reading_ = true;
    if (wl_display_flush(self->display_) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(self->display_);
      self->reading_ = false;
      self->lost();
    }
    return FALSE;
  }

  static gboolean check(GSource* source) {
    auto* self = reinterpret_cast<WaylandSource*>(source)->desktop;
    if (!self->reading_) return self->gone_;
    self->reading_ = false;
    const auto revents = g_source_query_unix_fd(source, self->fdTag_);
    if (revents & (G_IO_IN | G_IO_HUP | G_IO_ERR)) {
      if (wl_display_read_events(self->display_) < 0) self->gone_ = true;
      return TRUE;
    }
    wl_display_cancel_read(self->display_);
    return FALSE;
  }

  static gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
    auto* self = reinterpret_cast<WaylandSource*>(source)->desktop;
    if (self->gone_ || wl_display_dispatch_pending(self->display_) < 0) self->lost();
    return G_SOURCE_CONTINUE;
  }

  // The compositor went away or ended the connection: nothing more can be shown or chosen.
  void lost() {
    gone_ = true;
    if (source_) g_source_destroy(source_);
    if (handlers_.displayLost) handlers_.displayLost();
  }

  // --- globals ---

  static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    auto* self = static_cast<WaylandDesktop*>(data);
    const std::string_view iface(interface);
    auto bind = [&](const wl_interface* type, std::uint32_t want) {
      return wl_registry_bind(registry, name, type, std::min(version, want));
    };
    if (iface == wl_compositor_interface.name) {
      self->compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (iface == wl_shm_interface.name) {
      self->shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (iface == zwlr_layer_shell_v1_interface.name) {
      self->layerShell_ =
          static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 3));
    } else if (iface == xdg_wm_base_interface.name) {
      self->wmBase_ = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
      static const xdg_wm_base_listener wmBaseListener = {
          [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); }};
      xdg_wm_base_add_listener(self->wmBase_, &wmBaseListener, self);
    } else if (iface == zxdg_output_manager_v1_interface.name) {
      self->xdgOutputs_ =
          static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 2));
    } else if (iface == wl_seat_interface.name && !self->seat_) {
      self->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
      static const wl_seat_listener seatListener = {&WaylandDesktop::capabilities,
                                                    [](void*, wl_seat*, const char*) {}};
      wl_seat_add_listener(self->seat_, &seatListener, self);
    } else if (iface == wl_output_interface.name) {
      Output o;
      o.global = name;
      o.output = static_cast<wl_output*>(bind(&wl_output_interface, 3));
      self->outputs_.push_back(o);
      static const wl_output_listener outputListener = {
          [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
             std::int32_t, const char*, const char*, std::int32_t) {},
          &WaylandDesktop::outputMode,
          [](void*, wl_output*) {},
          &WaylandDesktop::outputScale,
          [](void*, wl_output*, const char*) {},
          [](void*, wl_output*, const char*) {}};
      wl_output_add_listener(o.output, &outputListener, self);
      if (self->xdgOutputs_) self->watchXdgOutput(self->outputs_.back());
    }
  }

  // Outputs that come or go during a selection are not followed, as on every platform.
  static void globalRemove(void*, wl_registry*, std::uint32_t) {}

  Output* outputOf(wl_output* output) {
    for (auto& o : outputs_) {
      if (o.output == output) return &o;
    }
    return nullptr;
  }

  static void outputMode(void* data, wl_output* output, std::uint32_t flags, std::int32_t width,
                         std::int32_t height, std::int32_t) {
    auto* self = static_cast<WaylandDesktop*>(data);
    // Without xdg-output the current mode over the scale is the logical size.
    if (Output* o = self->outputOf(output);
        o && (flags & WL_OUTPUT_MODE_CURRENT) && !o->haveLogical) {
      o->width = width / std::max(o->scale, 1);
      o->height = height / std::max(o->scale, 1);
    }
  }

  static void outputScale(void* data, wl_output* output, std::int32_t factor) {
    auto* self = static_cast<WaylandDesktop*>(data);
    if (Output* o = self->outputOf(output)) o->scale = std::max(factor, 1);
  }

  void watchXdgOutput(Output& o) {
    if (o.xdg) return;
    o.xdg = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, o.output);
    static const zxdg_output_v1_listener listener = {
        [](void* data, zxdg_output_v1* xdg, std::int32_t x, std::int32_t y) {
          if (Output* o = static_cast<WaylandDesktop*>(data)->xdgOutputOf(xdg)) {
            o->x = x;
            o->y = y;
            o->haveLogical = true;
          }
        },
        [](void* data, zxdg_output_v1* xdg, std::int32_t width, std::int32_t height) {
          if (Output* o = static_cast<WaylandDesktop*>(data)->xdgOutputOf(xdg)) {
            o->width = width;
            o->height = height;
            o->haveLogical = true;
          }
        },
        [](void*, zxdg_output_v1*) {},
        [](void* data, zxdg_output_v1* xdg, const char* name) {
          if (Output* o = static_cast<WaylandDesktop*>(data)->xdgOutputOf(xdg)) o->name = name;
        },
        [](void*, zxdg_output_v1*, const char*) {}};
    zxdg_output_v1_add_listener(o.xdg, &listener, this);
  }

  Output* xdgOutputOf(zxdg_output_v1* xdg) {
    for (auto& o : outputs_) {
      if (o.xdg == xdg) return &o;
    }
    return nullptr;
  }

  // --- overlays ---

  std::optional<std::size_t> overlayOf(wl_surface* surface) const {
    for (std::size_t i = 0; i < overlays_.size(); ++i) {
      if (overlays_[i].surface == surface && surface) return i;
    }
    return std::nullopt;
  }

  std::optional<std::size_t> overlayOf(zwlr_layer_surface_v1* layer) const {
    for (std::size_t i = 0; i < overlays_.size(); ++i) {
      if (overlays_[i].layer == layer) return i;
    }
    return std::nullopt;
  }

  static void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial,
                        std::uint32_t, std::uint32_t) {
    auto* self = static_cast<WaylandDesktop*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    auto i = self->overlayOf(layer);
    if (!i) return;
    Overlay& o = self->overlays_[*i];
    const bool first = !o.configured;
    o.configured = true;
    // The buffer keeps the output's size; the compositor places it over the output.
    if (first && o.painted) {
      o.damage.push_back({0, 0, double(o.pixelWidth), double(o.pixelHeight)});
      self->present(o);
    } else if (first && self->handlers_.exposed) {
      self->handlers_.exposed(*i);
    }
  }

  // The output went away: the compositor no longer shows this overlay.
  static void closed(void*, zwlr_layer_surface_v1*) {}

  // A toplevel of the output's size, titled so that the compositor can tell it from any
  // other, which it is asked to put over the output, above everything. Its size is ours: the
  // compositor's suggestions are left unanswered, as a fixed-size window may.
  void showToplevel(std::size_t i) {
    Overlay& o = overlays_[i];
    const Output& out = outputs_[o.output];
    o.xdgSurface = xdg_wm_base_get_xdg_surface(wmBase_, o.surface);
    static const xdg_surface_listener surfaceListener = {&WaylandDesktop::configureToplevel};
    xdg_surface_add_listener(o.xdgSurface, &surfaceListener, this);
    o.toplevel = xdg_surface_get_toplevel(o.xdgSurface);
    static const xdg_toplevel_listener toplevelListener = {
        [](void*, xdg_toplevel*, std::int32_t, std::int32_t, wl_array*) {},
        [](void*, xdg_toplevel*) {}, [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
        [](void*, xdg_toplevel*, wl_array*) {}};
    xdg_toplevel_add_listener(o.toplevel, &toplevelListener, this);
    o.title = "orvane-capture-selector " + std::to_string(::getpid()) + " " + std::to_string(i);
    xdg_toplevel_set_title(o.toplevel, o.title.c_str());
    xdg_toplevel_set_app_id(o.toplevel, "orvane-capture-selector");
    xdg_toplevel_set_min_size(o.toplevel, out.width, out.height);
    xdg_toplevel_set_max_size(o.toplevel, out.width, out.height);
    wl_surface_set_buffer_scale(o.surface, o.scale);
    wl_surface_commit(o.surface);
    // Asked before the first buffer: the compositor places the window as it maps it.
    sharedCompositor().placeOverlay(o.title, o.monitor.id);
  }

  static void configureToplevel(void* data, xdg_surface* surface, std::uint32_t serial) {
    auto* self = static_cast<WaylandDesktop*>(data);
    xdg_surface_ack_configure(surface, serial);
    for (std::size_t i = 0; i < self->overlays_.size(); ++i) {
      Overlay& o = self->overlays_[i];
      if (o.xdgSurface != surface || o.configured) continue;
      o.configured = true;
      if (o.painted) {
        o.damage.push_back({0, 0, double(o.pixelWidth), double(o.pixelHeight)});
        self->present(o);
      } else if (self->handlers_.exposed) {
        self->handlers_.exposed(i);
      }
    }
  }

  bool makeBuffer(Overlay& o, Buffer& b) {
    const int stride = o.pixelWidth * 4;
    b.size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(o.pixelHeight);
    const int fd = memfd_create("orvane-overlay", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(b.size)) != 0) {
      close(fd);
      return false;
    }
    b.data = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (b.data == MAP_FAILED) {
      b.data = nullptr;
      close(fd);
      return false;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(b.size));
    // Cairo's ARGB32 is premultiplied, in native byte order: the same as ARGB8888.
    b.buffer = wl_shm_pool_create_buffer(pool, 0, o.pixelWidth, o.pixelHeight, stride,
                                         WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    static const wl_buffer_listener listener = {&WaylandDesktop::bufferReleased};
    wl_buffer_add_listener(b.buffer, &listener, this);
    return true;
  }

  void releaseBuffer(Buffer& b) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
    if (b.data) munmap(b.data, b.size);
    b = Buffer{};
  }

  static void bufferReleased(void* data, wl_buffer* buffer) {
    auto* self = static_cast<WaylandDesktop*>(data);
    for (auto& o : self->overlays_) {
      for (auto& b : o.buffers) {
        if (b.buffer != buffer) continue;
        b.busy = false;
        if (o.presentPending) self->present(o);
        return;
      }
    }
  }

  // Shows the back store: copied whole into a buffer the compositor is not reading, with the
  // changed part marked as damage.
  void present(Overlay& o) {
    if (!o.configured || !o.surface || o.damage.empty()) {
      o.presentPending = !o.damage.empty();
      return;
    }
    Buffer* free = nullptr;
    for (auto& b : o.buffers) {
      if (b.busy) continue;
      if (!b.buffer && !makeBuffer(o, b)) continue;
      free = &b;
      break;
    }
    if (!free) {
      o.presentPending = true;
      return;
    }
    o.presentPending = false;
    const int stride = cairo_image_surface_get_stride(o.back);
    const auto* source = cairo_image_surface_get_data(o.back);
    if (stride == o.pixelWidth * 4) {
      std::memcpy(free->data, source, free->size);
    } else {
      for (int row = 0; row < o.pixelHeight; ++row) {
        std::memcpy(static_cast<unsigned char*>(free->data) + row * o.pixelWidth * 4,
                    source + row * stride, static_cast<std::size_t>(o.pixelWidth) * 4);
      }
    }
    wl_surface_attach(o.surface, free->buffer, 0, 0);
    for (const Rect& r : o.damage) {
      wl_surface_damage_buffer(o.surface, static_cast<std::int32_t>(r.x),
                               static_cast<std::int32_t>(r.y), static_cast<std::int32_t>(r.width),
                               static_cast<std::int32_t>(r.height));
    }
    o.damage.clear();
    wl_surface_commit(o.surface);
    free->busy = true;
  }

  // View points (origin bottom-left) of a surface-local position.
  std::pair<double, double> viewPoint(std::size_t i, double x, double y) const {
    return {x, overlays_[i].bounds.height - y};
  }

  // --- the seat ---

  static void capabilities(void* data, wl_seat* seat, std::uint32_t caps) {
    auto* self = static_cast<WaylandDesktop*>(data);
    // A headless seat gets a pointer or a keyboard only when a device appears.
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !self->pointer_) {
      self->pointer_ = wl_seat_get_pointer(seat);
      static const wl_pointer_listener listener = {
          &WaylandDesktop::pointerEnter,
          &WaylandDesktop::pointerLeave,
          &WaylandDesktop::pointerMotion,
          &WaylandDesktop::pointerButton,
          [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
          [](void*, wl_pointer*) {},
          [](void*, wl_pointer*, std::uint32_t) {},
          [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
          [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
          [](void*, wl_pointer*, std::uint32_t, std::int32_t) {}};
      wl_pointer_add_listener(self->pointer_, &listener, self);
    } else if (!(caps & WL_SEAT_CAPABILITY_POINTER) && self->pointer_) {
      wl_pointer_release(self->pointer_);
      self->pointer_ = nullptr;
      self->pointerOverlay_.reset();
    }
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !self->keyboard_) {
      self->keyboard_ = wl_seat_get_keyboard(seat);
      static const wl_keyboard_listener listener = {
          &WaylandDesktop::keymap,        &WaylandDesktop::keyboardEnter,
          &WaylandDesktop::keyboardLeave, &WaylandDesktop::key,
          &WaylandDesktop::modifiers,     [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}};
      wl_keyboard_add_listener(self->keyboard_, &listener, self);
    } else if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD) && self->keyboard_) {
      wl_keyboard_release(self->keyboard_);
      self->keyboard_ = nullptr;
    }
  }

  void pointerAt(std::size_t i, wl_fixed_t sx, wl_fixed_t sy) {
    pointerX_ = wl_fixed_to_double(sx);
    pointerY_ = wl_fixed_to_double(sy);
    const Rect& frame = overlays_[i].monitor.frame;
    shared_->pointer = Point{frame.x + pointerX_, frame.y + pointerY_};
  }

  static void pointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial,
                           wl_surface* surface, wl_fixed_t sx, wl_fixed_t sy) {
    auto* self = static_cast<WaylandDesktop*>(data);
    auto i = self->overlayOf(surface);
    if (!i) return;
    self->pointerOverlay_ = i;
    self->setCursor(pointer, serial);
    self->pointerAt(*i, sx, sy);
    auto [x, y] = self->viewPoint(*i, self->pointerX_, self->pointerY_);
    if (self->buttonDown_ && self->handlers_.dragged) {
      self->handlers_.dragged(*i, x, y);
    } else if (self->handlers_.pointerMoved) {
      self->handlers_.pointerMoved(*i, x, y);
    }
  }

  static void pointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface* surface) {
    auto* self = static_cast<WaylandDesktop*>(data);
    auto i = self->overlayOf(surface);
    if (self->pointerOverlay_ == i) self->pointerOverlay_.reset();
    if (i && self->handlers_.pointerLeft) self->handlers_.pointerLeft(*i);
  }

  static void pointerMotion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t sx, wl_fixed_t sy) {
    auto* self = static_cast<WaylandDesktop*>(data);
    if (!self->pointerOverlay_) return;
    const std::size_t i = *self->pointerOverlay_;
    self->pointerAt(i, sx, sy);
    auto [x, y] = self->viewPoint(i, self->pointerX_, self->pointerY_);
    if (self->buttonDown_ && self->handlers_.dragged) {
      self->handlers_.dragged(i, x, y);
    } else if (self->handlers_.pointerMoved) {
      self->handlers_.pointerMoved(i, x, y);
    }
  }

  static void pointerButton(void* data, wl_pointer*, std::uint32_t, std::uint32_t,
                            std::uint32_t button, std::uint32_t state) {
    auto* self = static_cast<WaylandDesktop*>(data);
    if (button != BTN_LEFT) return;
    const bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    self->buttonDown_ = pressed;
    if (!self->pointerOverlay_) return;
    const std::size_t i = *self->pointerOverlay_;
    auto [x, y] = self->viewPoint(i, self->pointerX_, self->pointerY_);
    auto& handler = pressed ? self->handlers_.buttonPressed : self->handlers_.buttonReleased;
    if (handler) handler(i, x, y);
  }

  // The pointing hand of the cursor theme, at the largest output scale.
  void setCursor(wl_pointer* pointer, std::uint32_t serial) {
    if (!cursorLoaded_) {
      cursorLoaded_ = true;
      for (const auto& o : outputs_) cursorScale_ = std::max(cursorScale_, o.scale);
      cursorTheme_ = wl_cursor_theme_load(nullptr, 24 * cursorScale_, shm_);
      if (cursorTheme_) {
        for (const char* name : {"hand2", "pointer", "left_ptr"}) {
          cursor_ = wl_cursor_theme_get_cursor(cursorTheme_, name);
          if (cursor_) break;
        }
      }
      if (cursor_ && cursor_->image_count > 0) {
        cursorSurface_ = wl_compositor_create_surface(compositor_);
        wl_cursor_image* image = cursor_->images[0];
        wl_surface_set_buffer_scale(cursorSurface_, cursorScale_);
        wl_surface_attach(cursorSurface_, wl_cursor_image_get_buffer(image), 0, 0);
        wl_surface_damage_buffer(cursorSurface_, 0, 0, static_cast<std::int32_t>(image->width),
                                 static_cast<std::int32_t>(image->height));
        wl_surface_commit(cursorSurface_);
      }
    }
    if (!cursorSurface_) return;
    const wl_cursor_image* image = cursor_->images[0];
    wl_pointer_set_cursor(pointer, serial, cursorSurface_,
                          static_cast<std::int32_t>(image->hotspot_x) / cursorScale_,
                          static_cast<std::int32_t>(image->hotspot_y) / cursorScale_);
  }

  static void keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                     std::uint32_t size) {
    auto* self = static_cast<WaylandDesktop*>(data);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0) {
      close(fd);
      return;
    }
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED) return;
    if (!self->xkbContext_) self->xkbContext_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* map = nullptr;
    if (self->xkbContext_) {
      // The text ends with a NUL inside `size`; the copy makes sure of it.
      const std::string copy(static_cast<const char*>(text),
                             strnlen(static_cast<const char*>(text), size));
      map = xkb_keymap_new_from_string(self->xkbContext_, copy.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                       XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    munmap(text, size);
    if (!map) return;
    if (self->xkbState_) xkb_state_unref(self->xkbState_);
    if (self->xkbKeymap_) xkb_keymap_unref(self->xkbKeymap_);
    self->xkbKeymap_ = map;
    self->xkbState_ = xkb_state_new(map);
  }

  static void keyboardEnter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface,
                            wl_array*) {
    auto* self = static_cast<WaylandDesktop*>(data);
    if (auto i = self->overlayOf(surface)) self->keyboardFocus_ = i;
  }

  static void keyboardLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    auto* self = static_cast<WaylandDesktop*>(data);
    self->keyboardFocus_.reset();
    if (self->handlers_.activationLost) self->handlers_.activationLost();
  }

  static void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                        std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
    auto* self = static_cast<WaylandDesktop*>(data);
    if (self->xkbState_)
      xkb_state_update_mask(self->xkbState_, depressed, latched, locked, 0, 0, group);
  }

  static void key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t code,
                  std::uint32_t state) {
    auto* self = static_cast<WaylandDesktop*>(data);
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED || !self->handlers_.keyPressed) return;
    // xkbcommon's key codes, like X's, are the evdev codes plus 8.
    const std::uint32_t xkbCode = code + 8;
    std::uint32_t sym = XKB_KEY_NoSymbol;
    std::string text;
    std::uint16_t xState = 0;
    if (self->xkbState_) {
      auto active = [&](const char* name) {
        return xkb_state_mod_name_is_active(self->xkbState_, name, XKB_STATE_MODS_EFFECTIVE) > 0;
      };
      if (active(XKB_MOD_NAME_SHIFT)) xState |= kXShift;
      if (active(XKB_MOD_NAME_CAPS)) xState |= kXLock;
      if (active(XKB_MOD_NAME_CTRL)) xState |= kXControl;
      if (active(XKB_MOD_NAME_ALT)) xState |= kXMod1;
      if (active(XKB_MOD_NAME_LOGO)) xState |= kXMod4;
      sym = xkb_state_key_get_one_sym(self->xkbState_, xkbCode);
      char buffer[16];
      const int n = xkb_keysym_to_utf8(sym, buffer, sizeof buffer);
      if (n > 1) text.assign(buffer, static_cast<std::size_t>(n - 1));
    }
    if (xkbCode > 0xff) return;  // no macOS counterpart, and past X's key codes
    self->handlers_.keyPressed(
        linux_ui::translateKey(static_cast<std::uint8_t>(xkbCode), sym, xState, text));
  }

  std::shared_ptr<SharedState> shared_;
  Handlers handlers_;
  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_compositor* compositor_ = nullptr;
  wl_shm* shm_ = nullptr;
  zwlr_layer_shell_v1* layerShell_ = nullptr;
  xdg_wm_base* wmBase_ = nullptr;
  bool toplevels_ = false;  // overlays are placed toplevels, not layer surfaces
  zxdg_output_manager_v1* xdgOutputs_ = nullptr;
  wl_seat* seat_ = nullptr;
  wl_pointer* pointer_ = nullptr;
  wl_keyboard* keyboard_ = nullptr;
  std::vector<Output> outputs_;
  bool started_ = false;
  std::vector<linux_ui::Monitor> monitors_;
  std::vector<std::size_t> monitorOutput_;  // the output of each monitor
  std::vector<Overlay> overlays_;
  std::optional<std::size_t> pointerOverlay_;
  std::optional<std::size_t> keyboardFocus_;
  double pointerX_ = 0, pointerY_ = 0;  // surface-local
  bool buttonDown_ = false;
  bool cursorLoaded_ = false;
  int cursorScale_ = 1;
  wl_cursor_theme* cursorTheme_ = nullptr;
  wl_cursor* cursor_ = nullptr;
  wl_surface* cursorSurface_ = nullptr;
  xkb_context* xkbContext_ = nullptr;
  xkb_keymap* xkbKeymap_ = nullptr;
  xkb_state* xkbState_ = nullptr;
  GSource* source_ = nullptr;
  gpointer fdTag_ = nullptr;
  bool reading_ = false;
  bool gone_ = false;
};

}  // namespace

std::unique_ptr<WindowServer> makeSelectorWindowServer(std::shared_ptr<SharedState> shared) {
  return std::make_unique<SelectorWindowServer>(std::move(shared));
}

std::unique_ptr<linux_ui::Desktop> makeDesktop(std::shared_ptr<SharedState> shared) {
  return std::make_unique<WaylandDesktop>(std::move(shared));
}

}  // namespace orvane::selector::wayland
