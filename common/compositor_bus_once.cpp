// The session bus compositors for a tool that takes one snapshot and ends (window-list),
// without GIO: the platform choice's questions, KWin's adapter and GNOME Shell's, on one
// connection of our own (bus_wire.hpp), single-threaded.
//
// The probe's questions, KWin's owner and a watch on it go out with the Hello; KWin's script
// is loaded and started right after Hello's reply (the script calls this process's unique
// name). That script sends its state once and unloads itself (kwin::scriptSource with a
// plugin name); the adapter unloads it only when no state came by the deadline, so nothing is
// left loaded either way. GNOME Shell's snapshot is one GetState call to our extension.
// Neither activates: a one-shot tool never does.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string_view>

#include "bus_wire.hpp"
#include "compositor.hpp"
#include "compositor_kwin.hpp"
#include "gnome_shell_windows.hpp"
#include "kwin_state.hpp"
#include "process_files.hpp"

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;
using buswire::Kind;
using buswire::Message;

constexpr std::chrono::milliseconds kConnectDeadline{1000};
constexpr std::chrono::milliseconds kProbeDeadline{500};
constexpr std::chrono::milliseconds kUnloadDeadline{250};

// The process's connection, once the probe made it, and what was read from it while waiting
// for something else.
struct OnceBus {
  buswire::Connection connection;
  std::deque<Message> early;

  std::optional<Message> next(Clock::time_point deadline) {
    if (early.empty()) return connection.receive(deadline);
    Message m = std::move(early.front());
    early.pop_front();
    return m;
  }

  // The reply (or error) to the call `serial`; what comes before it is kept for later.
  std::optional<Message> replyTo(std::uint32_t serial, Clock::time_point deadline) {
    for (auto it = early.begin(); it != early.end(); ++it) {
      if (it->replySerial != serial) continue;
      Message m = std::move(*it);
      early.erase(it);
      return m;
    }
    while (auto m = connection.receive(deadline)) {
      if (m->replySerial == serial && (m->kind == Kind::reply || m->kind == Kind::error)) return m;
      early.push_back(std::move(*m));
    }
    return std::nullopt;
  }
};

std::unique_ptr<OnceBus>& onceBus() {
  static std::unique_ptr<OnceBus> bus;
  return bus;
}

// The session bus's address as GIO finds it: the environment's, else the user's bus in the
// runtime directory.
std::string sessionAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return {};
  const std::string path = std::string(runtime) + "/bus";
  return ::access(path.c_str(), F_OK) == 0 ? "unix:path=" + path : std::string();
}

class KWinOnce final : public Compositor {
 public:
  // Not ok() without a plugin name: KWin is there but the script could not be started.
  KWinOnce(std::string owner, std::string pluginName, std::string scriptPath)
      : owner_(std::move(owner)),
        pluginName_(std::move(pluginName)),
        scriptPath_(std::move(scriptPath)),
        names_(sway::OwnerNames::fromEnvironment()) {}

  ~KWinOnce() override {
    if (!pluginName_.empty() && !json_ && !gone_) unload(owner_, pluginName_);
    if (!scriptPath_.empty()) ::unlink(scriptPath_.c_str());
  }

  // Sends KWin the unload of `pluginName` without waiting for its answer: once written, the
  // bus has it, and delivers it after everything sent before.
  static void unload(const std::string& owner, const std::string& pluginName) {
    auto& bus = onceBus()->connection;
    bus.send(buswire::methodCall(bus.nextSerial(), owner, "/Scripting", "org.kde.kwin.Scripting",
                                 "unloadScript", {pluginName}, true),
             Clock::now() + kUnloadDeadline);
  }

  CompositorId id() const override { return CompositorId::kwin; }
  bool ok() const override { return !pluginName_.empty(); }
  bool stalled() const override { return stalled_ || gone_; }

  // The script's one state; a later snapshot is the same one.
  std::optional<CompositorSnapshot> snapshot() override {
    if (!ok() || (!json_ && !awaitState())) return std::nullopt;
    if (!parsed_ || (wantScales_ && !scalesRead_)) {
      if (wantScales_ && !scalesRead_) {
        scales_ = readOutputScales(kBusCallDeadline);
        scalesRead_ = true;
      }
      auto state = kwin::parseState(*json_, names_, scales_);
      if (!state) return std::nullopt;
      parsed_ = std::move(state->snapshot);
    }
    return parsed_;
  }

  bool wantScales() override {
    if (wantScales_) return false;
    wantScales_ = true;
    return true;
  }

  bool activate(std::uint32_t) override { return false; }

