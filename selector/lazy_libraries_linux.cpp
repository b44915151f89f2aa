#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <mutex>

#include "lazy_libraries_linux.hpp"
#include "results.hpp"

namespace orvane::selector::linux_ui {
namespace {

// Pango's Cairo part brings Pango, GObject, HarfBuzz and fontconfig with it.
constexpr std::array<const char*, 6> kLibraries = {
    "libcairo.so.2",       "libpangocairo-1.0.so.0", "libpango-1.0.so.0",
    "libgobject-2.0.so.0", "libxkbcommon-x11.so.0",  "libxcb-cursor.so.0",
};

std::array<void*, kLibraries.size()> handles{};
bool loaded = false;
std::once_flag once;

}  // namespace

bool loadDrawingLibraries() {
  std::call_once(once, [] {
    loaded = true;
    for (std::size_t i = 0; i < kLibraries.size(); ++i) {
      handles[i] = dlopen(kLibraries[i], RTLD_NOW | RTLD_GLOBAL);
      if (!handles[i]) loaded = false;
    }
  });
  return loaded;
}

void* drawingSymbol(const char* name) {
  loadDrawingLibraries();
  // Looked up in the libraries themselves (and what they depend on), never in this program.
  for (void* handle : handles) {
    if (!handle) continue;
    if (void* symbol = dlsym(handle, name)) return symbol;
  }
  // A library older than the one built against: nothing more can be drawn, and the host
  // still gets its one line.
  (void)name;
  writeCancelledLine(STDOUT_FILENO);
  _exit(0);
}

}  // namespace orvane::selector::linux_ui
