// The session's events on a GLib main loop: events XCB has already read (with a reply, on any
// thread) count as ready, so none waits behind a reply that was read with it.
#include <glib.h>

#include <memory>
#include <mutex>

#include "x11_session.hpp"

namespace orvane::x11 {
namespace {

struct SessionSource {
  GSource base;
  Session* session;
  gpointer fdTag;
};

gboolean prepare(GSource* source, gint* timeout) {
  auto* s = reinterpret_cast<SessionSource*>(source)->session;
  *timeout = -1;
  xcb_flush(s->connection());
  s->pumpQueued();
  return s->eventsWaiting() || s->broken();
}

gboolean check(GSource* source) {
  auto* self = reinterpret_cast<SessionSource*>(source);
  if (g_source_query_unix_fd(source, self->fdTag) != 0) return TRUE;
  self->session->pumpQueued();
  return self->session->eventsWaiting();
}

gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
  auto* s = reinterpret_cast<SessionSource*>(source)->session;
  const bool alive = s->pump();
  s->deliver();
  // A broken connection reads as always ready: its readers have been told once.
  return alive ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

GSourceFuncs kFuncs = {prepare, check, dispatch, nullptr, nullptr, nullptr};

std::mutex watchLock;
GSource* watching = nullptr;

}  // namespace

void watchEvents(Session& session, GMainContext* context) {
  std::lock_guard lock(watchLock);
  if (!context) context = g_main_context_default();
  if (watching) {
    if (g_source_get_context(watching) == context) return;
    // The readers moved to another loop (a tool made again in a test program).
    session.setWaker({});
    g_source_destroy(watching);
    g_source_unref(watching);
  }
  GSource* source = g_source_new(&kFuncs, sizeof(SessionSource));
  auto* s = reinterpret_cast<SessionSource*>(source);
  s->session = &session;
  s->fdTag = g_source_add_unix_fd(source, xcb_get_file_descriptor(session.connection()),
                                  static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_attach(source, context);
  watching = source;
  // The waker may outlive this source; it holds its own reference to the context. The loop's
  // own thread sees the events at its next iteration without being woken.
  std::shared_ptr<GMainContext> woken(g_main_context_ref(context), g_main_context_unref);
  session.setWaker([woken] {
    if (!g_main_context_is_owner(woken.get())) g_main_context_wakeup(woken.get());
  });
}

}  // namespace orvane::x11
