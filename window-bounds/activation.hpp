// Bringing the followed window's application to the front.
#pragma once

#include <cstdint>
#include <memory>

namespace orvane {
class WindowServer;
}

namespace orvane::windowbounds {

// A running application, found on the input reader's thread and activated on the main one.
class RunningApplication {
 public:
  virtual ~RunningApplication() = default;
  // activateWithOptions: with no options. Main thread only.
  virtual void activate() = 0;
};

class Activation {
 public:
  virtual ~Activation() = default;
  // runningApplicationWithProcessIdentifier: nothing when no such process runs. Called on
  // the input reader's thread.
  virtual std::shared_ptr<RunningApplication> runningApplication(std::int32_t pid) = 0;
};

std::unique_ptr<Activation> makeActivationMacOS();
// On X11 there are no applications to activate, only windows: the followed window is raised
// and focused, or, once it has closed, the owner's frontmost remaining window. `server` is
// used on the main thread only.
std::unique_ptr<Activation> makeActivationX11(WindowServer& server, std::uint32_t windowId);
// The same on sway, through its IPC.
std::unique_ptr<Activation> makeActivationWayland(WindowServer& server, std::uint32_t windowId);
std::unique_ptr<Activation> makeActivation(WindowServer& server, std::uint32_t windowId);

}  // namespace orvane::windowbounds
