// The one rule by which every tool reads a number from an option value: an optional single
// "+" or "-", then one or more ASCII digits, nothing else, within the option's integer type.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvane {

std::optional<std::int64_t> parseInt64(std::string_view text);
std::optional<std::int32_t> parseInt32(std::string_view text);
// A "-" is accepted only before digits that are all 0 ("-0" reads as 0).
std::optional<std::uint32_t> parseUInt32(std::string_view text);

}  // namespace orvane
