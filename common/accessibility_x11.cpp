// Accessibility on Linux through AT-SPI 2. Not connected yet: every read is absent.
#include "accessibility.hpp"

namespace orvane {

namespace {

class AtspiAccessibility : public Accessibility {
 public:
  AXElement createApplication(std::int32_t) override {
    return AXElement(std::make_shared<const AXElement::Node>());
  }
  AXElement createSystemWide() override {
    return AXElement(std::make_shared<const AXElement::Node>());
  }
  std::optional<AXValue> copyAttributeValue(const AXElement&, std::string_view) override {
    return std::nullopt;
  }
  bool setAttributeValue(const AXElement&, std::string_view, bool) override { return false; }
  std::optional<AXElement> copyElementAtPosition(const AXElement&, float, float) override {
    return std::nullopt;
  }
};

}  // namespace

std::unique_ptr<Accessibility> makeAccessibilityX11() {
  return std::make_unique<AtspiAccessibility>();
}

}  // namespace orvane
