#include <unistd.h>

#include <csignal>

#include "recorder.hpp"

int main(int argc, char** argv) {
  using namespace orvane;
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  StandardOutput output;
  const auto parsed = eventtap::parseArguments(arguments);
  if (!parsed.outputPath) {
    output.writeErr(eventtap::kUsage);
    return 2;
  }
  // A host that closes our standard error must not cost the log.
  std::signal(SIGPIPE, SIG_IGN);
  auto runLoop = makeRunLoop();
  eventtap::Platform platform{
      *runLoop,
      [] { return makeAccessibility(); },
      [] { return makeEventTaps(); },
      output,
      eventtap::systemClocks(),
      static_cast<long>(getpid()),
      // The log is written and every message went straight to its descriptor: nothing is
      // left for exit handlers, which in the accessibility libraries may block.
      [](int status) { _exit(status); },
  };
  return eventtap::run(parsed, platform);
}
