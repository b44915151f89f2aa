// The workspace of a Wayland session: sway's tree, asked through the process's session, with
// the owner names of the window list.
#include "sway_windows.hpp"
#include "wayland_session.hpp"
#include "workspace_sway.hpp"

namespace orvane {

std::unique_ptr<Workspace> makeWorkspaceWayland() {
  // Desktop entries are read once per application and kept, as the window list keeps them.
  auto names = std::make_shared<sway::OwnerNames>(sway::OwnerNames::fromEnvironment());
  SwayWorkspaceSource source;
  source.tree = [] { return WaylandSession::shared().request(sway::MessageType::getTree); };
  source.ownerName = [names](const sway::SwayNode& view) { return names->ownerName(view); };
  return makeSwayWorkspace(std::move(source));
}

}  // namespace orvane
