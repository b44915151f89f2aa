// The run loop on Linux: the GLib main loop of the default context, and a plain thread
// reading standard input.
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
  return static_cast<guint>(
      std::min(std::llround(seconds * 1000), static_cast<long long>(G_MAXUINT)));
}

// NOTE: exit() is not async-signal-safe (atexit handlers, stdio locks); every line is
// written straight to the descriptor, so _exit loses nothing.
void endProcess(int) { _exit(0); }

class GLibRunLoop final : public RunLoop {
 public:
  // On the creating thread's context (GLib's default one, unless that thread pushed a context
  // of its own to leave the default one to an accessibility worker), or on a context of its
  // own, made the thread's default for the sources that are added on it later (the event
  // tap's among them).
  explicit GLibRunLoop(bool ownContext)
      : context_(ownContext ? g_main_context_new() : g_main_context_ref_thread_default()),
        loop_(g_main_loop_new(context_, FALSE)),
        ownContext_(ownContext) {
    if (ownContext_) g_main_context_push_thread_default(context_);
  }
  ~GLibRunLoop() override {
    if (ownContext_) g_main_context_pop_thread_default(context_);
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  void addRepeatingTimer(double intervalSeconds, std::function<void()> action) override {
    attach(g_timeout_source_new(milliseconds(intervalSeconds)), runRepeating,
           new Work(std::move(action)));
  }

  void performOnMain(std::function<void()> work) override {
    // Thread-safe: attaching a source to a context wakes it.
    attach(g_idle_source_new(), runOnce, new Work(std::move(work)));
  }

  void performOnMainAfter(double delaySeconds, std::function<void()> work) override {
    attach(g_timeout_source_new(milliseconds(delaySeconds)), runOnce, new Work(std::move(work)));
  }

  void exitOnTerminationSignals() override {
    std::signal(SIGINT, endProcess);
    std::signal(SIGTERM, endProcess);
  }

  void callOnTerminationSignals(std::function<void()> action) override {
    // GLib's own handler only marks the signal and wakes the loop, which then runs the source.
    // The action lives as long as the process.
    auto* shared = new Work(std::move(action));
    for (int sig : {SIGINT, SIGTERM}) {
      GSource* source = g_unix_signal_source_new(sig);
      g_source_set_callback(source, runRepeating, shared, nullptr);
      g_source_attach(source, context_);
      g_source_unref(source);
    }
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
  void attach(GSource* source, GSourceFunc function, Work* work) {
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, function, work, destroyWork);
    g_source_attach(source, context_);
    g_source_unref(source);
  }

  GMainContext* context_;
  GMainLoop* loop_;
  bool ownContext_;
};

}  // namespace

std::unique_ptr<RunLoop> makeRunLoopX11() { return std::make_unique<GLibRunLoop>(false); }
std::unique_ptr<RunLoop> makePrivateRunLoopX11() { return std::make_unique<GLibRunLoop>(true); }

}  // namespace orvane
