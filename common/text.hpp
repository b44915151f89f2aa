// Text helpers over UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// Lower-cases every letter that has a lower-case form in Unicode (full mappings of single
// code points; U+0130 becomes "i"). Bytes that are not valid UTF-8 pass through unchanged.
std::string lowercased(std::string_view utf8);

// The canonical decomposition (NFD) of `utf8`: two texts are canonically equivalent exactly
// when their decompositions are equal (a precomposed "é" and "e" + U+0301, say).
std::string canonicalDecomposition(std::string_view utf8);

}  // namespace orvane
