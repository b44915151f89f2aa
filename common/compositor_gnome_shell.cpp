// GNOME Shell, through our extension (gnome-shell/desktop-tools@orvane.dev): every snapshot is
// one GetState call on the session bus; activation asks the extension, which activates as the
// shell itself does; the extension's Changed signal tells the tools when to look again, so
// they need not poll; the selector's overlays are toplevels the extension places above
// everything, since Mutter has no layer-shell.
//
// A shell that lets a call's deadline pass is asked again only after a pause, and then
// briefly, as sway is: a poller keeps its pace while the shell is stopped.
#include <gio/gio.h>

#include <chrono>
#include <map>
#include <mutex>

#include "compositor.hpp"
#include "gnome_shell_windows.hpp"
#include "process_files.hpp"
#include "session_bus.hpp"

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStalledPause{1000};
constexpr milliseconds kStalledDeadline{200};
constexpr const char* kStateType = "((a(sddddd)biua(uxssssddddibbb)))";

const std::string kName(kGnomeShellExtensionBusName);
const std::string kPath(kGnomeShellExtensionPath);
const std::string kInterface(kGnomeShellExtensionInterface);

std::string stringAt(GVariant* tuple, gsize index) {
  GVariant* child = g_variant_get_child_value(tuple, index);
  gsize length = 0;
  const gchar* text = g_variant_get_string(child, &length);
  std::string value(text, length);
  g_variant_unref(child);
  return value;
}

gnome::ShellState stateOf(GVariant* reply) {
  gnome::ShellState state;
  GVariant* body = g_variant_get_child_value(reply, 0);
  GVariant* monitors = g_variant_get_child_value(body, 0);
  GVariant* logical = g_variant_get_child_value(body, 1);
  GVariant* primary = g_variant_get_child_value(body, 2);
  GVariant* focused = g_variant_get_child_value(body, 3);
  GVariant* windows = g_variant_get_child_value(body, 4);
  state.logicalLayout = g_variant_get_boolean(logical);
  state.primary = g_variant_get_int32(primary);
  state.focused = g_variant_get_uint32(focused);

  const gsize monitorCount = g_variant_n_children(monitors);
  state.monitors.reserve(monitorCount);
  for (gsize i = 0; i < monitorCount; ++i) {
    GVariant* m = g_variant_get_child_value(monitors, i);
    gnome::Monitor& monitor = state.monitors.emplace_back();
    monitor.connector = stringAt(m, 0);
    g_variant_get_child(m, 1, "d", &monitor.pixels.x);
    g_variant_get_child(m, 2, "d", &monitor.pixels.y);
    g_variant_get_child(m, 3, "d", &monitor.pixels.width);
    g_variant_get_child(m, 4, "d", &monitor.pixels.height);
    g_variant_get_child(m, 5, "d", &monitor.scale);
    g_variant_unref(m);
  }

  const gsize windowCount = g_variant_n_children(windows);
  state.windows.reserve(windowCount);
  for (gsize i = 0; i < windowCount; ++i) {
    GVariant* w = g_variant_get_child_value(windows, i);
    gnome::Window& window = state.windows.emplace_back();
    guint32 number = 0;
    gint64 pid = 0;
    gint32 monitor = -1;
    gboolean minimized = FALSE, onScreen = FALSE, xwayland = FALSE;
    g_variant_get_child(w, 0, "u", &number);
    g_variant_get_child(w, 1, "x", &pid);
    window.number = number;
    window.pid = pid;
    window.wmClass = stringAt(w, 2);
    window.gtkApplicationId = stringAt(w, 3);
    window.appName = stringAt(w, 4);
    window.title = stringAt(w, 5);
    g_variant_get_child(w, 6, "d", &window.frame.x);
    g_variant_get_child(w, 7, "d", &window.frame.y);
    g_variant_get_child(w, 8, "d", &window.frame.width);
    g_variant_get_child(w, 9, "d", &window.frame.height);
    g_variant_get_child(w, 10, "i", &monitor);
    g_variant_get_child(w, 11, "b", &minimized);
    g_variant_get_child(w, 12, "b", &onScreen);
    g_variant_get_child(w, 13, "b", &xwayland);
    window.monitor = monitor;
    window.minimized = minimized;
    window.onScreen = onScreen;
    window.xwayland = xwayland;
    g_variant_unref(w);
  }
  for (GVariant* v : {monitors, logical, primary, focused, windows, body}) g_variant_unref(v);
  return state;
}