 private:
  // Until the script's State call (answered), KWin leaves or the deadline passes.
  bool awaitState() {
    if (stalled_ || gone_) return false;
    OnceBus& bus = *onceBus();
    const auto deadline = Clock::now() + kBusCallDeadline;
    for (;;) {
      auto m = bus.next(deadline);
      if (!m) {
        stalled_ = true;
        return false;
      }
      // The bus's own word only: any peer can send us a signal of that name.
      if (m->kind == Kind::signal && m->sender == kDBusName && m->member == "NameOwnerChanged" &&
          m->signature == "sss" && m->arguments[0].text == "org.kde.KWin" &&
          m->arguments[2].text != owner_) {
        gone_ = true;
        return false;
      }
      // Only KWin (our script) may speak here.
      if (m->kind != Kind::call || m->sender != owner_ || m->path != "/dev/orvane/KWin" ||
          m->interface != "dev.orvane.KWin" || m->member != "State" || m->signature != "s")
        continue;
      bus.connection.send(buswire::methodReturn(bus.connection.nextSerial(), m->serial, owner_),
                          deadline);
      json_ = std::move(m->arguments[0].text);
      // KWin has read the file: it runs the script.
      ::unlink(scriptPath_.c_str());
      scriptPath_.clear();
      return true;
    }
  }

  std::string owner_;
  std::string pluginName_;
  std::string scriptPath_;
  sway::OwnerNames names_;
  std::optional<std::string> json_;
  std::optional<CompositorSnapshot> parsed_;
  bool wantScales_ = false;
  bool scalesRead_ = false;
  std::vector<kwin::OutputScale> scales_;
  bool stalled_ = false;
  bool gone_ = false;
};

std::unique_ptr<KWinOnce>& probedKWin() {
  static std::unique_ptr<KWinOnce> kwin;
  return kwin;
}

// GetState's answer: ((monitors, logical layout, primary, focused, windows)).
constexpr char kShellStateType[] = "(a(sddddd)biua(uxssssddddibbb))";

std::optional<gnome::ShellState> shellStateOf(const Message& reply) {
  if (reply.signature != kShellStateType || reply.arguments.size() != 1) return std::nullopt;
  const auto& body = reply.arguments[0].items;
  gnome::ShellState state;
  state.logicalLayout = body[1].number != 0;
  state.primary = static_cast<int>(body[2].number);
  state.focused = static_cast<std::uint32_t>(body[3].number);
  for (const auto& m : body[0].items) {
    gnome::Monitor& monitor = state.monitors.emplace_back();
    monitor.connector = m.items[0].text;
    monitor.pixels = Rect{m.items[1].real, m.items[2].real, m.items[3].real, m.items[4].real};
    monitor.scale = m.items[5].real;
  }
  for (const auto& w : body[4].items) {
    gnome::Window& window = state.windows.emplace_back();
    window.number = static_cast<std::uint32_t>(w.items[0].number);
    window.pid = w.items[1].number;
    window.wmClass = w.items[2].text;
    window.gtkApplicationId = w.items[3].text;
    window.appName = w.items[4].text;
    window.title = w.items[5].text;
    window.frame = Rect{w.items[6].real, w.items[7].real, w.items[8].real, w.items[9].real};
    window.monitor = static_cast<int>(w.items[10].number);
    window.minimized = w.items[11].number != 0;
    window.onScreen = w.items[12].number != 0;
    window.xwayland = w.items[13].number != 0;
  }
  return state;
}

class GnomeShellOnce final : public Compositor {
 public:
  CompositorId id() const override { return CompositorId::gnomeShell; }
  bool ok() const override { return onceBus() != nullptr; }
  bool stalled() const override { return stalled_; }

  std::optional<CompositorSnapshot> snapshot() override {
    if (!ok()) return std::nullopt;
    OnceBus& bus = *onceBus();
    const auto deadline = Clock::now() + kBusCallDeadline;
    const std::uint32_t serial = bus.connection.nextSerial();
    if (!bus.connection.send(
            buswire::methodCall(serial, kGnomeShellExtensionBusName, kGnomeShellExtensionPath,
                                kGnomeShellExtensionInterface, "GetState", {}),
            deadline))
      return std::nullopt;
    const auto reply = bus.replyTo(serial, deadline);
    stalled_ = !reply;
    if (!reply || reply->kind != Kind::reply) return std::nullopt;
    const auto state = shellStateOf(*reply);
    if (!state) return std::nullopt;
    return gnome::snapshotOf(*state, programName);
  }

  bool activate(std::uint32_t) override { return false; }
  OverlayKind overlay() const override { return OverlayKind::placed; }

 private:
  bool stalled_ = false;
};

}  // namespace

