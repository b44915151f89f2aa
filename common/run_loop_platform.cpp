// The run loop of the platform this program was built for; only programs link it.
#include "run_loop.hpp"

namespace orvane {

std::unique_ptr<RunLoop> makeRunLoop() {
#if defined(__APPLE__)
  return makeRunLoopMacOS();
#else
  return makeRunLoopX11();
#endif
}

std::unique_ptr<RunLoop> makePrivateRunLoop() {
#if defined(__APPLE__)
  return makeRunLoopMacOS();
#else
  return makePrivateRunLoopX11();
#endif
}

}  // namespace orvane
