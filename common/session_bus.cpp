#include "session_bus.hpp"

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

// One method call's reply, or null when it failed or the deadline passed.
GVariant* call(GDBusConnection* bus, const char* name, const char* path, const char* interface,
               const char* method, GVariant* parameters, const char* replyType,
               std::chrono::milliseconds deadline) {
  return g_dbus_connection_call_sync(bus, name, path, interface, method, parameters,
                                     replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                     G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                     static_cast<gint>(deadline.count()), nullptr, nullptr);
}

bool hasOwner(GDBusConnection* bus, const char* name) {
  GVariant* reply =
      call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
           "NameHasOwner", g_variant_new("(s)", name), "(b)", kProbeDeadline);
  if (!reply) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

bool answersPing(GDBusConnection* bus, const char* name) {
  GVariant* reply =
      call(bus, name, "/", "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, kProbeDeadline);
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

}  // namespace

GDBusConnection* sessionBus() {
  static GDBusConnection* const bus = connectWithin(kConnectDeadline);
  return bus;
}

SessionBusPresence probeSessionBus() {
  SessionBusPresence present;
  GDBusConnection* bus = sessionBus();
  if (!bus) return present;
  const std::string extension(kGnomeShellExtensionBusName);
  present.gnomeShell = hasOwner(bus, "org.gnome.Shell");
  if (present.gnomeShell)
    present.gnomeShellExtension =
        hasOwner(bus, extension.c_str()) && answersPing(bus, extension.c_str());
  if (!present.gnomeShell)
    present.kwin = hasOwner(bus, "org.kde.KWin") && answersPing(bus, "org.kde.KWin");
  return present;
}

}  // namespace orvane
