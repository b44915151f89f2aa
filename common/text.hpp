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

// UTF-8 text of UTF-16 code units; a lone surrogate, as in a title cut in the middle of an emoji,
// becomes U+FFFD instead of failing the whole text.
std::string utf16ToUtf8(std::u16string_view units);

// Which characters trimming removes.
enum class TrimSet {
  // Unicode white space and line breaks: Zs, Zl, Zp, U+0009 to U+000D and U+0085.
  kWhitespaceAndNewlines,
  // Blanks only: Zs and the tab; line breaks stay.
  kWhitespace,
};

// `text` without the characters of `set` at either end. Bytes that are not valid UTF-8 are
// never taken for white space.
std::string_view trimmed(std::string_view text, TrimSet set);

// Lower-cases every letter that has a lower-case form in Unicode (full mappings of single
// code points; U+0130 becomes "i"). Bytes that are not valid UTF-8 pass through unchanged.
std::string lowercased(std::string_view utf8);

// The canonical decomposition (NFD) of `utf8`: two texts are canonically equivalent exactly
// when their decompositions are equal (a precomposed "é" and "e" + U+0301, say).
std::string canonicalDecomposition(std::string_view utf8);

}  // namespace orvane
