// KWin: not yet an adapter; sessions fall back to XWayland.
#include "compositor.hpp"

namespace orvane {

std::unique_ptr<Compositor> makeKWinCompositor() { return makeAbsentCompositor(); }

}  // namespace orvane
