#include "options.hpp"

#include <limits>

namespace orvane {
namespace {

// Accumulates the digits with an overflow test at each step; after "-" the digits are
// subtracted so that the type's most negative value is reachable.
template <typename T>
std::optional<T> parseInteger(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  T value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    const T digit = static_cast<T>(c - '0');
    if (negative) {
      if constexpr (std::numeric_limits<T>::is_signed) {
        if (value < (std::numeric_limits<T>::min() + digit) / 10) return std::nullopt;
        value = static_cast<T>(value * 10 - digit);
      } else if (digit != 0) {
        return std::nullopt;
      }
    } else {
      if (value > (std::numeric_limits<T>::max() - digit) / 10) return std::nullopt;
      value = static_cast<T>(value * 10 + digit);
    }
  }
  return value;
}

}  // namespace

std::optional<std::int64_t> parseInt64(std::string_view text) {
  return parseInteger<std::int64_t>(text);
}
std::optional<std::int32_t> parseInt32(std::string_view text) {
  return parseInteger<std::int32_t>(text);
}
std::optional<std::uint32_t> parseUInt32(std::string_view text) {
  return parseInteger<std::uint32_t>(text);
}

}  // namespace orvane
