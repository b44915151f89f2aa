// The option parsers agree with a plain reference reading of the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "options.hpp"

namespace {

bool wellFormed(const std::string& s) {
  size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  auto v64 = orvane::parseInt64(s);
  auto v32 = orvane::parseInt32(s);
  auto u32 = orvane::parseUInt32(s);
  if (!wellFormed(s) && (v64 || v32 || u32)) std::abort();
  if (v32 && (!v64 || *v64 != *v32)) std::abort();
  if (u32 && v64 && static_cast<std::int64_t>(*u32) != *v64) std::abort();
  if (v64 && *v64 >= INT32_MIN && *v64 <= INT32_MAX && !v32) std::abort();
  if (v64 && *v64 >= 0 && *v64 <= UINT32_MAX && !u32) std::abort();
  if (v64 && std::to_string(*v64) != std::to_string(std::strtoll(s.c_str(), nullptr, 10)))
    std::abort();
  return 0;
}
