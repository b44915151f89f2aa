// The main run loop of a long-running tool: a repeating timer, calls handed to the main
// thread, the termination signals, and a background reader of standard input.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orvane {

class RunLoop {
 public:
  virtual ~RunLoop() = default;

  // A timer that calls `action` on the main thread every `intervalSeconds`, first after one
  // interval, in every run-loop mode, for the life of the process.
  virtual void addRepeatingTimer(double intervalSeconds, std::function<void()> action) = 0;

  // Runs `work` on the main thread, soon or after `delaySeconds`. Callable from any thread.
  virtual void performOnMain(std::function<void()> work) = 0;
  virtual void performOnMainAfter(double delaySeconds, std::function<void()> work) = 0;

  // SIGINT and SIGTERM end the process at once with status 0.
  virtual void exitOnTerminationSignals() = 0;

  // SIGINT and SIGTERM call `action` on the main thread, from the main loop between two of
  // its callbacks, never inside the signal handler; a signal that comes before run() is
  // handled once the loop runs. Further signals while `action` runs are harmless.
  virtual void callOnTerminationSignals(std::function<void()> action) = 0;

  // Reads standard input line by line on a background thread and calls `onLine` there with
  // each line, its "\n" (or "\r\n") removed. The end of the input, or a read error, ends the
  // reading and nothing else. A line longer than kMaxInputLine bytes is skipped whole: no
  // command is that long, and the reader keeps its memory bounded whatever the writer sends.
  virtual void readStandardInputLines(std::function<void(const std::string&)> onLine) = 0;

  // Runs the main loop; returns only if the loop ever stops.
  virtual void run() = 0;

  static constexpr std::size_t kMaxInputLine = 4096;
};

std::unique_ptr<RunLoop> makeRunLoopMacOS();
std::unique_ptr<RunLoop> makeRunLoopX11();
// The run loop of the platform this program was built for.
std::unique_ptr<RunLoop> makeRunLoop();
// The same, handling only its own sources and those added on the main thread later: the
// desktop services made on another thread keep their events to that thread (on X11 they stay
// on GLib's default context, which this loop leaves alone). On macOS, makeRunLoop().
std::unique_ptr<RunLoop> makePrivateRunLoopX11();
std::unique_ptr<RunLoop> makePrivateRunLoop();

// SIGINT and SIGTERM at the start of a loop that learns of them from watchers that need no
// handler (dispatch sources over kqueue): a watcher sees only the signals sent once it is in
// place. Made before anything else changes how the signals are handled, it notes a stop that
// already waits, held back by the signal mask, then gives both signals a handler that only
// notes them. Unlike SIG_IGN, which discards a waiting signal, that handler leaves one waiting
// until the mask lets it through, and it keeps the default action from ending the process.
// Once the watchers are in place, stoppedEarly() says whether a stop came that they may never
// report: one that waited at the start, waits now, or reached the handler. A stop that the
// watchers do see may be reported both ways; the stop path runs again, which is harmless.
class EarlyStopSignals {
 public:
  EarlyStopSignals();
  bool stoppedEarly() const;

 private:
  bool waitingAtStart_;
};

// Whether SIGINT or SIGTERM waits for this thread or the process, held back by the mask.
bool stopSignalWaiting();

// Splits a byte stream into lines as readStandardInputLines does; shared by the backends so
// that the rule is the same everywhere.
class LineSplitter {
 public:
  explicit LineSplitter(std::function<void(const std::string&)> onLine)
      : onLine_(std::move(onLine)) {}
  void feed(const char* data, std::size_t size);
  // The input ended: a last line without its line break still counts.
  void finish();

 private:
  std::function<void(const std::string&)> onLine_;
  std::string line_;
  bool overlong_ = false;
};

}  // namespace orvane
