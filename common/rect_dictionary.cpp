// Rectangle decoding wherever the window server is not CoreGraphics: the same contract as
// CGRectMakeWithDictionaryRepresentation, which needs all four entries to be numbers.
#include "window_record.hpp"

namespace orvane {

std::optional<Rect> rectFromDictionary(const RecordValue& value) {
  const auto* dictionary = std::get_if<Dictionary>(&value.data);
  if (!dictionary) return std::nullopt;
  auto number = [&](std::string_view key) -> std::optional<double> {
    const auto* v = find(*dictionary, key);
    if (!v) return std::nullopt;
    if (const auto* d = std::get_if<double>(&v->data)) return *d;
    if (const auto* i = std::get_if<std::int64_t>(&v->data)) return static_cast<double>(*i);
    return std::nullopt;
  };
  auto x = number("X"), y = number("Y"), w = number("Width"), h = number("Height");
  if (!x || !y || !w || !h) return std::nullopt;
  return Rect{*x, *y, *w, *h};
}

}  // namespace orvane
