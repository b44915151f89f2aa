// Small XCB helpers shared by the X11 backends. Never included by a seam header.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::x11 {

// An XCB reply, freed with free() as XCB asks.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> adopt(T* reply) {
  return Reply<T>(reply, &std::free);
}

// A property request whose reply is taken later, so that many travel together.
struct PendingProperty {
  xcb_get_property_cookie_t cookie{};
};

PendingProperty requestProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                xcb_atom_t type = XCB_ATOM_ANY, std::uint32_t longLength = 4096);

struct Property {
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 0;
  std::string bytes;  // raw value, format/8 bytes per item

  std::vector<std::uint32_t> cardinals() const;  // format 32 items
};

// Nothing when the window is gone or has no such property.
std::optional<Property> takeProperty(xcb_connection_t* c, PendingProperty pending);

// ISO 8859-1 (the encoding of a STRING property) to UTF-8.
std::string latin1ToUtf8(std::string_view text);

// The Xft.dpi entry of the resource database text, if any.
std::optional<double> xftDpi(std::string_view resources);

}  // namespace orvane::x11
