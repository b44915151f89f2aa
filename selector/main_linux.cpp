// orvane-capture-selector on a Linux desktop: the platform chosen at start-up gives the
// application (overlays, input, drawing) and the window snapshot.
#include <csignal>
#include <string>
#include <vector>

#include "application.hpp"
#include "output.hpp"
#include "platform.hpp"
#include "selector.hpp"
#include "window_server_cache_x11.hpp"

namespace {

orvane::selector::SelectorPlatform selectorPlatform() {
  using namespace orvane;
  switch (currentPlatform().id) {
#if defined(ORVANE_WAYLAND)
    case PlatformId::wayland:
      return selector::selectorPlatformWayland();
#endif
    case PlatformId::x11:
    default:
      return {&selector::makeApplicationX11, &selector::makeSelectorWindowServerX11};
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A host that has stopped reading gets no answer, and the selector still ends with status 0.
  std::signal(SIGPIPE, SIG_IGN);
  orvane::StandardOutput output;
  return orvane::selector::runSelector(std::vector<std::string>(argv + 1, argv + argc),
                                       selectorPlatform(), output);
}
