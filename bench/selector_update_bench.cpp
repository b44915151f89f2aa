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
#include <string>
#include <vector>

#include "application.hpp"
#include "controller.hpp"
#include "output.hpp"
#include "window_server.hpp"

using namespace orvane;
using namespace orvane::selector;

int main(int argc, char** argv) {
  const int updates = argc > 1 ? std::atoi(argv[1]) : 400;
  auto application = makeApplicationX11();
  if (!application) {
    std::fprintf(stderr, "selector_update_bench: no X display\n");
    return 1;
  }
  auto server = makeWindowServerX11();
  SelectorConfig config;
  config.initialMode = SelectionMode::window;
  CapturedOutput output;
  CaptureSelectorController controller(config, *application, *server, output);

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  auto sync = [c] { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); };

  application->performAfter(0.5, [&] {
    std::vector<double> ms;
    int changed = 0;
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
      if (std::getenv("SNAPSHOT_ONLY")) {
        (void)windowUnderCursor(*server, controller.excludedPids(), {});
      } else {
        controller.updateSelectionState(false);
      }
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      const auto end = std::chrono::steady_clock::now();
      ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      if (controller.hoveredWindow() != last) ++changed;
      last = controller.hoveredWindow();
      g_usleep(2000);
    }
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * ms.size()))]; };
    std::printf("updates: %d (hovered window changed in %d)\n", updates, changed);
    std::printf("update p50: %.2f ms\nupdate p99: %.2f ms\n", at(0.5), at(0.99));
    std::fflush(stdout);
    _exit(0);
  });
  application->run(controller);
  return 0;
}
