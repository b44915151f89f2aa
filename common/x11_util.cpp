#include "x11_util.hpp"

#include <charconv>
#include <cstring>

namespace orvane::x11 {

Connection::Connection() {
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (!c || xcb_connection_has_error(c)) {
    if (c) xcb_disconnect(c);
    return;
  }
  auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(c);
    return;
  }
  conn_ = c;
  screen_ = it.data;
  root_ = it.data->root;
}

Connection::~Connection() {
  if (conn_) xcb_disconnect(conn_);
}

std::vector<xcb_atom_t> Connection::intern(const std::vector<std::string_view>& names,
                                           bool onlyIfExists) {
  std::vector<xcb_intern_atom_cookie_t> cookies;
  cookies.reserve(names.size());
  for (auto name : names) {
    cookies.push_back(
        xcb_intern_atom(conn_, onlyIfExists, static_cast<std::uint16_t>(name.size()), name.data()));
  }
  std::vector<xcb_atom_t> atoms;
  atoms.reserve(names.size());
  for (auto cookie : cookies) {
    auto reply = adopt(xcb_intern_atom_reply(conn_, cookie, nullptr));
    atoms.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
  }
  return atoms;
}

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
