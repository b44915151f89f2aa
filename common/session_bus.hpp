// The session bus, for the compositors that answer over D-Bus (KWin, GNOME Shell with our
// extension): one connection per process, opened on first use within a deadline, and the
// start-up question of which of them is there.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace orvane {

// Our GNOME Shell extension: its uuid (its folder under share/gnome-shell/extensions) and the
// name, object and interface it exports on the session bus.
inline constexpr std::string_view kGnomeShellExtensionUuid = "desktop-tools@orvane.dev";
inline constexpr std::string_view kGnomeShellExtensionBusName = "dev.orvane.Shell";
inline constexpr std::string_view kGnomeShellExtensionPath = "/dev/orvane/Shell";
inline constexpr std::string_view kGnomeShellExtensionInterface = "dev.orvane.Shell";

// How long one call to a compositor over the bus may take before the compositor counts as
// gone.
inline constexpr std::chrono::milliseconds kBusCallDeadline{1000};

// The process's session bus connection (not to be unreferenced), or null when there is none
// or it could not be opened and authenticated within a second. Any thread.
GDBusConnection* sessionBus();

struct SessionBusPresence {
  bool gnomeShell = false;           // org.gnome.Shell has an owner
  bool gnomeShellExtension = false;  // our extension's name has an owner that answers a ping
  bool kwin = false;                 // org.kde.KWin has an owner that answers a ping
};

// The start-up probe's questions, asked all at once (a ping to a name nobody owns is answered
// by the bus itself at once), whichever bus connection asks them: a method call with at most
// one text argument (empty: none).
struct ProbeQuestion {
  std::string_view name, path, interface, method, argument;
};
inline constexpr std::string_view kDBusName = "org.freedesktop.DBus";
inline constexpr std::string_view kDBusPath = "/org/freedesktop/DBus";
inline constexpr std::array<ProbeQuestion, 5> kProbeQuestions = {{
    {kDBusName, kDBusPath, kDBusName, "NameHasOwner", "org.gnome.Shell"},
    {kDBusName, kDBusPath, kDBusName, "NameHasOwner", kGnomeShellExtensionBusName},
    {kGnomeShellExtensionBusName, "/", "org.freedesktop.DBus.Peer", "Ping", ""},
    {kDBusName, kDBusPath, kDBusName, "NameHasOwner", "org.kde.KWin"},
    {"org.kde.KWin", "/", "org.freedesktop.DBus.Peer", "Ping", ""},
}};

// What the answers to kProbeQuestions tell: `answered[i]`, question i got an answer;
// `yes[i]`, that answer was true (for the NameHasOwner questions).
inline SessionBusPresence presenceOf(const std::array<bool, 5>& answered,
                                     const std::array<bool, 5>& yes) {
  SessionBusPresence present;
  present.gnomeShell = answered[0] && yes[0];
  present.gnomeShellExtension = present.gnomeShell && answered[1] && yes[1] && answered[2];
  present.kwin = !present.gnomeShell && answered[3] && yes[3] && answered[4];
  return present;
}

// One method call of a batch (see callAll).
struct BusCall {
  const char* name;  // destination
  const char* path;
  const char* interface;
  const char* method;
  GVariant* parameters;   // floating or null; consumed
  const char* replyType;  // the reply's type, or null for any
};

// Sends every call at once and waits for all the replies, each null when its call failed or
// the deadline passed: a batch costs one round trip, not one per call. The bus delivers calls
// to one destination in the order they were sent. The caller unreferences the replies. Any
// thread.
std::vector<GVariant*> callAll(GDBusConnection* bus, const std::vector<BusCall>& calls,
                               std::chrono::milliseconds deadline);

// Calls that ride in the probe's batch (one round trip for both), and what is done with their
// replies (in the same order, null when a call failed; unreferenced after) once the probe
// knows what is there.
struct ProbeRider {
  std::vector<BusCall> calls;
  std::function<void(const std::vector<GVariant*>& replies, const SessionBusPresence& present)>
      answered;
};

// Asks the bus, all questions at once within one deadline; nothing present when there is no
// bus.
SessionBusPresence probeSessionBus(const ProbeRider& rider = {});

}  // namespace orvane
