// The workspace on X11. Not connected yet: no application is in front.
#include "workspace.hpp"

namespace orvane {

namespace {

class X11Workspace : public Workspace {
 public:
  std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
  std::optional<RunningApplication> runningApplication(std::int32_t) override {
    return std::nullopt;
  }
};

}  // namespace

std::unique_ptr<Workspace> makeWorkspaceX11() { return std::make_unique<X11Workspace>(); }

}  // namespace orvane
