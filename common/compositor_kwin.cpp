// KWin: a script the adapter loads into KWin at run time through org.kde.KWin /Scripting, so
// nothing needs installing. The script and the adapter talk over the session bus, the script
// through callDBus to this process's unique name:
//
//   the script calls Next() and waits; the adapter answers it with a command when it has one:
//     "state"          the script calls State(json) with windows, screens and focus
//     "watch"          the same, and from now on it follows changes (below)
//     "activate UUID"  the script activates the window and calls Done(activated)
//     "wait"           nothing to do (sent before KWin's own call timeout can end the chain)
//     "stop"           the script ends its chain (the adapter is unloading it)
//   and calls Next() again.
// The script also sends its state as it starts (a one-shot tool's script, see
// compositor_bus_once.cpp, sends only that, and unloads itself). Once asked
// to watch (the adapter does on its second snapshot), it calls Changed() on the first change
// after each state it sends (KWin's signals: frames, captions, minimizing, desktops, stacking,
// focus, windows coming and going, screens): until then the adapter's last state stands, so
// that polling tools cost no round trip while nothing moves.
//
// The adapter serves these calls on a thread of its own, on a GLib context of its own, so
// that snapshots and activations work from any thread and in tools that run no GLib loop.
// Every request has a deadline (kBusCallDeadline); a KWin that lets it pass is stalled().
//
// KWin's scripts give no output scale: the adapter reads it from the Wayland side (each
// output's current mode over its xdg-output logical size), once someone wants it (a Wayland
// connection costs KWin more than a whole window listing), and again when the script's
// screens change.
//
// Each process loads its script under a name of its own (pid and a random part): KWin 5.27
// names unnamed scripts by how many are loaded, so one tool's unload could hit another's
// script; and it starts it without naming its number (see start()). The script is unloaded
// when the adapter goes (every normal end). A tool ended by a signal (the polling tools end
// with _exit on SIGTERM) leaves it loaded but inert: its waiting Next() fails once the
// process's bus connection is gone, which ends the chain, and a watching script sends at most
// one more Changed() (to nobody) before it waits for a state that nobody asks for.
#include "compositor_kwin.hpp"

#include <gio/gio.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "kwin_state.hpp"
#include "session_bus.hpp"

namespace orvane {

namespace {

constexpr char kObjectPath[] = "/dev/orvane/KWin";
constexpr char kInterface[] = "dev.orvane.KWin";
constexpr char kIntrospection[] =
    "<node><interface name='dev.orvane.KWin'>"
    "<method name='Next'><arg type='s' direction='out'/></method>"
    "<method name='State'><arg type='s' direction='in'/></method>"
    "<method name='Done'><arg type='b' direction='in'/></method>"
    "<method name='Changed'/>"
    "</interface></node>";

// How long a state the script has not called out of date is taken as it is: KWin's signals
// tell of every change the tools look at, and this bounds what one that slipped by costs.
constexpr auto kFreshFor = std::chrono::seconds(1);

constexpr std::chrono::milliseconds kUnloadDeadline{250};

// How long the script's Next() is left waiting before it is answered "wait": well inside
// the 25 s after which KWin gives up on a call (and the script's chain would end).
constexpr auto kIdleAnswer = std::chrono::seconds(10);

class KWinCompositor final : public Compositor {
 public:
  KWinCompositor() : names_(sway::OwnerNames::fromEnvironment()) {}

  ~KWinCompositor() override { stop(); }

  CompositorId id() const override { return CompositorId::kwin; }
  bool ok() const override { return loaded_; }
  bool stalled() const override {
    std::lock_guard guard(lock_);
    return stalled_ || gone_;
  }

