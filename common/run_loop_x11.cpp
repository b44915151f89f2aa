// The run loop on Linux: the GLib main loop of the default context, and a plain thread
// reading standard input.
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <thread>

#include "run_loop.hpp"

namespace orvane {
namespace {

using Work = std::function<void()>;

gboolean runOnce(gpointer data) {
  (*static_cast<Work*>(data))();
  return G_SOURCE_REMOVE;
}

gboolean runRepeating(gpointer data) {
  (*static_cast<Work*>(data))();
  return G_SOURCE_CONTINUE;
}

void destroyWork(gpointer data) { delete static_cast<Work*>(data); }

guint milliseconds(double seconds) {
  if (!(seconds > 0)) return 0;
  return static_cast<guint>(std::min(std::llround(seconds * 1000), static_cast<long long>(G_MAXUINT)));
}

// NOTE: exit() is not async-signal-safe (atexit handlers, stdio locks); every line is
// written straight to the descriptor, so _exit loses nothing.
void endProcess(int) { _exit(0); }

class GLibRunLoop final : public RunLoop {
 public:
  GLibRunLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}
  ~GLibRunLoop() override { g_main_loop_unref(loop_); }

  void addRepeatingTimer(double intervalSeconds, std::function<void()> action) override {
    g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(intervalSeconds), runRepeating,
                       new Work(std::move(action)), destroyWork);
  }

  void performOnMain(std::function<void()> work) override {
    // Thread-safe: attaching a source to the default context wakes it.
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new Work(std::move(work)), destroyWork);
  }

  void performOnMainAfter(double delaySeconds, std::function<void()> work) override {
    g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(delaySeconds), runOnce,
                       new Work(std::move(work)), destroyWork);
  }

  void exitOnTerminationSignals() override {
    std::signal(SIGINT, endProcess);
    std::signal(SIGTERM, endProcess);
  }

  void callOnTerminationSignals(std::function<void()> action) override {
    // GLib's own handler only marks the signal and wakes the loop, which then runs the source.
    // The action lives as long as the process.
    auto* shared = new Work(std::move(action));
    for (int sig : {SIGINT, SIGTERM}) g_unix_signal_add(sig, runRepeating, shared);
  }

  void readStandardInputLines(std::function<void(const std::string&)> onLine) override {
    // Detached: it blocks in read() for as long as the input stays open, and the process
    // only ever ends through a signal.
    std::thread([onLine = std::move(onLine)] {
      LineSplitter splitter(onLine);
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        splitter.feed(buffer, static_cast<std::size_t>(n));
      }
      splitter.finish();
    }).detach();
  }

  void run() override { g_main_loop_run(loop_); }

 private:
  GMainLoop* loop_;
};

}  // namespace

std::unique_ptr<RunLoop> makeRunLoopX11() { return std::make_unique<GLibRunLoop>(); }

}  // namespace orvane
