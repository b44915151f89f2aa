// The selector's window server on X11: the desktop's, with the last window list kept until
// the desktop changes.
#pragma once

#include <memory>

#include "window_server.hpp"

namespace orvane::selector {

// Serves the last list snapshot again while no top-level window has been created, destroyed,
// mapped, unmapped, moved, restacked or reparented, no property of the root or of a listed
// window has changed, and the snapshot is younger than a quarter of a second. Everything else
// is passed to `inner`. Without a display it passes everything through.
std::unique_ptr<WindowServer> makeCachingWindowServerX11(std::unique_ptr<WindowServer> inner);

// The selector's window server: the desktop's, behind the cache.
std::unique_ptr<WindowServer> makeSelectorWindowServerX11();

}  // namespace orvane::selector