  // The script sends its state as it starts and says when that is out of date; until then
  // (for kFreshFor at most) a snapshot costs no round trip.
  std::optional<CompositorSnapshot> snapshot() override {
    std::lock_guard serial(requestLock_);
    if (!loaded_) return std::nullopt;
    std::optional<std::string> json;
    std::uint64_t generation = 0;
    {
      std::unique_lock held(lock_);
      if (!latest_ && !gone_) {
        // The script's first state, sent without being asked.
        if (!answered_.wait_for(held, kBusCallDeadline, [&] { return latest_ || gone_; })) {
          stalled_ = true;
          return std::nullopt;
        }
      }
      if (gone_) return std::nullopt;
      // The first state serves the first snapshot; later ones only once the script watches.
      const bool trusted = watching_ || !firstUsed_;
      firstUsed_ = true;
      if (trusted && !dirty_ && std::chrono::steady_clock::now() - latestAt_ < kFreshFor) {
        if (parsed_ && parsedGeneration_ == generation_) return parsed_;
        json = latest_;
        generation = generation_;
      }
    }
    if (!json) {
      json = request(watching_ ? "state" : "watch", true);
      if (!json) return std::nullopt;
      watching_ = true;
      std::lock_guard guard(lock_);
      generation = generation_;
    }
    auto state = kwin::parseState(*json, names_, scales_);
    if (!state) return std::nullopt;
    if (wantScales_ && scalesFor_ != state->screens) {
      // Read first, or the screens changed: so may their scales.
      scales_ = readOutputScales(kBusCallDeadline);
      scalesFor_ = state->screens;
      state = kwin::parseState(*json, names_, scales_);
      if (!state) return std::nullopt;
    }
    uuids_ = std::move(state->uuids);
    parsed_ = std::move(state->snapshot);
    parsedGeneration_ = generation;
    return parsed_;
  }

  bool wantScales() override {
    std::lock_guard serial(requestLock_);
    if (wantScales_) return false;
    wantScales_ = true;
    parsed_.reset();
    return true;
  }

  bool activate(std::uint32_t window) override {
    std::lock_guard serial(requestLock_);
    auto uuid = uuidOf(window);
    if (!uuid) {
      auto reply = request("state", true);
      if (!reply) return false;
      if (auto state = kwin::parseState(*reply, names_)) uuids_ = std::move(state->uuids);
      uuid = uuidOf(window);
    }
    if (!uuid) return false;
    auto reply = request("activate " + *uuid, false);
    return reply && *reply == "1";
  }

 private:
  std::optional<std::string> uuidOf(std::uint32_t window) const {
    for (const auto& w : uuids_)
      if (w.number == window) return w.uuid;
    return std::nullopt;
  }

  // ---- start and stop (the constructing thread) ----

  // What the calls that load and start the script (startCalls()) need: whose replies go to
  // started(). False when there is nothing to load (no bus, no file). Nothing here waits or
  // starts a thread: on a session without KWin (the probe asks there too) it costs little.
  bool prepare() {
    bus_ = sessionBus();
    if (!bus_) return false;
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);

    g_main_context_push_thread_default(context_);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {&KWinCompositor::onCall, nullptr, nullptr, {}};
    registration_ = g_dbus_connection_register_object(bus_, kObjectPath, node->interfaces[0],
                                                      &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    GSource* timer = g_timeout_source_new_seconds(2);
    g_source_set_callback(timer, &KWinCompositor::onTimer, this, nullptr);
    g_source_attach(timer, context_);
    g_source_unref(timer);
    g_main_context_pop_thread_default(context_);
    if (!registration_ || !writeScript()) return false;
    pluginName_ = "orvane-" + std::to_string(::getpid()) + "-" + std::to_string(g_random_int());
    return true;
  }

