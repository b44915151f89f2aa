// Text helpers over UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane {

// The UTF-8 sequence at the start of a non-empty text. When it is well formed, `length` is its
// length; when not, `length` is that of its maximal ill-formed part (at least 1), which
// Unicode recommends replacing by one U+FFFD.
struct Utf8Char {
  char32_t value = 0;
  std::size_t length = 0;
  bool valid = false;
};
Utf8Char decodeUtf8(std::string_view s);

void appendUtf8(std::string& out, char32_t c);

// Lower-cases every letter that has a lower-case form in Unicode (full mappings of single
// code points; U+0130 becomes "i"). Bytes that are not valid UTF-8 pass through unchanged.
std::string lowercased(std::string_view utf8);

// The canonical decomposition (NFD) of `utf8`: two texts are canonically equivalent exactly
// when their decompositions are equal (a precomposed "é" and "e" + U+0301, say).
std::string canonicalDecomposition(std::string_view utf8);

}  // namespace orvane
