// The session bus, for the compositors that answer over D-Bus (KWin, GNOME Shell with our
// extension): one connection per process, opened on first use within a deadline, and the
// start-up question of which of them is there.
#pragma once

#include <chrono>
#include <string_view>

typedef struct _GDBusConnection GDBusConnection;

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

// Asks the bus, each question within a deadline; nothing present when there is no bus.
SessionBusPresence probeSessionBus();

}  // namespace orvane