  // Whether KWin is there and its owner, the load and the start, sent at once: the bus hands
  // KWin the load before the start. Started through /Scripting's start(), which runs every loaded
  // script that is not running yet (as System Settings does after changing scripts), not through
  // the script's own object: KWin 5.27 numbers scripts by how many are loaded, so after another
  // process's unload two scripts can share a number, and the object of that number is the
  // other's.
  std::vector<BusCall> startCalls() const {
    return {{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", g_variant_new("(s)", "org.kde.KWin"), "(b)"},
            {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "GetNameOwner", g_variant_new("(s)", "org.kde.KWin"), "(s)"},
            {"org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript",
             g_variant_new("(ss)", scriptPath_.c_str(), pluginName_.c_str()), "(i)"},
            {"org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "start", nullptr, nullptr}};
  }

  // The replies to startCalls(), in their order (not unreferenced here); a script loaded
  // for a KWin that is not `wanted` is unloaded.
  void started(GVariant* const* all, bool wanted) {
    // The bus's word that KWin is not there: it refused the load itself, nothing to unload.
    gboolean present = TRUE;
    if (all[0]) g_variant_get(all[0], "(b)", &present);
    GVariant* const* replies = all + 1;
    gint32 scriptId = -1;
    {
      std::lock_guard guard(lock_);
      if (replies[0]) {
        const gchar* owner = nullptr;
        g_variant_get(replies[0], "(&s)", &owner);
        if (owner) kwinOwner_ = owner;
      }
      ownerKnown_ = true;
      if (replies[1]) g_variant_get(replies[1], "(i)", &scriptId);
      if (!replies[0] || !replies[1] || !replies[2]) stalled_ = true;
    }
    ownerFound_.notify_all();
    loaded_ = wanted && !kwinOwner_.empty() && scriptId >= 0 && replies[2];
    if (!present) pluginName_.clear();
    if (!loaded_) {
      if (!pluginName_.empty()) unload();
      return;
    }
    // The script's calls wait on the context until the worker serves them: it runs long before
    // KWin has run the script. A KWin gone before the watch begins is gone at once.
    g_main_context_push_thread_default(context_);
    watch_ = g_bus_watch_name_on_connection(bus_, "org.kde.KWin", G_BUS_NAME_WATCHER_FLAGS_NONE,
                                            nullptr, &KWinCompositor::onVanished, this, nullptr);
    g_main_context_pop_thread_default(context_);
    worker_ = std::thread([this] {
      g_main_context_push_thread_default(context_);
      g_main_loop_run(loop_);
      g_main_context_pop_thread_default(context_);
    });
  }

 public:
  // Prepared, loaded and started in a round trip of its own.
  static std::unique_ptr<KWinCompositor> startAlone() {
    auto kwin = std::make_unique<KWinCompositor>();
    if (kwin->prepare()) {
      std::vector<GVariant*> replies = callAll(kwin->bus_, kwin->startCalls(), kBusCallDeadline);
      kwin->started(replies.data(), true);
      for (GVariant* reply : replies)
        if (reply) g_variant_unref(reply);
    }
    return kwin;
  }

  // Prepared now, its start calls sent in another batch (the session bus probe's) and their
  // replies handed to started().
  static std::unique_ptr<KWinCompositor> startWithin(std::vector<BusCall>& calls) {
    auto kwin = std::make_unique<KWinCompositor>();
    if (kwin->prepare()) calls = kwin->startCalls();
    return kwin;
  }

  void startedWithin(const std::vector<GVariant*>& replies, bool wanted) {
    if (replies.size() == 4)
      started(replies.data(), wanted);
    else
      loaded_ = false;
  }

 private:
  void stop() {
    // The worker ends while the unload is on its way.
    const bool unloading = !pluginName_.empty();
    if (unloading) sendUnload();
    if (context_) {
      g_main_context_invoke(
          context_,
          [](gpointer self) -> gboolean {
            auto* me = static_cast<KWinCompositor*>(self);
            me->answerPending("stop");
            if (me->registration_) g_dbus_connection_unregister_object(me->bus_, me->registration_);
            if (me->watch_) g_bus_unwatch_name(me->watch_);
            me->registration_ = 0;
            me->watch_ = 0;
            g_main_loop_quit(me->loop_);
            return G_SOURCE_REMOVE;
          },
          this);
      // Without a worker, the context is free and the function above has run here already.
      if (unloading) awaitSent();
      if (worker_.joinable()) worker_.join();
      g_main_loop_unref(loop_);
      g_main_context_unref(context_);
    } else if (unloading) {
      awaitSent();
    }
    removeScriptFile();
  }

  // Sent without waiting for KWin's answer: the bus delivers it after everything this
  // process sent before, and a KWin that is busy (or gone) does not hold the tool at its end.
  // What is waited for is the bus's answer to a ping sent after it, which proves the unload
  // has left this process (GLib's flush has no deadline, and costs a thread of its own, a
  // tenth of a one-shot tool's time). An unload that did not happen leaves an inert script.
  void unload() {
    sendUnload();
    awaitSent();
  }

  void sendUnload() {
    GDBusMessage* message =
        g_dbus_message_new_method_call(kwinOwner_.empty() ? "org.kde.KWin" : kwinOwner_.c_str(),
                                       "/Scripting", "org.kde.kwin.Scripting", "unloadScript");
    g_dbus_message_set_body(message, g_variant_new("(s)", pluginName_.c_str()));
    g_dbus_message_set_flags(message,
                             static_cast<GDBusMessageFlags>(G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED |
                                                            G_DBUS_MESSAGE_FLAGS_NO_AUTO_START));
    g_dbus_connection_send_message(bus_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
    g_object_unref(message);
    pluginName_.clear();
  }

  // Until what this process sent before has left it (within kUnloadDeadline).
  void awaitSent() {
    GVariant* pong = g_dbus_connection_call_sync(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer", "Ping",
        nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(kUnloadDeadline.count()),
        nullptr, nullptr);
    if (pong) g_variant_unref(pong);
  }

  bool writeScript() {
    return kwin::writeScriptFile(kwin::scriptSource(g_dbus_connection_get_unique_name(bus_)),
                                 scriptPath_);
  }

  void removeScriptFile() {
    std::lock_guard guard(lock_);
    if (!scriptPath_.empty()) ::unlink(scriptPath_.c_str());
    scriptPath_.clear();
  }

  // ---- requests (any thread, one at a time) ----

  // Hands `command` to the script and waits for its answer: State's JSON (`state`), or
  // "1"/"0" for Done; nothing when the deadline passed or KWin is gone. An answer of the
  // other kind (a late one to a request that timed out) is not taken.
  std::optional<std::string> request(const std::string& command, bool state) {
    if (!loaded_) return std::nullopt;
    std::unique_lock held(lock_);
    if (gone_) return std::nullopt;
    command_ = command;
    answer_.reset();
    const std::uint64_t ticket = ++ticket_;
    answering_ = ticket;
    wantsState_ = state;
    held.unlock();
    g_main_context_invoke(
        context_,
        [](gpointer self) -> gboolean {
          static_cast<KWinCompositor*>(self)->handOver();
          return G_SOURCE_REMOVE;
        },
        this);
    held.lock();
    const bool answered =
        answered_.wait_for(held, kBusCallDeadline, [&] { return answer_.has_value() || gone_; });
    command_.clear();
    answering_ = 0;
    if (!answered || !answer_) {
      if (!gone_) stalled_ = true;
      return std::nullopt;
    }
    stalled_ = false;
    std::optional<std::string> out = std::move(answer_);
    answer_.reset();
    return out;
  }

  // ---- the worker thread ----

  // Answers the script's waiting Next() with the command, when both are there.
  void handOver() {
    std::lock_guard guard(lock_);
    if (!pending_ || command_.empty()) return;
    GDBusMethodInvocation* invocation = pending_;
    pending_ = nullptr;
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", command_.c_str()));
    command_.clear();
  }

  void answerPending(const char* command) {
    std::lock_guard guard(lock_);
    if (!pending_) return;
    g_dbus_method_invocation_return_value(pending_, g_variant_new("(s)", command));
    pending_ = nullptr;
  }

  static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<KWinCompositor*>(data);
    // Only KWin (our script) may speak here. Its name comes with the reply to the load, which
    // the script can overtake.
    bool fromKWin = false;
    {
      std::unique_lock held(self->lock_);
      self->ownerFound_.wait_for(held, kBusCallDeadline, [&] { return self->ownerKnown_; });
      fromKWin = sender && self->ownerKnown_ && self->kwinOwner_ == sender;
    }
    if (!fromKWin) {
      g_dbus_method_invocation_return_dbus_error(
          invocation, "org.freedesktop.DBus.Error.AccessDenied", "not KWin");
      return;
    }
    const std::string_view name(method);
    if (name == "Next") {
      {
        std::lock_guard guard(self->lock_);
        if (self->pending_)
          g_dbus_method_invocation_return_value(self->pending_, g_variant_new("(s)", "wait"));
        self->pending_ = invocation;
        self->pendingSince_ = std::chrono::steady_clock::now();
      }
      self->handOver();
      // The script is running: KWin has read its file.
      self->removeScriptFile();
      return;
    }
    if (name == "Changed") {
      g_dbus_method_invocation_return_value(invocation, nullptr);
      std::lock_guard guard(self->lock_);
      self->dirty_ = true;
      return;
    }
    std::string answer;
    if (name == "State") {
      const gchar* json = nullptr;
      g_variant_get(parameters, "(&s)", &json);
      answer = json ? json : "";
    } else if (name == "Done") {
      gboolean done = FALSE;
      g_variant_get(parameters, "(b)", &done);
      answer.assign(1, done ? '1' : '0');
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
    std::lock_guard guard(self->lock_);
    if (name == "State") {
      // Built after every change the script has told of, and before any it tells of next.
      self->latest_ = answer;
      self->latestAt_ = std::chrono::steady_clock::now();
      self->dirty_ = false;
      ++self->generation_;
      self->answered_.notify_all();
    }
    if (self->answering_ && self->wantsState_ == (name == "State")) {
      self->answer_ = std::move(answer);
      self->answered_.notify_all();
    }
  }

  static gboolean onTimer(gpointer data) {
    auto* self = static_cast<KWinCompositor*>(data);
    bool idle = false;
    {
      std::lock_guard guard(self->lock_);
      idle = self->pending_ && std::chrono::steady_clock::now() - self->pendingSince_ > kIdleAnswer;
    }
    if (idle) self->answerPending("wait");
    return G_SOURCE_CONTINUE;
  }

  static void onVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* self = static_cast<KWinCompositor*>(data);
    std::lock_guard guard(self->lock_);
    self->gone_ = true;
    self->answered_.notify_all();
  }

  GDBusConnection* bus_ = nullptr;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread worker_;
  guint registration_ = 0;
  guint watch_ = 0;
  std::string scriptPath_;
  std::string pluginName_;
  bool loaded_ = false;

  std::mutex requestLock_;  // one request at a time, and what follows
  sway::OwnerNames names_;
  std::vector<kwin::ScriptWindow> uuids_;
  std::optional<CompositorSnapshot> parsed_;
  std::uint64_t parsedGeneration_ = 0;
  bool firstUsed_ = false;  // the script's first state has served a snapshot
  bool watching_ = false;   // the script follows changes
  // Whether snapshots carry the outputs' scales; those read, and the script's screens they
  // were read for.
  bool wantScales_ = false;
  std::vector<kwin::OutputScale> scales_;
  std::optional<std::vector<Rect>> scalesFor_;

  mutable std::mutex lock_;  // what follows, shared with the worker thread
  std::string kwinOwner_;    // KWin's unique name, once ownerKnown_
  bool ownerKnown_ = false;
  std::condition_variable ownerFound_;
  std::condition_variable answered_;
  GDBusMethodInvocation* pending_ = nullptr;
  std::chrono::steady_clock::time_point pendingSince_;
  std::string command_;
  std::optional<std::string> answer_;
  std::uint64_t ticket_ = 0;
  std::uint64_t answering_ = 0;
  bool wantsState_ = false;
  bool stalled_ = false;
  bool gone_ = false;
  // The script's last state, when it came, whether the script has called it out of date
  // since, and how many states have come.
  std::optional<std::string> latest_;
  std::chrono::steady_clock::time_point latestAt_;
  bool dirty_ = true;
  std::uint64_t generation_ = 0;
};

}  // namespace

namespace {

// The adapter started within the probe, until makeKWinCompositor takes it.
std::unique_ptr<KWinCompositor>& probedKWin() {
  static std::unique_ptr<KWinCompositor> kwin;
  return kwin;
}

}  // namespace

SessionBusPresence probeCompositorBus() {
  std::vector<BusCall> calls;
  probedKWin() = KWinCompositor::startWithin(calls);
  return probeSessionBus({std::move(calls), [](const std::vector<GVariant*>& replies,
                                               const SessionBusPresence& found) {
                            auto& probed = probedKWin();
                            if (!probed) return;
                            probed->startedWithin(replies, found.kwin);
                            if (!found.kwin) probed.reset();
                          }});
}

std::unique_ptr<Compositor> makeKWinCompositor() {
  if (auto& probed = probedKWin()) return std::move(probed);
  return KWinCompositor::startAlone();
}

}  // namespace orvane
