#include "x11_util.hpp"

#include <charconv>
#include <cstring>

namespace orvane::x11 {

PendingProperty requestProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                xcb_atom_t type, std::uint32_t longLength) {
  return {xcb_get_property(c, 0, w, property, type, 0, longLength)};
}

std::optional<Property> takeProperty(xcb_connection_t* c, PendingProperty pending) {
  auto reply = adopt(xcb_get_property_reply(c, pending.cookie, nullptr));
  if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
  Property p;
  p.type = reply->type;
  p.format = reply->format;
  const int length = xcb_get_property_value_length(reply.get());
  p.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                 static_cast<size_t>(length));
  return p;
}

std::vector<std::uint32_t> Property::cardinals() const {
  std::vector<std::uint32_t> values;
  if (format != 32) return values;
  values.resize(bytes.size() / 4);
  std::memcpy(values.data(), bytes.data(), values.size() * 4);
  return values;
}

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::optional<double> xftDpi(std::string_view resources) {
  constexpr std::string_view kKey = "Xft.dpi:";
  size_t lineStart = 0;
  while (lineStart < resources.size()) {
    size_t lineEnd = resources.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = resources.size();
    auto line = resources.substr(lineStart, lineEnd - lineStart);
    if (line.substr(0, kKey.size()) == kKey) {
      auto value = line.substr(kKey.size());
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
      }
      double dpi = 0;
      auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), dpi);
      if (ec == std::errc() && dpi > 0) return dpi;
    }
    lineStart = lineEnd + 1;
  }
  return std::nullopt;
}

}  // namespace orvane::x11
