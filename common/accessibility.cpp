#include "accessibility.hpp"

namespace orvane {

namespace {

const AXGeometry* geometryOf(const AXValue& value, AXGeometryType wanted) {
  const auto* geometry = std::get_if<AXGeometry>(&value);
  return geometry && geometry->type == wanted ? geometry : nullptr;
}

}  // namespace

bool AXElementSet::insert(const AXElement& element) {
  if (!element) return true;
  return elements_.insert(element).second;
}

std::optional<Point> axPointValue(const AXValue& value) {
  const auto* g = geometryOf(value, kAXGeometryPoint);
  if (!g) return std::nullopt;
  return Point{g->x, g->y};
}

std::optional<Rect> axSizeValue(const AXValue& value) {
  const auto* g = geometryOf(value, kAXGeometrySize);
  if (!g) return std::nullopt;
  return Rect{0, 0, g->width, g->height};
}

std::optional<Rect> axRectValue(const AXValue& value) {
  const auto* g = geometryOf(value, kAXGeometryRect);
  if (!g) return std::nullopt;
  return Rect{g->x, g->y, g->width, g->height};
}

std::optional<AXElement> axElementValue(const AXValue& value) {
  const auto* element = std::get_if<AXElement>(&value);
  if (!element || !*element) return std::nullopt;
  return *element;
}

std::optional<std::string> axTextValue(const AXValue& value) {
  const auto* text = std::get_if<std::string>(&value);
  if (!text) return std::nullopt;
  return *text;
}

std::optional<std::string> axString(Accessibility& ax, const AXElement& element,
                                    std::string_view attribute) {
  const auto value = ax.copyAttributeValue(element, attribute);
  if (!value) return std::nullopt;
  return axTextValue(*value);
}

void limitCallWaits(Accessibility& ax) {
  ax.setMessagingTimeout(ax.createSystemWide(),
                         static_cast<float>(kAccessibilityCallTimeoutMs) / 1000.0f);
}

}  // namespace orvane
