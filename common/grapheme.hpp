// User-perceived characters: extended grapheme clusters of UTF-8 text, by the default rules of
// Unicode (UAX #29). Limits on displayed text count these, not bytes or code points.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane {

// Byte length of the first grapheme cluster of `utf8` (0 for empty text). A byte sequence
// that is not UTF-8 stands alone, as one cluster of its maximal ill-formed part.
std::size_t firstGraphemeLength(std::string_view utf8);

std::size_t graphemeCount(std::string_view utf8);

// The first `count` grapheme clusters of `utf8` (all of it when it has no more).
std::string_view graphemePrefix(std::string_view utf8, std::size_t count);

// `utf8` fit to be laid out as a label: each ill-formed sequence becomes U+FFFD, and text of
// more than `maxClusters` clusters or `maxBytes` bytes is cut to fit both, the last place taken
// by "…" (U+2026). Whole clusters are kept, except a single cluster longer than the byte limit
// (a letter under thousands of marks), which keeps the code points that fit. The result is
// its own bounded label. `maxBytes` is at least 3.
std::string boundedLabel(std::string_view utf8, std::size_t maxClusters, std::size_t maxBytes);

}  // namespace orvane
