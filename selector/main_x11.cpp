// orvane-capture-selector on an X11 desktop.
#include <csignal>
#include <string>
#include <vector>

#include "application.hpp"
#include "output.hpp"
#include "selector.hpp"
#include "window_server_cache_x11.hpp"

int main(int argc, char** argv) {
  // A host that has stopped reading gets no answer, and the selector still ends with status 0.
  std::signal(SIGPIPE, SIG_IGN);
  orvane::StandardOutput output;
  const orvane::selector::SelectorPlatform platform{&orvane::selector::makeApplicationX11,
                                                    &orvane::selector::makeSelectorWindowServerX11};
  return orvane::selector::runSelector(std::vector<std::string>(argv + 1, argv + argc), platform,
                                       output);
}
