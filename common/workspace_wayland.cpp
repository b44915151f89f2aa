// The workspace of a Wayland session: the process's compositor, asked for a snapshot each
// time.
#include "compositor.hpp"
#include "workspace_compositor.hpp"

namespace orvane {

std::unique_ptr<Workspace> makeWorkspaceWayland() {
  return makeCompositorWorkspace([] { return sharedCompositor().snapshot(); });
}

}  // namespace orvane
