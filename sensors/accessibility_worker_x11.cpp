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

// The service, made on the worker thread, and made again when it was made before the display
// answered (an X server stalled at start-up), at most once a second until it reads. Held for
// the life of the process, as the thread is.
struct Service {
  std::function<std::unique_ptr<Accessibility>()> make;
  std::unique_ptr<Accessibility> ax;
  gint64 triedAtUs = 0;

  Accessibility& get() {
    constexpr gint64 kRetryUs = 1'000'000;
    if (ax->madeBeforeTheDisplay() && g_get_monotonic_time() - triedAtUs >= kRetryUs) {
      triedAtUs = g_get_monotonic_time();
      ax = make();
    }
    return *ax;
  }
};

struct Posted {
  Job job;
  Service* service;
};

gboolean runPosted(gpointer data) {
  auto* posted = static_cast<Posted*>(data);
  posted->job(posted->service->get());
  return G_SOURCE_REMOVE;
}

void destroyPosted(gpointer data) { delete static_cast<Posted*>(data); }

class GLibWorker final : public AccessibilityWorker {
 public:
  explicit GLibWorker(std::function<std::unique_ptr<Accessibility>()> make)
      : service_(new Service{std::move(make), nullptr}) {
    mainContext_ = g_main_context_new();
    g_main_context_push_thread_default(mainContext_);
    GMainContext* shared = g_main_context_default();
    // Jobs posted before the service exists wait in the context until the loop runs.
    g_thread_unref(
        g_thread_new("orvane.sensors.ax", &GLibWorker::work, new Start{service_, shared}));
  }

  void post(Job job) override {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runPosted, new Posted{std::move(job), service_}, destroyPosted);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
  }

 private:
  struct Start {
    Service* service;
    GMainContext* context;
  };

  static gpointer work(gpointer data) {
    std::unique_ptr<Start> start(static_cast<Start*>(data));
    g_main_context_acquire(start->context);
    start->service->triedAtUs = g_get_monotonic_time();
    start->service->ax = start->service->make();
    GMainLoop* loop = g_main_loop_new(start->context, FALSE);
    g_main_loop_run(loop);
    return nullptr;
  }

  GMainContext* mainContext_ = nullptr;
  Service* service_;  // never freed: the worker thread uses it until the process ends
};

}  // namespace

std::unique_ptr<AccessibilityWorker> makeAccessibilityWorker(
    std::function<std::unique_ptr<Accessibility>()> make) {
  return std::make_unique<GLibWorker>(std::move(make));
}

}  // namespace orvane::sensors
