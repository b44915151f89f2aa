// Any bytes as a string, key and nested value must give valid, sanitized JSON.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  using namespace orvane::json;
  const Value v = Object{{text, Array{text, static_cast<double>(size) / 3.0}}, {"k", text}};
  for (bool sorted : {false, true}) {
    auto out = encode(v, {.sortKeys = sorted, .escapeSlashes = sorted});
    if (!out) std::abort();
    // The output is valid UTF-8 and holds no raw control characters.
    if (sanitizeUtf8(*out) != *out) std::abort();
    for (unsigned char c : *out) {
      if (c < 0x20) std::abort();
    }
  }
  return 0;
}
