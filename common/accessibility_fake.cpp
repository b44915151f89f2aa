#include "accessibility_fake.hpp"

#include <algorithm>
#include <stdexcept>

namespace orvane {

FakeAccessibility::FakeAccessibility() { systemWide_ = add(); }

FakeAccessibility::Id FakeAccessibility::add(Attributes attributes) {
  const Id id = static_cast<Id>(entries_.size());
  Entry e;
  e.attributes = std::move(attributes);
  e.handle = AXElement(std::make_shared<const Node>(this, id));
  entries_.push_back(std::move(e));
  return id;
}

FakeAccessibility::Entry& FakeAccessibility::entry(Id id) {
  if (id < 0 || static_cast<std::size_t>(id) >= entries_.size()) {
    throw std::out_of_range("no such fake element");
  }
  return entries_[static_cast<std::size_t>(id)];
}

AXElement FakeAccessibility::element(Id id) const {
  return const_cast<FakeAccessibility*>(this)->entry(id).handle;
}

std::optional<FakeAccessibility::Id> FakeAccessibility::idOf(const AXElement& element) const {
  const auto* node = dynamic_cast<const Node*>(element.node());
  if (!node || node->owner != this) return std::nullopt;
  return node->id;
}

void FakeAccessibility::set(Id id, std::string attribute, AXValue value) {
  auto& attributes = entry(id).attributes;
  for (auto& [name, existing] : attributes) {
    if (name == attribute) {
      existing = std::move(value);
      return;
    }
  }
  attributes.emplace_back(std::move(attribute), std::move(value));
}

void FakeAccessibility::remove(Id id, std::string_view attribute) {
  auto& attributes = entry(id).attributes;
  std::erase_if(attributes, [&](const auto& a) { return a.first == attribute; });
}

void FakeAccessibility::setChildren(Id id, const std::vector<Id>& children) {
  std::vector<AXElement> handles;
  for (Id child : children) handles.push_back(element(child));
  set(id, std::string(kAttrChildren), std::move(handles));
}

void FakeAccessibility::setFrame(Id id, Rect frame) {
  set(id, std::string(kAttrFrame), axRect(frame.x, frame.y, frame.width, frame.height));
}

void FakeAccessibility::setPositionAndSize(Id id, Rect frame) {
  set(id, std::string(kAttrPosition), axPoint(frame.x, frame.y));
  set(id, std::string(kAttrSize), axSize(frame.width, frame.height));
}

void FakeAccessibility::setUnresponsive(Id id, bool unresponsive) {
  entry(id).unresponsive = unresponsive;
}

void FakeAccessibility::setApplication(std::int32_t pid, Id id) { applications_[pid] = id; }

void FakeAccessibility::setFocused(std::optional<Id> id) {
  if (id) {
    set(systemWide_, std::string(kAttrFocusedUIElement), element(*id));
  } else {
    remove(systemWide_, kAttrFocusedUIElement);
  }
}

std::size_t FakeAccessibility::readCount(Id id, std::string_view attribute) const {
  return static_cast<std::size_t>(std::count_if(reads.begin(), reads.end(), [&](const Read& r) {
    return r.id == id && r.attribute == attribute;
  }));
}

AXElement FakeAccessibility::createApplication(std::int32_t pid) {
  applicationsCreated.push_back(pid);
  auto it = applications_.find(pid);
  if (it != applications_.end()) return element(it->second);
  const Id id = add();
  applications_[pid] = id;
  return element(id);
}

AXElement FakeAccessibility::createSystemWide() { return element(systemWide_); }

std::optional<AXValue> FakeAccessibility::copyAttributeValue(const AXElement& element,
                                                             std::string_view attribute) {
  const auto id = idOf(element);
  if (!id) return std::nullopt;
  reads.push_back({*id, std::string(attribute)});
  const Entry& e = entry(*id);
  if (e.unresponsive) return std::nullopt;
  for (const auto& [name, value] : e.attributes) {
    if (name == attribute) return value;
  }
  return std::nullopt;
}

bool FakeAccessibility::setAttributeValue(const AXElement& element, std::string_view attribute,
                                          bool value) {
  const auto id = idOf(element);
  if (!id) return false;
  writes.push_back({*id, std::string(attribute), value});
  if (entry(*id).unresponsive) return false;
  set(*id, std::string(attribute), value);
  return true;
}

std::optional<AXElement> FakeAccessibility::copyElementAtPosition(const AXElement& element, float x,
                                                                  float y) {
  positionQueries.emplace_back(x, y);
  const auto id = idOf(element);
  if (!id || entry(*id).unresponsive || !hitTest) return std::nullopt;
  const auto hit = hitTest(x, y);
  if (!hit) return std::nullopt;
  return this->element(*hit);
}

}  // namespace orvane
