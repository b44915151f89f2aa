// The workspace of a sway session, read from sway's tree in the vocabulary of NSWorkspace.
//
// Frontmost application: the owner of the focused view; when sway's focus is on a split
// container or a workspace, the view most recently focused inside it. An application is a
// process owning views. Its pid is the view's `pid`; its name is the owner name the window
// window list gives the view (orvane-window-list's ownerName), else the XWayland class or
// the app_id. Bundle identifier: the `app_id`; for an XWayland view, its class in lower case,
// as the X11 workspace reads WM_CLASS. Every view is a managed, ordinary window, so every
// application is regular. The focused view's `name` is its title: sway knows it for every
// client, accessible or not.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sway_ipc.hpp"
#include "workspace.hpp"

namespace orvane {
namespace sway {

// The view the user works in; nothing when the focus is on a workspace without views.
const SwayNode* focusedView(const SwayNode& root);
// The view of that process focused most recently (a shown one before a hidden one).
const SwayNode* recentViewOf(const SwayNode& root, std::int64_t pid);
// The view's bundle identifier, as above; nothing when it has none.
std::optional<std::string> bundleIdOf(const SwayNode& view);

}  // namespace sway

struct SwayWorkspaceSource {
  // The payload of a get_tree reply; nothing when sway cannot be asked.
  std::function<std::optional<std::string>()> tree;
  // The owner name the window list gives a view.
  std::function<std::optional<std::string>(const sway::SwayNode& view)> ownerName;
};

std::unique_ptr<Workspace> makeSwayWorkspace(SwayWorkspaceSource source);

}  // namespace orvane
