#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "recorder.hpp"

namespace {

sigset_t stopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  return stops;
}

// First of all, before the libraries' own start-up: a stop that comes meanwhile waits until it
// can be handled, rather than ending the process without a log. Threads started later keep it
// held back, so the main thread is the one that takes it.
void holdStopsBack() {
  const sigset_t stops = stopSignals();
  sigprocmask(SIG_BLOCK, &stops, nullptr);
}

#if defined(__APPLE__)
__attribute__((constructor(101))) void holdStopsBackEarly() { holdStopsBack(); }
#else
// NOTE: an executable's pre-initialisers run before any shared library's initialisers.
__attribute__((section(".preinit_array"), used)) void (*const holdStopsBackEarly)() = holdStopsBack;
#endif

orvane::eventtap::Clocks systemClocks() {
  return {[] {
            using namespace std::chrono;
            // duration_cast truncates toward zero, before the epoch too.
            return static_cast<std::int64_t>(
                duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
          },
          [] {
            timespec ts{};
#if defined(__APPLE__)
            // The clock of the system uptime: monotonic, stopped while the machine sleeps.
            clock_gettime(CLOCK_UPTIME_RAW, &ts);
#else
            clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
            return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
          }};
}

#if defined(__APPLE__)
constexpr std::string_view kSource = orvane::eventtap::kSourceMacOS;
#else
constexpr std::string_view kSource = orvane::eventtap::kSourceX11;
#endif

}  // namespace

int main(int argc, char** argv) {
  using namespace orvane;
  const sigset_t stops = stopSignals();
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);

  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  StandardOutput output;
  const auto parsed = eventtap::parseArguments(arguments);
  if (!parsed.outputPath) {
    output.writeErr(eventtap::kUsage);
    return 2;
  }
  // A host that closes our standard error must not cost the log.
  std::signal(SIGPIPE, SIG_IGN);
  // The input and the stop have the main loop to themselves: the accessibility service is
  // used on a thread of its own, with its events.
  auto runLoop = makePrivateRunLoop();
  eventtap::Platform platform{
      *runLoop,
      [] { return makeAccessibility(); },
      [] { return makeEventTaps(); },
      output,
      systemClocks(),
      static_cast<long>(getpid()),
      kSource,
      // The log is written and every message went straight to its descriptor: nothing is
      // left for exit handlers, which in the accessibility libraries may block.
      [](int status) { _exit(status); },
      [&stops] {
        // A stop that came meanwhile is delivered now, and the loop hands it to the stop path.
        pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
      },
  };
  return eventtap::run(parsed, platform);
}