class GnomeShellCompositor final : public Compositor {
 public:
  GnomeShellCompositor() : bus_(sessionBus()) {}

  ~GnomeShellCompositor() override {
    // Subscriptions hold a pointer to this adapter: gone with it.
    for (guint id : subscriptions_) g_dbus_connection_signal_unsubscribe(bus_, id);
  }

  CompositorId id() const override { return CompositorId::gnomeShell; }
  bool ok() const override { return bus_ != nullptr; }

  bool stalled() const override {
    std::lock_guard guard(lock_);
    return stalled_;
  }

  std::optional<CompositorSnapshot> snapshot() override {
    GVariant* reply = call("GetState", nullptr, kStateType);
    if (!reply) return std::nullopt;
    const gnome::ShellState state = stateOf(reply);
    g_variant_unref(reply);
    CompositorSnapshot snapshot = gnome::snapshotOf(state, programName);
    std::lock_guard guard(lock_);
    connectors_.clear();
    for (std::size_t i = 0; i < state.monitors.size(); ++i) {
      if (!state.monitors[i].connector.empty())
        connectors_[gnome::outputId(state.monitors[i].connector, i)] = state.monitors[i].connector;
    }
    return snapshot;
  }

  bool activate(std::uint32_t window) override {
    return answeredTrue(call("Activate", g_variant_new("(u)", window), "(b)"));
  }

  bool watchChanges(std::function<void()> changed) override {
    if (!bus_) return false;
    auto* callback = new std::function<void()>(std::move(changed));
    const auto destroy = [](gpointer data) { delete static_cast<std::function<void()>*>(data); };
    // The extension's own signal, and its name changing hands (the shell restarting, the
    // extension turned off or on): both call for a new look.
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(
        bus_, kName.c_str(), kInterface.c_str(), "Changed", kPath.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &GnomeShellCompositor::onSignal, callback, destroy));
    auto* second = new std::function<void()>(*callback);
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(
        bus_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", kName.c_str(), G_DBUS_SIGNAL_FLAGS_NONE,
        &GnomeShellCompositor::onSignal, second, destroy));
    return true;
  }

  OverlayKind overlay() const override { return OverlayKind::placed; }

  bool placeOverlay(const std::string& title, DisplayId output) override {
    std::string connector;
    {
      std::lock_guard guard(lock_);
      const auto it = connectors_.find(output);
      if (it != connectors_.end()) connector = it->second;
    }
    if (connector.empty()) {
      // Outputs not read yet, or read before the extension knew their connectors.
      if (!snapshot()) return false;
      std::lock_guard guard(lock_);
      const auto it = connectors_.find(output);
      if (it == connectors_.end()) return false;
      connector = it->second;
    }
    return answeredTrue(
        call("PlaceOverlay", g_variant_new("(ss)", title.c_str(), connector.c_str()), "(b)"));
  }

 private:
  static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant*, gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
  }

  static bool answeredTrue(GVariant* reply) {
    if (!reply) return false;
    gboolean done = FALSE;
    g_variant_get(reply, "(b)", &done);
    g_variant_unref(reply);
    return done;
  }

  // One call to the extension within its deadline; null when it failed. A deadline that
  // passed makes the shell stalled: calls then fail at once for a pause, then are tried with a
  // short deadline until one is answered.
  GVariant* call(const char* method, GVariant* parameters, const char* replyType) {
    if (!bus_) {
      if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
      return nullptr;
    }
    milliseconds deadline = kBusCallDeadline;
    {
      std::lock_guard guard(lock_);
      if (stalled_) {
        if (Clock::now() < quietUntil_) {
          if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
          return nullptr;
        }
        deadline = kStalledDeadline;
      }
    }
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus_, kName.c_str(), kPath.c_str(), kInterface.c_str(), method, parameters,
        G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        static_cast<gint>(deadline.count()), nullptr, &error);
    std::lock_guard guard(lock_);
    if (reply) {
      stalled_ = false;
    } else if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
      stalled_ = true;
      quietUntil_ = Clock::now() + kStalledPause;
    }
    if (error) g_error_free(error);
    return reply;
  }

  GDBusConnection* const bus_;
  std::vector<guint> subscriptions_;
  mutable std::mutex lock_;
  bool stalled_ = false;
  Clock::time_point quietUntil_{};
  std::map<DisplayId, std::string> connectors_;
};

}  // namespace

std::unique_ptr<Compositor> makeGnomeShellCompositor() {
  return std::make_unique<GnomeShellCompositor>();
}

}  // namespace orvane
