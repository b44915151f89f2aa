#include "grapheme.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "text.hpp"

namespace orvane {
namespace {

enum class GraphemeClass : std::uint8_t {
  Other,
  CR,
  LF,
  Control,
  Extend,
  ZWJ,
  RegionalIndicator,
  Prepend,
  SpacingMark,
  L,
  V,
  T,
  LV,
  LVT,
  ExtendedPictographic,
};

struct Run {
  char32_t first;
  char32_t last;
  GraphemeClass cls;
};

constexpr Run kRuns[] = {
#include "grapheme_break_table.inc"
};

GraphemeClass classOf(char32_t c) {
  if (c >= 0xAC00 && c <= 0xD7A3) {
    return (c - 0xAC00) % 28 == 0 ? GraphemeClass::LV : GraphemeClass::LVT;
  }
  const auto* end = std::end(kRuns);
  const auto* run = std::upper_bound(std::begin(kRuns), end, c,
                                     [](char32_t v, const Run& r) { return v < r.first; });
  if (run == std::begin(kRuns)) return GraphemeClass::Other;
  --run;
  return c <= run->last ? run->cls : GraphemeClass::Other;
}

bool isControlLike(GraphemeClass c) {
  return c == GraphemeClass::CR || c == GraphemeClass::LF || c == GraphemeClass::Control;
}

}  // namespace

std::size_t firstGraphemeLength(std::string_view utf8) {
  if (utf8.empty()) return 0;
  const Utf8Char first = decodeUtf8(utf8);
  if (!first.valid) return first.length;

  using C = GraphemeClass;
  C prev = classOf(first.value);
  // Rule GB11: inside "pictographic Extend*", and just after its ZWJ.
  bool inPictographic = prev == C::ExtendedPictographic;
  bool zwjAfterPictographic = false;
  // Rules GB12/13: regional indicators pair up from the start of a run.
  int regionalRun = prev == C::RegionalIndicator ? 1 : 0;

  std::size_t pos = first.length;
  while (pos < utf8.size()) {
    const Utf8Char next = decodeUtf8(utf8.substr(pos));
    if (!next.valid) break;
    const C cur = classOf(next.value);

    bool join;
    if (prev == C::CR && cur == C::LF) {
      join = true;  // GB3
    } else if (isControlLike(prev) || isControlLike(cur)) {
      join = false;  // GB4, GB5
    } else if (prev == C::L && (cur == C::L || cur == C::V || cur == C::LV || cur == C::LVT)) {
      join = true;  // GB6
    } else if ((prev == C::LV || prev == C::V) && (cur == C::V || cur == C::T)) {
      join = true;  // GB7
    } else if ((prev == C::LVT || prev == C::T) && cur == C::T) {
      join = true;  // GB8
    } else if (cur == C::Extend || cur == C::ZWJ || cur == C::SpacingMark) {
      join = true;  // GB9, GB9a
    } else if (prev == C::Prepend) {
      join = true;  // GB9b
    } else if (zwjAfterPictographic && cur == C::ExtendedPictographic) {
      join = true;  // GB11
    } else if (prev == C::RegionalIndicator && cur == C::RegionalIndicator) {
      join = regionalRun % 2 == 1;  // GB12, GB13
    } else {
      join = false;  // GB999
    }
    if (!join) break;

    zwjAfterPictographic = cur == C::ZWJ && inPictographic;
    if (cur == C::ExtendedPictographic) {
      inPictographic = true;
    } else if (cur != C::Extend) {
      inPictographic = false;
    }
    regionalRun = cur == C::RegionalIndicator ? regionalRun + 1 : 0;
    prev = cur;
    pos += next.length;
  }
  return pos;
}

std::size_t graphemeCount(std::string_view utf8) {
  std::size_t count = 0;
  while (!utf8.empty()) {
    utf8.remove_prefix(firstGraphemeLength(utf8));
    ++count;
  }
  return count;
}

std::string_view graphemePrefix(std::string_view utf8, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < count && pos < utf8.size(); ++i) {
    pos += firstGraphemeLength(utf8.substr(pos));
  }
  return utf8.substr(0, pos);
}

std::string boundedLabel(std::string_view utf8, std::size_t maxClusters, std::size_t maxBytes) {
  constexpr std::string_view kEllipsis = "\u2026";
  constexpr std::string_view kReplacement = "\uFFFD";
  std::string out;
  std::size_t clusters = 0;
  // Where to cut should the text not fit: after the last cluster that leaves room for the
  // ellipsis.
  std::size_t cutAt = 0;
  while (!utf8.empty()) {
    const std::size_t length = firstGraphemeLength(utf8);
    const bool valid = decodeUtf8(utf8).valid;
    const std::string_view cluster = valid ? utf8.substr(0, length) : kReplacement;
    if (clusters == maxClusters || out.size() + cluster.size() > maxBytes) {
      const bool keepsEverything = cutAt == out.size();
      out.resize(cutAt);
      // A cluster too long on its own keeps its base and the marks that fit.
      if (valid && keepsEverything && clusters + 2 <= maxClusters) {
        std::string_view rest = cluster;
        while (!rest.empty()) {
          const std::size_t n = decodeUtf8(rest).length;
          if (out.size() + n + kEllipsis.size() > maxBytes) break;
          out.append(rest.substr(0, n));
          rest.remove_prefix(n);
        }
      }
      out.append(kEllipsis);
      return out;
    }
    out.append(cluster);
    ++clusters;
    if (clusters < maxClusters && out.size() + kEllipsis.size() <= maxBytes) cutAt = out.size();
    utf8.remove_prefix(length);
  }
  return out;
}

}  // namespace orvane
