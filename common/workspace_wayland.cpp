// The workspace of a Wayland session: sway's tree, asked through the process's session, with
// owner names from this platform's window server.
#include "wayland_session.hpp"
#include "window_server.hpp"
#include "workspace_sway.hpp"

namespace orvane {

std::unique_ptr<Workspace> makeWorkspaceWayland() {
  std::shared_ptr<WindowServer> windows = makeWindowServer();
  SwayWorkspaceSource source;
  source.tree = [] { return WaylandSession::shared().request(sway::MessageType::getTree); };
  source.ownerName = [windows](std::uint32_t window) -> std::optional<std::string> {
    const auto records = recordsOf(windows->copyWindowInfo(kSingleWindowSnapshot, window));
    if (!records) return std::nullopt;
    for (const auto& record : *records) {
      if (readUInt32(record, kCGWindowNumber) == window)
        return readString(record, kCGWindowOwnerName);
    }
    return std::nullopt;
  };
  return makeSwayWorkspace(std::move(source));
}

}  // namespace orvane
