// KWin's output scales, which its scripts do not give: each output's current mode over its
// xdg-output logical size, as KWin tells its Wayland clients.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <deque>

#include "compositor_kwin.hpp"
#if defined(ORVANE_WAYLAND)
#include <wayland-client.h>

#include "xdg-output-unstable-v1-client-protocol.h"
#endif

namespace orvane {

#if defined(ORVANE_WAYLAND)
namespace {

// Waits for everything the compositor sent before now, until the deadline; false when it
// passed or the connection failed.
bool roundtrip(wl_display* display, std::chrono::steady_clock::time_point deadline) {
  bool done = false;
  wl_callback* callback = wl_display_sync(display);
  static const wl_callback_listener listener = {
      [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  wl_callback_add_listener(callback, &listener, &done);
  bool failed = false;
  while (!done && !failed) {
    if (wl_display_prepare_read(display) != 0) {
      failed = wl_display_dispatch_pending(display) < 0;
      continue;
    }
    wl_display_flush(display);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    const int n = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (n <= 0) {
      wl_display_cancel_read(display);
      if (n < 0 && errno == EINTR) continue;
      failed = true;
      break;
    }
    failed = wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0;
  }
  wl_callback_destroy(callback);
  return done;
}

}  // namespace

// Each output's logical rect and scale as KWin tells its Wayland clients; nothing when the
// session's display cannot be reached within the deadline.
std::vector<kwin::OutputScale> readOutputScales(std::chrono::milliseconds within) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return {};
  struct Output {
    wl_output* output = nullptr;
    std::uint32_t version = 0;
    zxdg_output_v1* xdg = nullptr;
    int modeWidth = 0, modeHeight = 0, transform = 0, scale = 1;
    int x = 0, y = 0, width = 0, height = 0;
    bool position = false;
  };
  struct Globals {
    std::deque<Output> outputs;  // grows without moving what the listeners hold
    zxdg_output_manager_v1* manager = nullptr;
  } globals;
  static const wl_registry_listener registryListener = {
      [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
         std::uint32_t version) {
        auto* g = static_cast<Globals*>(data);
        const std::string_view iface(interface);
        if (iface == wl_output_interface.name) {
          Output& o = g->outputs.emplace_back();
          o.version = std::min(version, 3u);
          o.output = static_cast<wl_output*>(
              wl_registry_bind(registry, name, &wl_output_interface, o.version));
        } else if (iface == zxdg_output_manager_v1_interface.name && !g->manager) {
          g->manager = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
              registry, name, &zxdg_output_manager_v1_interface, std::min(version, 2u)));
        }
      },
      [](void*, wl_registry*, std::uint32_t) {}};
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, &globals);
  std::vector<kwin::OutputScale> scales;
  if (roundtrip(display, deadline)) {
    static const wl_output_listener outputListener = {
        [](void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
           std::int32_t, const char*, const char*,
           std::int32_t transform) { static_cast<Output*>(data)->transform = transform; },
        [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
          if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
          static_cast<Output*>(data)->modeWidth = width;
          static_cast<Output*>(data)->modeHeight = height;
        },
        [](void*, wl_output*) {},
        [](void* data, wl_output*, std::int32_t factor) {
          static_cast<Output*>(data)->scale = factor;
        },
        [](void*, wl_output*, const char*) {},
        [](void*, wl_output*, const char*) {}};
    static const zxdg_output_v1_listener xdgListener = {
        [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
          static_cast<Output*>(data)->x = x;
          static_cast<Output*>(data)->y = y;
          static_cast<Output*>(data)->position = true;
        },
        [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
          static_cast<Output*>(data)->width = width;
          static_cast<Output*>(data)->height = height;
        },
        [](void*, zxdg_output_v1*) {}, [](void*, zxdg_output_v1*, const char*) {},
        [](void*, zxdg_output_v1*, const char*) {}};
    for (Output& o : globals.outputs) {
      wl_output_add_listener(o.output, &outputListener, &o);
      if (globals.manager) {
        o.xdg = zxdg_output_manager_v1_get_xdg_output(globals.manager, o.output);
        zxdg_output_v1_add_listener(o.xdg, &xdgListener, &o);
      }
    }
    if (globals.manager && roundtrip(display, deadline)) {
      for (const Output& o : globals.outputs) {
        if (!o.position || o.width <= 0 || o.height <= 0) continue;
        scales.push_back(kwin::OutputScale{
            Rect{static_cast<double>(o.x), static_cast<double>(o.y), static_cast<double>(o.width),
                 static_cast<double>(o.height)},
            kwin::outputScale(o.modeWidth, o.modeHeight, o.transform, o.width, o.height, o.scale)});
      }
    }
  }
  for (Output& o : globals.outputs) {
    if (o.xdg) zxdg_output_v1_destroy(o.xdg);
    if (o.version >= 3)
      wl_output_release(o.output);
    else
      wl_output_destroy(o.output);
  }
  if (globals.manager) zxdg_output_manager_v1_destroy(globals.manager);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return scales;
}
#else
std::vector<kwin::OutputScale> readOutputScales(std::chrono::milliseconds) { return {}; }
#endif

}  // namespace orvane
