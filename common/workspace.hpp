// The workspace in its macOS vocabulary (NSWorkspace, NSRunningApplication): which
// application is in front, and the running application of a process.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace orvane {

// NSApplicationActivationPolicy.
inline constexpr std::int64_t kActivationPolicyRegular = 0;     // ordinary, in the Dock
inline constexpr std::int64_t kActivationPolicyAccessory = 1;   // no Dock icon, may own windows
inline constexpr std::int64_t kActivationPolicyProhibited = 2;  // background only

// A running application as read at the moment of the query (a value, not a live object).
struct RunningApplication {
  std::int32_t processIdentifier = -1;
  std::optional<std::string> localizedName;     // UTF-8; nothing when it has none
  std::optional<std::string> bundleIdentifier;  // nothing when it has none
  std::int64_t activationPolicy = kActivationPolicyRegular;
  // The title of its focused window where the workspace itself knows it (sway names every
  // window, accessible or not), possibly empty; nothing where accessibility tells it.
  std::optional<std::string> focusedWindowTitle;
};

class Workspace {
 public:
  virtual ~Workspace() = default;

  // NSWorkspace.sharedWorkspace.frontmostApplication; nothing when no application is in front.
  virtual std::optional<RunningApplication> frontmostApplication() = 0;

  // NSRunningApplication runningApplicationWithProcessIdentifier:; nothing when no
  // application runs with that pid.
  virtual std::optional<RunningApplication> runningApplication(std::int32_t pid) = 0;
};

// The bundle identifiers of the web browsers whose address the tools read, on this platform.
// macOS: "com.apple.Safari", "com.google.Chrome", "com.google.Chrome.canary",
// "company.thebrowser.Browser", "com.microsoft.edgemac", "com.brave.Browser",
// "com.vivaldi.Vivaldi".
// Linux: "chromium", "google-chrome", "google-chrome-unstable", "microsoft-edge",
// "brave-browser", "vivaldi-stable", "firefox", "firefox-esr" (the lower-cased WM_CLASS
// classes, which is what the X11 workspace gives as bundle identifiers).
const std::set<std::string>& browserBundleIdsMacOS();
const std::set<std::string>& browserBundleIdsX11();
const std::set<std::string>& browserBundleIds();

std::unique_ptr<Workspace> makeWorkspaceMacOS();
std::unique_ptr<Workspace> makeWorkspaceX11();
std::unique_ptr<Workspace> makeWorkspaceWayland();
// The backend of the platform this program was built for.
std::unique_ptr<Workspace> makeWorkspace();

}  // namespace orvane