SessionBusPresence probeCompositorBus() {
  SessionBusPresence present;
  const std::string address = sessionAddress();
  if (address.empty()) return present;
  // The probe's questions, then KWin's owner and a watch on it, numbered from 2 (after the
  // Hello).
  std::uint32_t serial = 2;
  std::vector<std::string> first;
  auto call = [&](std::string_view name, std::string_view path, std::string_view iface,
                  std::string_view method, std::vector<std::string> arguments,
                  bool noReply = false) {
    first.push_back(buswire::methodCall(serial++, name, path, iface, method, arguments, noReply));
  };
  for (const ProbeQuestion& q : kProbeQuestions) {
    call(q.name, q.path, q.interface, q.method,
         q.argument.empty() ? std::vector<std::string>{} : std::vector{std::string(q.argument)});
  }
  call(kDBusName, kDBusPath, kDBusName, "GetNameOwner", {"org.kde.KWin"});
  call(kDBusName, kDBusPath, kDBusName, "AddMatch",
       {"type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
        "member='NameOwnerChanged',path='/org/freedesktop/DBus',arg0='org.kde.KWin'"},
       true);
  constexpr std::uint32_t kFirst = 2, kKWinOwned = 5, kOwner = 7, kLoad = 9, kStart = 10;
  static_assert(kOwner == kFirst + kProbeQuestions.size() && kKWinOwned == kFirst + 3);
  auto bus = std::make_unique<OnceBus>();
  if (!bus->connection.open(address, first, Clock::now() + kConnectDeadline)) return present;

  // KWin's script, loaded and started in the same round trip as the questions' answers.
  std::string pluginName = "orvane-" + std::to_string(::getpid()) + "-" +
                           std::to_string(std::random_device()() & 0x7fffffff);
  std::string scriptPath;
  std::size_t expected = kOwner - kFirst + 1;
  if (kwin::writeScriptFile(kwin::scriptSource(bus->connection.uniqueName(), pluginName),
                            scriptPath)) {
    std::string out =
        buswire::methodCall(bus->connection.nextSerial(), "org.kde.KWin", "/Scripting",
                            "org.kde.kwin.Scripting", "loadScript", {scriptPath, pluginName});
    out += buswire::methodCall(bus->connection.nextSerial(), "org.kde.KWin", "/Scripting",
                               "org.kde.kwin.Scripting", "start", {});
    if (bus->connection.send(out, Clock::now() + kProbeDeadline)) expected += 2;
  } else {
    if (!scriptPath.empty()) ::unlink(scriptPath.c_str());
    scriptPath.clear();
    pluginName.clear();
  }

  // The replies by serial (errors as nothing); the script's call can come before them.
  std::map<std::uint32_t, Message> replies;
  const auto deadline = Clock::now() + kProbeDeadline;
  while (replies.size() < expected) {  // AddMatch asks for none
    auto m = bus->connection.receive(deadline);
    if (!m) break;
    if (m->replySerial >= kFirst && m->replySerial <= kStart &&
        (m->kind == Kind::reply || m->kind == Kind::error))
      replies.emplace(m->replySerial, std::move(*m));
    else
      bus->early.push_back(std::move(*m));
  }
  auto answered = [&](std::uint32_t s) -> const Message* {
    auto it = replies.find(s);
    return it != replies.end() && it->second.kind == Kind::reply ? &it->second : nullptr;
  };
  auto owned = [&](std::uint32_t s) {
    const Message* m = answered(s);
    return m && m->signature == "b" && m->arguments[0].number != 0;
  };
  std::array<bool, kProbeQuestions.size()> asked{}, yes{};
  for (std::size_t i = 0; i < kProbeQuestions.size(); ++i) {
    asked[i] = answered(kFirst + static_cast<std::uint32_t>(i)) != nullptr;
    yes[i] = owned(kFirst + static_cast<std::uint32_t>(i));
  }
  present = presenceOf(asked, yes);

  const Message* owner = answered(kOwner);
  const std::string kwinOwner = owner && owner->signature == "s" ? owner->arguments[0].text : "";
  const Message* load = answered(kLoad);
  const bool loaded = present.kwin && !kwinOwner.empty() && load && load->signature == "i" &&
                      load->arguments[0].number >= 0 && answered(kStart);
  onceBus() = std::move(bus);
  if (loaded) {
    probedKWin() = std::make_unique<KWinOnce>(kwinOwner, pluginName, scriptPath);
    return present;
  }
  // A script loaded for a KWin that is not chosen (or not answering) goes again; where the bus
  // says KWin is not there, it refused the load itself.
  if (!pluginName.empty() && owned(kKWinOwned))
    KWinOnce::unload(kwinOwner.empty() ? "org.kde.KWin" : kwinOwner, pluginName);
  if (!scriptPath.empty()) ::unlink(scriptPath.c_str());
  // KWin chosen all the same: its adapter is not ok, as when its start failed on GIO.
  if (present.kwin) probedKWin() = std::make_unique<KWinOnce>("", "", "");
  return present;
}

std::unique_ptr<Compositor> makeKWinCompositor() {
  if (auto& probed = probedKWin()) return std::move(probed);
  return std::make_unique<KWinOnce>("", "", "");
}

std::unique_ptr<Compositor> makeGnomeShellCompositor() {
  return std::make_unique<GnomeShellOnce>();
}

}  // namespace orvane
