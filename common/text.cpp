#include "text.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace orvane {
namespace {

struct CaseRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint8_t stride;
};

constexpr CaseRun kLowercaseRuns[] = {
#include "lowercase_table.inc"
};

struct Decomposition {
  char32_t from;
  char32_t first;
  char32_t second;  // 0 for a single code point
};

constexpr Decomposition kDecompositions[] = {
#define ORVANE_DECOMPOSITIONS
#include "decomposition_table.inc"
#undef ORVANE_DECOMPOSITIONS
};

struct CombiningRun {
  char32_t first;
  char32_t last;
  std::uint8_t combiningClass;
};

constexpr CombiningRun kCombiningClasses[] = {
#define ORVANE_COMBINING_CLASSES
#include "decomposition_table.inc"
#undef ORVANE_COMBINING_CLASSES
};

std::uint8_t combiningClass(char32_t c) {
  auto it = std::upper_bound(std::begin(kCombiningClasses), std::end(kCombiningClasses), c,
                             [](char32_t v, const CombiningRun& run) { return v < run.first; });
  if (it == std::begin(kCombiningClasses)) return 0;
  --it;
  return c <= it->last ? it->combiningClass : 0;
}

void decompose(char32_t c, std::vector<char32_t>& out) {
  // Hangul syllables decompose by rule.
  constexpr char32_t kSBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
  constexpr char32_t kTCount = 28, kNCount = 588, kSCount = 11172;
  if (c >= kSBase && c < kSBase + kSCount) {
    const char32_t index = c - kSBase;
    out.push_back(kLBase + index / kNCount);
    out.push_back(kVBase + (index % kNCount) / kTCount);
    if (index % kTCount) out.push_back(kTBase + index % kTCount);
    return;
  }
  auto it = std::lower_bound(std::begin(kDecompositions), std::end(kDecompositions), c,
                             [](const Decomposition& d, char32_t v) { return d.from < v; });
  if (it == std::end(kDecompositions) || it->from != c) {
    out.push_back(c);
    return;
  }
  decompose(it->first, out);
  if (it->second) decompose(it->second, out);
}

char32_t lower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  auto it = std::upper_bound(std::begin(kLowercaseRuns), std::end(kLowercaseRuns), c,
                             [](char32_t value, const CaseRun& run) { return value < run.first; });
  if (it == std::begin(kLowercaseRuns)) return c;
  --it;
  if (c > it->last || (c - it->first) % it->stride != 0) return c;
  return static_cast<char32_t>(static_cast<std::int32_t>(c) + it->delta);
}

}  // namespace

Utf8Char decodeUtf8(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return {b0, 1, true};
  std::size_t need;
  char32_t c;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2, c = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3, c = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {0, 1, false};
  }
  for (std::size_t i = 1; i <= need; ++i) {
    if (i >= s.size()) return {0, i, false};
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < lo || b > hi) return {0, i, false};
    lo = 0x80, hi = 0xBF;
    c = (c << 6) | (b & 0x3F);
  }
  return {c, need + 1, true};
}

void appendUtf8(std::string& out, char32_t c) {
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

std::string canonicalDecomposition(std::string_view s) {
  std::vector<char32_t> points;
  std::string out;
  auto flush = [&] {
    // Canonical ordering: marks between two starters sorted by class, stably.
    auto start = points.begin();
    while (start != points.end()) {
      if (combiningClass(*start) == 0) {
        ++start;
        continue;
      }
      auto end = start;
      while (end != points.end() && combiningClass(*end) != 0) ++end;
      std::stable_sort(
          start, end, [](char32_t a, char32_t b) { return combiningClass(a) < combiningClass(b); });
      start = end;
    }
    for (char32_t c : points) appendUtf8(out, c);
    points.clear();
  };
  while (!s.empty()) {
    const Utf8Char ch = decodeUtf8(s);
    if (!ch.valid) {
      flush();
      out.append(s.substr(0, ch.length));
    } else {
      decompose(ch.value, points);
    }
    s.remove_prefix(ch.length);
  }
  flush();
  return out;
}

std::string lowercased(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    const Utf8Char ch = decodeUtf8(s);
    if (ch.valid) {
      appendUtf8(out, lower(ch.value));
    } else {
      out.append(s.substr(0, ch.length));
    }
    s.remove_prefix(ch.length);
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

namespace {

bool isBlank(char32_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

bool inTrimSet(char32_t c, TrimSet set) {
  if (isBlank(c)) return true;
  if (set == TrimSet::kWhitespace) return false;
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::string_view trimmed(std::string_view text, TrimSet set) {
  while (!text.empty()) {
    const Utf8Char c = decodeUtf8(text);
    if (!c.valid || !inTrimSet(c.value, set)) break;
    text.remove_prefix(c.length);
  }
  // From the end: the last character starts after at most three continuation bytes; anything
  // else there is not a well-formed character and ends the trimming.
  while (!text.empty()) {
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    const Utf8Char c = decodeUtf8(text.substr(start));
    if (!c.valid || start + c.length != text.size() || !inTrimSet(c.value, set)) break;
    text.remove_suffix(c.length);
  }
  return text;
}

}  // namespace orvane
