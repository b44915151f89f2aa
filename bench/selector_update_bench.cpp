// One window-mode update of orvane-capture-selector, timed from inside: the pointer is put on
// another window, then the controller's update runs (window snapshot and hit test) and the
// overlays repaint what changed. Prints the p50 and p99 in milliseconds. Run on a display with
// the windows to hover already shown (bench/selector_bench.py sets that up).
//
//   selector_update_bench [UPDATES]
#include <glib.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "application.hpp"
#include "controller.hpp"
#include "hit_testing.hpp"
#include "output.hpp"
#include "window_server.hpp"
#include "window_server_cache_x11.hpp"

using namespace orvane;
using namespace orvane::selector;

int main(int argc, char** argv) {
  const int updates = argc > 1 ? std::atoi(argv[1]) : 400;
  auto application = makeApplicationX11();
  if (!application) {
    std::fprintf(stderr, "selector_update_bench: no X display\n");
    return 1;
  }
  auto server = makeSelectorWindowServerX11();
  SelectorConfig config;
  config.initialMode = SelectionMode::window;
  CapturedOutput output;
  CaptureSelectorController controller(config, *application, *server, output);

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  auto sync = [c] { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); };

  // One pass of `updates` pointer positions; `step` is what is timed at each.
  auto pass = [&](const std::function<void()>& step, int& changed) {
    std::vector<double> ms;
    std::optional<WindowCandidate> last = controller.hoveredWindow();
    for (int i = 0; i < updates; ++i) {
      // Points spread over the screen, each on another of the stacked windows.
      const int x = 15 + (i * 97) % (screen->width_in_pixels - 30);
      const int y = 15 + (i * 61) % (screen->height_in_pixels - 30);
      xcb_warp_pointer(c, XCB_NONE, screen->root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                       static_cast<std::int16_t>(y));
      sync();
      // Let earlier animation frames finish, so that each update is timed alone.
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      const auto start = std::chrono::steady_clock::now();
      step();
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      const auto end = std::chrono::steady_clock::now();
      ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      if (controller.hoveredWindow() != last) ++changed;
      last = controller.hoveredWindow();
      g_usleep(2000);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
  };
  auto at = [](const std::vector<double>& ms, double q) {
    return ms[std::min(ms.size() - 1, std::size_t(q * ms.size()))];
  };

  application->performAfter(0.5, [&] {
    int changed = 0, unused = 0;
    const auto whole = pass([&] { controller.updateSelectionState(false); }, changed);
    const auto snapshot =
        pass([&] { (void)windowUnderCursor(*server, controller.excludedPids(), {}); }, unused);
    std::printf("updates: %d (hovered window changed in %d)\n", updates, changed);
    std::printf("update p50: %.2f ms\nupdate p99: %.2f ms\n", at(whole, 0.5), at(whole, 0.99));
    std::printf("of which the window snapshot and hit test alone: p50 %.2f ms, p99 %.2f ms\n",
                at(snapshot, 0.5), at(snapshot, 0.99));
    std::fflush(stdout);
    _exit(0);
  });
  application->run(controller);
  return 0;
}
