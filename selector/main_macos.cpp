#include <csignal>

#include "selector.hpp"

int main(int argc, char** argv) {
  using namespace orvane;
  // A host that has stopped reading gets no answer, and the selector still ends with status 0.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  StandardOutput output;
  const selector::SelectorPlatform platform{[] { return selector::makeApplicationMacOS(); },
                                            [] { return makeWindowServer(); }};
  return selector::runSelector(arguments, platform, output);
}
