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

AXElement FakeAccessibility::handOut(Id id) const {
  if (!freshHandles) return element(id);
  return AXElement(std::make_shared<const Node>(this, id));
}

AXValue FakeAccessibility::handOut(const AXValue& value) const {
  if (!freshHandles) return value;
  if (const auto* one = std::get_if<AXElement>(&value)) {
    const auto id = idOf(*one);
    return id ? handOut(*id) : *one;
  }
  if (const auto* list = std::get_if<std::vector<AXElement>>(&value)) {
    std::vector<AXElement> fresh;
    for (const auto& e : *list) {
      const auto id = idOf(e);
      fresh.push_back(id ? handOut(*id) : e);
    }
    return fresh;
  }
  return value;
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
  if (it != applications_.end()) return handOut(it->second);
  const Id id = add();
  applications_[pid] = id;
  return handOut(id);
}

AXElement FakeAccessibility::createSystemWide() { return handOut(systemWide_); }

std::optional<AXValue> FakeAccessibility::copyAttributeValue(const AXElement& element,
                                                             std::string_view attribute) {
  const auto id = idOf(element);
  if (!id) return std::nullopt;
  reads.push_back({*id, std::string(attribute), timeoutOf(element)});
  const Entry& e = entry(*id);
  if (e.unresponsive) return std::nullopt;
  for (const auto& [name, value] : e.attributes) {
    if (name == attribute) return handOut(value);
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

void FakeAccessibility::setMessagingTimeout(const AXElement& element, float seconds) {
  const auto id = idOf(element);
  if (!id) return;
  if (*id == systemWide_) {
    processTimeout_ = seconds;
  } else {
    handleTimeouts_.emplace_back(element, seconds);
  }
}

float FakeAccessibility::timeoutOf(const AXElement& element) const {
  for (auto it = handleTimeouts_.rbegin(); it != handleTimeouts_.rend(); ++it) {
    if (it->first.node() == element.node()) return it->second;
  }
  return processTimeout_.value_or(kDefaultTimeoutSeconds);
}

std::optional<AXElement> FakeAccessibility::copyElementAtPosition(const AXElement& element, float x,
                                                                  float y) {
  positionQueries.emplace_back(x, y);
  const auto id = idOf(element);
  if (!id || entry(*id).unresponsive || !hitTest) return std::nullopt;
  const auto hit = hitTest(x, y);
  if (!hit) return std::nullopt;
  return handOut(*hit);
}

}  // namespace orvane
