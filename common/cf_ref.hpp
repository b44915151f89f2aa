// Ownership of CoreFoundation objects: released when the holder goes, on every path.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <utility>

#include "text.hpp"

namespace orvane::cf {

template <typename T>
class Ref {
 public:
  Ref() = default;
  // Takes over an object obtained from a Create or Copy function.
  explicit Ref(T object) : object_(object) {}
  ~Ref() {
    if (object_) CFRelease(object_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      if (object_) CFRelease(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }

  T get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T object_ = nullptr;
};

// UTF-8 text of a CFString, all of it (embedded NULs included). A lone UTF-16 surrogate,
// as in a title cut in the middle of an emoji, becomes U+FFFD instead of failing the whole text.
inline std::string toUtf8(CFStringRef text) {
  if (!text) return {};
  const CFIndex length = CFStringGetLength(text);
  std::u16string units(static_cast<size_t>(length), u'\0');
  CFStringGetCharacters(text, CFRangeMake(0, length), reinterpret_cast<UniChar*>(units.data()));
  return utf16ToUtf8(units);
}

inline Ref<CFStringRef> makeString(const std::string& text) {
  return Ref<CFStringRef>(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                              static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

}  // namespace orvane::cf
