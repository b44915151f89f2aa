#include "text.hpp"

#include <cstdint>

namespace orvane {
namespace {

char32_t lower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs capitals and small letters; the odd stretch 0x139-0x148 and
    // 0x179-0x17E has capitals on odd code points.
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c : c + 1;
  }
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x460 && c <= 0x4FF && c != 0x482 && !(c >= 0x483 && c <= 0x489)) {
    if (c == 0x4C0) return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c + 1 : c;
    if (c == 0x4CF) return c;
    return (c & 1) ? c : c + 1;
  }
  return c;
}

void append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string lowercased(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    // Decode only the two-byte sequences the mapping touches; pass everything else through.
    if (b0 < 0x80) {
      out.push_back(static_cast<char>(lower(b0)));
      ++i;
    } else if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < s.size() &&
               (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
      const char32_t c = (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
      append(out, lower(c));
      i += 2;
    } else {
      out.push_back(s[i]);
      ++i;
    }
  }
  return out;
}

}  // namespace orvane
