// User-perceived characters: extended grapheme clusters of UTF-8 text, by the default rules of
// Unicode (UAX #29). Limits on displayed text count these, not bytes or code points.
#pragma once

#include <cstddef>
#include <string_view>

namespace orvane {

// Byte length of the first grapheme cluster of `utf8` (0 for empty text). A byte sequence
// that is not UTF-8 stands alone, as one cluster of its maximal ill-formed part.
std::size_t firstGraphemeLength(std::string_view utf8);

std::size_t graphemeCount(std::string_view utf8);

// The first `count` grapheme clusters of `utf8` (all of it when it has no more).
std::string_view graphemePrefix(std::string_view utf8, std::size_t count);

}  // namespace orvane
