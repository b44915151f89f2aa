// Grapheme clusters tile any byte string: each is non-empty, they add up to the whole, and a
// prefix of n clusters is exactly the first n of them.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "grapheme.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string_view rest = text;
  std::size_t clusters = 0;
  while (!rest.empty()) {
    const std::size_t n = orvane::firstGraphemeLength(rest);
    if (n == 0 || n > rest.size()) std::abort();
    rest.remove_prefix(n);
    ++clusters;
    if (orvane::graphemePrefix(text, clusters).size() != text.size() - rest.size()) std::abort();
  }
  if (orvane::graphemeCount(text) != clusters) std::abort();
  if (orvane::graphemePrefix(text, clusters + 1) != text) std::abort();
  return 0;
}
