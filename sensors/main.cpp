#include <csignal>

#include "sensors.hpp"

int main(int argc, char** argv) {
  using namespace orvane;
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  StandardOutput output;
  auto stdoutQueue = makeStdoutQueue(output);
  const auto parsed = sensors::parseArguments(arguments);
  // The worker comes before the run loop and the taps: on X11 it settles which thread runs
  // which GLib context.
  auto accessibility = sensors::makeAccessibilityWorker([] { return makeAccessibility(); });
  // The host stops the tool with a signal at any time, connecting to the desktop included;
  // a host that stops reading costs lines, never the process.
  auto runLoop = makeRunLoop();
  runLoop->exitOnTerminationSignals();
  std::signal(SIGPIPE, SIG_IGN);

  auto workspace = makeWorkspace();
  auto windowServer = makeWindowServer();
  auto taps = makeEventTaps();
  sensors::Context context{*workspace, *windowServer,    *accessibility,    *stdoutQueue,
                           nowUnixMs,  parsed.ignorePid, browserBundleIds()};
  return sensors::run(parsed, context, *taps, *runLoop, output);
}
