#include "session_bus.hpp"

#include <deque>

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace orvane {
namespace {

constexpr std::chrono::milliseconds kConnectDeadline{1000};
constexpr std::chrono::milliseconds kProbeDeadline{500};

// Opens a connection to the session bus, cancelled when it takes longer than the deadline: a
// bus that accepts the socket and never authenticates must not hold a tool at start.
GDBusConnection* connectWithin(std::chrono::milliseconds deadline) {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!address) return nullptr;
  GCancellable* cancellable = g_cancellable_new();
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> held(lock);
    if (!finished.wait_for(held, deadline, [&] { return done; })) g_cancellable_cancel(cancellable);
  });
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancellable, nullptr);
  {
    std::lock_guard<std::mutex> held(lock);
    done = true;
  }
  finished.notify_all();
  watchdog.join();
  g_object_unref(cancellable);
  g_free(address);
  if (connection) g_dbus_connection_set_exit_on_close(connection, FALSE);
  return connection;
}

}  // namespace

GDBusConnection* sessionBus() {
  static GDBusConnection* const bus = connectWithin(kConnectDeadline);
  return bus;
}

std::vector<GVariant*> callAll(GDBusConnection* bus, const std::vector<BusCall>& calls,
                               std::chrono::milliseconds deadline) {
  struct Batch {
    std::vector<GVariant*> replies;
    std::size_t left = 0;
  } batch;
  batch.replies.assign(calls.size(), nullptr);
  batch.left = calls.size();
  if (calls.empty()) return {};
  struct Pending {
    Batch* batch;
    std::size_t index;
  };
  // The replies come on a context of this call's own, so that any thread may batch.
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const BusCall& c = calls[i];
    g_dbus_connection_call(
        bus, c.name, c.path, c.interface, c.method, c.parameters,
        c.replyType ? G_VARIANT_TYPE(c.replyType) : nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
        static_cast<gint>(deadline.count()), nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* pending = static_cast<Pending*>(data);
          pending->batch->replies[pending->index] =
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
          --pending->batch->left;
          delete pending;
        },
        new Pending{&batch, i});
  }
  // Each call ends by its own timeout at the latest.
  while (batch.left > 0) g_main_context_iteration(context, TRUE);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return batch.replies;
}

SessionBusPresence probeSessionBus(const ProbeRider& rider) {
  SessionBusPresence present;
  GDBusConnection* bus = sessionBus();
  if (!bus) {
    for (const BusCall& c : rider.calls)
      if (c.parameters) g_variant_unref(g_variant_ref_sink(c.parameters));
    if (rider.answered) rider.answered(std::vector<GVariant*>(rider.calls.size()), present);
    return present;
  }
  // Every question at once: one round trip. The texts are kept as C strings for the calls.
  std::deque<std::string> texts;
  const auto text = [&texts](std::string_view v) { return texts.emplace_back(v).c_str(); };
  std::vector<BusCall> calls;
  for (const ProbeQuestion& q : kProbeQuestions) {
    const bool asks = !q.argument.empty();
    calls.push_back({text(q.name), text(q.path), text(q.interface), text(q.method),
                     asks ? g_variant_new("(s)", text(q.argument)) : nullptr,
                     asks ? "(b)" : nullptr});
  }
  const std::size_t own = calls.size();
  calls.insert(calls.end(), rider.calls.begin(), rider.calls.end());
  std::vector<GVariant*> replies = callAll(bus, calls, kProbeDeadline);
  std::array<bool, kProbeQuestions.size()> answered{}, yes{};
  for (std::size_t i = 0; i < own; ++i) {
    answered[i] = replies[i] != nullptr;
    gboolean value = FALSE;
    if (replies[i] && g_variant_is_of_type(replies[i], G_VARIANT_TYPE("(b)")))
      g_variant_get(replies[i], "(b)", &value);
    yes[i] = value == TRUE;
  }
  present = presenceOf(answered, yes);
  if (rider.answered)
    rider.answered(
        std::vector<GVariant*>(replies.begin() + static_cast<std::ptrdiff_t>(own), replies.end()),
        present);
  for (GVariant* reply : replies)
    if (reply) g_variant_unref(reply);
  return present;
}

}  // namespace orvane
