// Ownership of CoreFoundation objects: released when the holder goes, on every path.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <utility>

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

// UTF-8 text of a CFString.
inline std::string toUtf8(CFStringRef text) {
  if (!text) return {};
  if (const char* fast = CFStringGetCStringPtr(text, kCFStringEncodingUTF8)) return fast;
  const CFIndex length = CFStringGetLength(text);
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8) + 1;
  std::string out(static_cast<size_t>(capacity), '\0');
  if (!CFStringGetCString(text, out.data(), capacity, kCFStringEncodingUTF8)) return {};
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

inline Ref<CFStringRef> makeString(const std::string& text) {
  return Ref<CFStringRef>(CFStringCreateWithBytes(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
      static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

}  // namespace orvane::cf
