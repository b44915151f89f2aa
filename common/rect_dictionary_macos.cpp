// Rectangle decoding by CoreGraphics itself, from the record's bounds dictionary.
#include <CoreGraphics/CoreGraphics.h>

#include "cf_ref.hpp"
#include "window_record.hpp"

namespace orvane {

std::optional<Rect> rectFromDictionary(const RecordValue& value) {
  const auto* dictionary = std::get_if<Dictionary>(&value.data);
  if (!dictionary) return std::nullopt;
  cf::Ref<CFMutableDictionaryRef> cfDictionary(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  if (!cfDictionary) return std::nullopt;
  for (const auto& [key, entry] : *dictionary) {
    auto cfKey = cf::makeString(key);
    cf::Ref<CFNumberRef> number;
    if (const auto* d = std::get_if<double>(&entry.data)) {
      number = cf::Ref<CFNumberRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, d));
    } else if (const auto* i = std::get_if<std::int64_t>(&entry.data)) {
      number = cf::Ref<CFNumberRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, i));
    }
    if (cfKey && number) CFDictionarySetValue(cfDictionary.get(), cfKey.get(), number.get());
  }
  CGRect rect;
  if (!CGRectMakeWithDictionaryRepresentation(cfDictionary.get(), &rect)) return std::nullopt;
  return Rect{rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
}

}  // namespace orvane
