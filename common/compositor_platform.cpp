// The compositor of this process's Wayland session: the adapter the platform choice named.
#include "compositor.hpp"
#include "platform.hpp"

namespace orvane {
namespace {

// The compositor of a session that has none the tools can talk to.
class AbsentCompositor final : public Compositor {
 public:
  CompositorId id() const override { return CompositorId::none; }
  bool ok() const override { return false; }
  std::optional<CompositorSnapshot> snapshot() override { return std::nullopt; }
  bool activate(std::uint32_t) override { return false; }
  OverlayKind overlay() const override { return OverlayKind::none; }
};

std::unique_ptr<Compositor> makeChosenCompositor() {
  const PlatformChoice& choice = currentPlatform();
  if (choice.id != PlatformId::wayland) return makeAbsentCompositor();
  switch (choice.compositor) {
    case CompositorId::sway:
      return makeSwayCompositor(choice.compositorIpc);
    case CompositorId::kwin:
      return makeKWinCompositor();
    case CompositorId::gnomeShell:
      return makeGnomeShellCompositor();
    case CompositorId::none:
      break;
  }
  return makeAbsentCompositor();
}

}  // namespace

Compositor& sharedCompositor() {
  static const std::unique_ptr<Compositor> compositor = makeChosenCompositor();
  return *compositor;
}

std::unique_ptr<Compositor> makeAbsentCompositor() { return std::make_unique<AbsentCompositor>(); }

}  // namespace orvane
