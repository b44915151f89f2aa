// The accessibility service of macOS: AXUIElement and AXValue over CoreFoundation. Every CF
// object is held by cf::Ref; every value is checked by its CFGetTypeID before it is read.
#include <ApplicationServices/ApplicationServices.h>

#include "accessibility.hpp"
#include "cf_ref.hpp"

namespace orvane {
namespace {

// NOTE: every read makes new AXUIElementRefs, even for an element read before; CFEqual and
// CFHash tell which are the same element.
struct MacNode : AXElement::Node {
  explicit MacNode(AXUIElementRef owned) : element(owned) {}
  bool sameElement(const AXElement::Node& other) const override {
    const auto* mac = dynamic_cast<const MacNode*>(&other);
    return mac && CFEqual(element.get(), mac->element.get());
  }
  std::size_t elementHash() const override { return CFHash(element.get()); }
  cf::Ref<AXUIElementRef> element;
};

// Takes over an element from a Create or Copy function.
AXElement adopt(AXUIElementRef owned) {
  if (!owned) return AXElement();
  return AXElement(std::make_shared<const MacNode>(owned));
}

AXUIElementRef elementOf(const AXElement& element) {
  const auto* node = dynamic_cast<const MacNode*>(element.node());
  return node ? node->element.get() : nullptr;
}

// A geometry value read as whichever of the three geometry types it holds: AXValueGetValue
// answers false for a type the value does not hold.
std::optional<AXGeometry> geometryOf(AXValueRef value) {
  CGRect rect;
  if (AXValueGetValue(value, kAXValueTypeCGRect, &rect)) {
    return AXGeometry{kAXGeometryRect, rect.origin.x, rect.origin.y, rect.size.width,
                      rect.size.height};
  }
  CGPoint point;
  if (AXValueGetValue(value, kAXValueTypeCGPoint, &point)) {
    return AXGeometry{kAXGeometryPoint, point.x, point.y, 0, 0};
  }
  CGSize size;
  if (AXValueGetValue(value, kAXValueTypeCGSize, &size)) {
    return AXGeometry{kAXGeometrySize, 0, 0, size.width, size.height};
  }
  return std::nullopt;
}

// One CF value (not owned) as a seam value.
AXValue convert(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == AXUIElementGetTypeID()) {
    CFRetain(value);
    return adopt(static_cast<AXUIElementRef>(const_cast<void*>(value)));
  }
  if (type == CFStringGetTypeID()) return cf::toUtf8(static_cast<CFStringRef>(value));
  if (type == CFURLGetTypeID()) {
    cf::Ref<CFURLRef> absolute(CFURLCopyAbsoluteURL(static_cast<CFURLRef>(value)));
    if (!absolute) return AXOtherValue{};
    return AXURLValue{cf::toUtf8(CFURLGetString(absolute.get()))};
  }
  if (type == AXValueGetTypeID()) {
    if (auto geometry = geometryOf(static_cast<AXValueRef>(value))) return *geometry;
    return AXOtherValue{};
  }
  if (type == CFBooleanGetTypeID()) {
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
  }
  if (type == CFNumberGetTypeID()) {
    double number = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &number);
    return AXNumberValue{number};
  }
  if (type == CFArrayGetTypeID()) {
    // A list of elements; entries of other kinds are left out.
    auto array = static_cast<CFArrayRef>(value);
    std::vector<AXElement> elements;
    const CFIndex count = CFArrayGetCount(array);
    elements.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i) {
      CFTypeRef entry = CFArrayGetValueAtIndex(array, i);
      if (entry && CFGetTypeID(entry) == AXUIElementGetTypeID()) {
        CFRetain(entry);
        elements.push_back(adopt(static_cast<AXUIElementRef>(const_cast<void*>(entry))));
      }
    }
    return elements;
  }
  return AXOtherValue{};
}

class MacAccessibility : public Accessibility {
 public:
  AXElement createApplication(std::int32_t pid) override {
    return adopt(AXUIElementCreateApplication(pid));
  }

  AXElement createSystemWide() override { return adopt(AXUIElementCreateSystemWide()); }

  // NOTE: without a timeout an element waits about 6 s for an application that does not
  // answer, and the elements read from one with a timeout of its own do not inherit it.
  void setMessagingTimeout(const AXElement& element, float seconds) override {
    if (AXUIElementRef ref = elementOf(element)) AXUIElementSetMessagingTimeout(ref, seconds);
  }

  std::optional<AXValue> copyAttributeValue(const AXElement& element,
                                            std::string_view attribute) override {
    AXUIElementRef ref = elementOf(element);
    if (!ref) return std::nullopt;
    auto name = cf::makeString(std::string(attribute));
    if (!name) return std::nullopt;
    CFTypeRef raw = nullptr;
    const AXError error = AXUIElementCopyAttributeValue(ref, name.get(), &raw);
    cf::Ref<CFTypeRef> value(raw);
    if (error != kAXErrorSuccess || !value) return std::nullopt;
    return convert(value.get());
  }

  bool setAttributeValue(const AXElement& element, std::string_view attribute,
                         bool value) override {
    AXUIElementRef ref = elementOf(element);
    if (!ref) return false;
    auto name = cf::makeString(std::string(attribute));
    if (!name) return false;
    return AXUIElementSetAttributeValue(
               ref, name.get(), value ? kCFBooleanTrue : kCFBooleanFalse) == kAXErrorSuccess;
  }

  std::optional<AXElement> copyElementAtPosition(const AXElement& element, float x,
                                                 float y) override {
    AXUIElementRef ref = elementOf(element);
    if (!ref) return std::nullopt;
    AXUIElementRef raw = nullptr;
    const AXError error = AXUIElementCopyElementAtPosition(ref, x, y, &raw);
    AXElement hit = adopt(raw);
    if (error != kAXErrorSuccess || !hit) return std::nullopt;
    return hit;
  }
};

}  // namespace

std::unique_ptr<Accessibility> makeAccessibilityMacOS() {
  auto accessibility = std::make_unique<MacAccessibility>();
  limitCallWaits(*accessibility);
  return accessibility;
}

}  // namespace orvane
