// Text helpers over UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// Lower-cases letters of the Latin, Greek and Cyrillic scripts (the simple case mappings of
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic); other characters stay as they are.
std::string lowercased(std::string_view utf8);

}  // namespace orvane
