#include <csignal>

#include "line_writer.hpp"
#include "window_bounds.hpp"

int main(int argc, char** argv) {
  using namespace orvane;
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  StandardOutput output;
  // The window number is checked before anything else is done.
  const auto parsed = windowbounds::parseArguments(arguments);
  if (parsed.windowId == 0) {
    output.writeErr(windowbounds::kMissingWindowId);
    return 2;
  }
  // The host stops the tool with a signal at any time, connecting to the desktop included;
  // a host that stops reading costs lines, never the process.
  auto runLoop = makeRunLoop();
  runLoop->exitOnTerminationSignals();
  std::signal(SIGPIPE, SIG_IGN);
  auto server = makeWindowServer();
  auto activation = windowbounds::makeActivation(*server, parsed.windowId);
  return windowbounds::run(parsed, *server, *activation, *runLoop, output, nowUnixMs);
}
