// The window server of macOS: CoreGraphics for windows, displays and the pointer, AppKit for
// the screens.
#if !__has_feature(objc_arc)
#error "This file must be compiled with ARC (-fobjc-arc)."
#endif

#import <AppKit/AppKit.h>
#include <CoreGraphics/CoreGraphics.h>

#include "cf_ref.hpp"
#include "window_server.hpp"

namespace orvane {
namespace {

std::optional<RecordValue> convert(CFTypeRef value);

// Nothing when a key is not text: such a dictionary is not a record.
std::optional<Dictionary> convertDictionary(CFDictionaryRef dictionary) {
  Dictionary out;
  const CFIndex count = CFDictionaryGetCount(dictionary);
  std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
  for (CFIndex i = 0; i < count; ++i) {
    CFTypeRef key = keys[static_cast<size_t>(i)];
    if (!key || CFGetTypeID(key) != CFStringGetTypeID()) return std::nullopt;
    if (auto value = convert(values[static_cast<size_t>(i)])) {
      out.emplace_back(cf::toUtf8(static_cast<CFStringRef>(key)), std::move(*value));
    }
  }
  return out;
}

// A CFNumber keeps whether it holds an integer or a floating-point value, and so does the
// record; values of kinds no reader asks for are left out.
std::optional<RecordValue> convert(CFTypeRef value) {
  if (!value) return std::nullopt;
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFBooleanGetTypeID()) {
    return RecordValue(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0);
  }
  if (type == CFNumberGetTypeID()) {
    auto number = static_cast<CFNumberRef>(value);
    if (CFNumberIsFloatType(number)) {
      double d = 0;
      CFNumberGetValue(number, kCFNumberDoubleType, &d);
      return RecordValue(d);
    }
    std::int64_t i = 0;
    CFNumberGetValue(number, kCFNumberSInt64Type, &i);
    return RecordValue(i);
  }
  if (type == CFStringGetTypeID()) return RecordValue(cf::toUtf8(static_cast<CFStringRef>(value)));
  if (type == CFDictionaryGetTypeID()) {
    if (auto dictionary = convertDictionary(static_cast<CFDictionaryRef>(value))) {
      return RecordValue(std::move(*dictionary));
    }
  }
  return std::nullopt;
}

class MacWindowServer final : public WindowServer {
 public:
  std::optional<std::vector<RecordValue>> copyWindowInfo(std::uint32_t options,
                                                         std::uint32_t relativeToWindow) override {
    cf::Ref<CFArrayRef> list(CGWindowListCopyWindowInfo(static_cast<CGWindowListOption>(options),
                                                        static_cast<CGWindowID>(relativeToWindow)));
    if (!list) return std::nullopt;
    std::vector<RecordValue> records;
    const CFIndex count = CFArrayGetCount(list.get());
    records.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i) {
      CFTypeRef entry = CFArrayGetValueAtIndex(list.get(), i);
      if (auto value = convert(entry)) {
        records.push_back(std::move(*value));
      } else {
        records.emplace_back(std::string());  // marks "not a dictionary"
      }
    }
    return records;
  }

  std::uint32_t activeDisplayCount() override {
    uint32_t count = 0;
    CGGetActiveDisplayList(0, nullptr, &count);
    return count;
  }

  std::vector<DisplayId> activeDisplays(std::uint32_t capacity) override {
    std::vector<CGDirectDisplayID> ids(capacity);
    uint32_t count = 0;
    CGGetActiveDisplayList(capacity, ids.data(), &count);
    ids.resize(std::min(count, capacity));
    return {ids.begin(), ids.end()};
  }

  Rect displayBounds(DisplayId display) override {
    const CGRect r = CGDisplayBounds(display);
    return {r.origin.x, r.origin.y, r.size.width, r.size.height};
  }

  DisplayId mainDisplayId() override { return CGMainDisplayID(); }

  std::optional<Point> cursorLocation() override {
    cf::Ref<CGEventRef> event(CGEventCreate(nullptr));
    if (!event) return std::nullopt;
    const CGPoint p = CGEventGetLocation(event.get());
    return Point{p.x, p.y};
  }

  std::vector<ScreenInfo> screens() override {
    std::vector<ScreenInfo> list;
    @autoreleasepool {
      for (NSScreen* screen in [NSScreen screens]) {
        ScreenInfo info;
        id number = screen.deviceDescription[@"NSScreenNumber"];
        if ([number isKindOfClass:[NSNumber class]]) {
          info.screenNumber = convert((__bridge CFTypeRef)number);
        } else if (number) {
          info.screenNumber = RecordValue(std::string());  // present, but not a number
        }
        info.backingScaleFactor = screen.backingScaleFactor;
        list.push_back(std::move(info));
      }
    }
    return list;
  }
};

}  // namespace

std::unique_ptr<WindowServer> makeWindowServerMacOS() {
  return std::make_unique<MacWindowServer>();
}

}  // namespace orvane
