// The accessibility worker on Linux. libatspi is not thread-safe and does its work (the
// accessibility bus, the direct connections to applications, the events that keep its caches)
// on the default GLib context, some of it attached there whatever the caller asks. So the
// worker thread owns the default context: it creates the service there and runs that context's
// loop, and jobs reach it as sources of that context. The main thread gets a context of its
// own, so the run loop and the event taps made after the worker stay off the default one.
#include <glib.h>

#include "sensors.hpp"

namespace orvane::sensors {
namespace {

using Job = AccessibilityWorker::Job;

struct Posted {
  Job job;
  Accessibility** ax;
};

gboolean runPosted(gpointer data) {
  auto* posted = static_cast<Posted*>(data);
  posted->job(**posted->ax);
  return G_SOURCE_REMOVE;
}

void destroyPosted(gpointer data) { delete static_cast<Posted*>(data); }

class GLibWorker final : public AccessibilityWorker {
 public:
  explicit GLibWorker(std::function<std::unique_ptr<Accessibility>()> make) {
    mainContext_ = g_main_context_new();
    g_main_context_push_thread_default(mainContext_);
    GMainContext* shared = g_main_context_default();
    // Jobs posted before the service exists wait in the context until the loop runs.
    g_thread_unref(g_thread_new("orvane.sensors.ax", &GLibWorker::work,
                                new Start{std::move(make), &ax_, shared}));
  }

  void post(Job job) override {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runPosted, new Posted{std::move(job), &ax_}, destroyPosted);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
  }

 private:
  struct Start {
    std::function<std::unique_ptr<Accessibility>()> make;
    Accessibility** ax;
    GMainContext* context;
  };

  static gpointer work(gpointer data) {
    std::unique_ptr<Start> start(static_cast<Start*>(data));
    g_main_context_acquire(start->context);
    // Held for the life of the process, as the thread is.
    *start->ax = start->make().release();
    GMainLoop* loop = g_main_loop_new(start->context, FALSE);
    g_main_loop_run(loop);
    return nullptr;
  }

  GMainContext* mainContext_ = nullptr;
  Accessibility* ax_ = nullptr;
};

}  // namespace

std::unique_ptr<AccessibilityWorker> makeAccessibilityWorker(
    std::function<std::unique_ptr<Accessibility>()> make) {
  return std::make_unique<GLibWorker>(std::move(make));
}

}  // namespace orvane::sensors
