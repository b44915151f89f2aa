// A scriptable accessibility tree for unit tests: elements with any attributes (roles,
// subroles, titles, values, frames, children, values of the wrong kind), applications by
// pid, the system-wide element, the element at a position, and a log of what was asked.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "accessibility.hpp"

namespace orvane {

class FakeAccessibility : public Accessibility {
 public:
  using Id = int;
  using Attributes = std::vector<std::pair<std::string, AXValue>>;

  FakeAccessibility();

  // A new element with these attributes; its handle is element(id).
  Id add(Attributes attributes = {});
  AXElement element(Id id) const;
  // The id behind a handle this fake gave out; nothing for any other handle.
  std::optional<Id> idOf(const AXElement& element) const;

  // Scripting one element. set() replaces an attribute, remove() drops it.
  void set(Id id, std::string attribute, AXValue value);
  void remove(Id id, std::string_view attribute);
  void setChildren(Id id, const std::vector<Id>& children);  // "AXChildren"
  void setFrame(Id id, Rect frame);                          // "AXFrame"
  void setPositionAndSize(Id id, Rect frame);                // "AXPosition", "AXSize"
  // An element whose every read and write fails, as an application that does not answer.
  void setUnresponsive(Id id, bool unresponsive = true);

  // The element createApplication(pid) answers; a pid without one gets a fresh empty element.
  void setApplication(std::int32_t pid, Id id);
  Id systemWideId() const { return systemWide_; }
  // "AXFocusedUIElement" of the system-wide element; nothing removes it.
  void setFocused(std::optional<Id> id);

  // What copyElementAtPosition answers for a point; unset, it answers nothing.
  std::function<std::optional<Id>(float x, float y)> hitTest;

  // Every answer hands out new handles, as the macOS service does: each read of "AXChildren"
  // makes new objects, which go when the caller drops them. Otherwise an element always has
  // the one handle element(id).
  bool freshHandles = false;

  // How long a call on a handle may wait, as macOS decides it: the limit set on that handle,
  // else the one set on the system-wide element, else this.
  static constexpr float kDefaultTimeoutSeconds = 6;
  float timeoutOf(const AXElement& element) const;

  // What was asked, in order.
  struct Read {
    Id id;
    std::string attribute;
    float timeoutSeconds = kDefaultTimeoutSeconds;  // how long it could have waited
  };
  struct Write {
    Id id;
    std::string attribute;
    bool value;
  };
  std::vector<Read> reads;
  std::vector<Write> writes;
  std::vector<std::pair<float, float>> positionQueries;
  std::vector<std::int32_t> applicationsCreated;
  std::size_t readCount(Id id, std::string_view attribute) const;

  AXElement createApplication(std::int32_t pid) override;
  AXElement createSystemWide() override;
  std::optional<AXValue> copyAttributeValue(const AXElement& element,
                                            std::string_view attribute) override;
  bool setAttributeValue(const AXElement& element, std::string_view attribute, bool value) override;
  void setMessagingTimeout(const AXElement& element, float seconds) override;
  std::optional<AXElement> copyElementAtPosition(const AXElement& element, float x,
                                                 float y) override;

 private:
  struct Node : AXElement::Node {
    const FakeAccessibility* owner;
    Id id;
    Node(const FakeAccessibility* o, Id i) : owner(o), id(i) {}
    bool sameElement(const AXElement::Node& other) const override {
      const auto* fake = dynamic_cast<const Node*>(&other);
      return fake && fake->owner == owner && fake->id == id;
    }
    std::size_t elementHash() const override { return std::hash<Id>{}(id); }
  };
  struct Entry {
    Attributes attributes;
    bool unresponsive = false;
    AXElement handle;
  };

  Entry& entry(Id id);
  // A handle of the element as an answer gives it out.
  AXElement handOut(Id id) const;
  AXValue handOut(const AXValue& value) const;

  std::vector<Entry> entries_;
  std::map<std::int32_t, Id> applications_;
  std::vector<std::pair<AXElement, float>> handleTimeouts_;  // the handles kept alive
  std::optional<float> processTimeout_;
  Id systemWide_ = 0;
};

// Geometry values for scripting.
inline AXGeometry axPoint(double x, double y) { return {kAXGeometryPoint, x, y, 0, 0}; }
inline AXGeometry axSize(double w, double h) { return {kAXGeometrySize, 0, 0, w, h}; }
inline AXGeometry axRect(double x, double y, double w, double h) {
  return {kAXGeometryRect, x, y, w, h};
}

}  // namespace orvane
