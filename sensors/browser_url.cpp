#include "sensors.hpp"

namespace orvane::sensors {
namespace {

constexpr std::string_view kSafari = "com.apple.Safari";
constexpr std::string_view kWebAreaRole = "AXWebArea";
constexpr std::string_view kTextFieldRole = "AXTextField";
constexpr int kMaxSearchDepth = 12;

bool hasWebScheme(std::string_view text) {
  return text.starts_with("http://") || text.starts_with("https://");
}

}  // namespace

std::optional<std::string> axURLString(Accessibility& ax, const AXElement& element,
                                       std::string_view attribute) {
  const auto value = ax.copyAttributeValue(element, attribute);
  if (!value) return std::nullopt;
  if (const auto* url = std::get_if<AXURLValue>(&*value)) return url->absoluteString;
  return axTextValue(*value);
}

std::vector<AXElement> axChildren(Accessibility& ax, const AXElement& element) {
  auto value = ax.copyAttributeValue(element, kAttrChildren);
  if (!value) return {};
  auto* children = std::get_if<std::vector<AXElement>>(&*value);
  if (!children) return {};
  for (const auto& child : *children) {
    if (!child) return {};  // not a list of elements
  }
  return std::move(*children);
}

bool looksLikeUrl(std::string_view text) {
  if (text.find(' ') != std::string_view::npos) return false;
  if (text.empty()) return false;
  if (hasWebScheme(text)) return true;
  return text.find('.') != std::string_view::npos;
}

std::optional<AXElement> findWebArea(Accessibility& ax, const AXElement& element, int depth,
                                     SearchBudget& budget) {
  if (depth > kMaxSearchDepth || !budget.visit(element)) return std::nullopt;
  if (axString(ax, element, kAttrRole) == kWebAreaRole) return element;
  for (const auto& child : axChildren(ax, element)) {
    if (auto found = findWebArea(ax, child, depth + 1, budget)) return found;
    if (!budget.timeLeft()) break;
  }
  return std::nullopt;
}

std::optional<AXElement> findWebArea(Accessibility& ax, const AXElement& element, int depth) {
  SearchBudget budget(kAddressSearchMaxVisits);
  return findWebArea(ax, element, depth, budget);
}

std::optional<std::string> findAddressBar(Accessibility& ax, const AXElement& element, int depth,
                                          SearchBudget& budget) {
  if (depth > kMaxSearchDepth || !budget.visit(element)) return std::nullopt;
  if (axString(ax, element, kAttrRole) == kTextFieldRole) {
    auto value = axString(ax, element, kAttrValue);
    if (value && looksLikeUrl(*value)) return value;
  }
  for (const auto& child : axChildren(ax, element)) {
    if (auto found = findAddressBar(ax, child, depth + 1, budget)) return found;
    if (!budget.timeLeft()) break;
  }
  return std::nullopt;
}

std::optional<std::string> findAddressBar(Accessibility& ax, const AXElement& element, int depth) {
  SearchBudget budget(kAddressSearchMaxVisits);
  return findAddressBar(ax, element, depth, budget);
}

std::optional<std::string> browserUrl(Accessibility& ax, std::int32_t pid,
                                      std::string_view bundleId, SearchBudget& budget) {
  const AXElement appElement = ax.createApplication(pid);
  if (bundleId != kSafari) {
    ax.setAttributeValue(appElement, kAttrManualAccessibility, true);
    ax.setAttributeValue(appElement, kAttrEnhancedUserInterface, true);
  }
  const auto window = axElement(ax, appElement, kAttrFocusedWindow);
  if (!window) return std::nullopt;

  if (const auto webArea = findWebArea(ax, *window, 0, budget)) {
    if (auto url = axURLString(ax, *webArea, kAttrURL)) return url;
  }
  // The address bar is searched with what the web area left of the budget; elements the
  // first search examined are examined again, so they do not count as seen.
  SearchBudget rest = budget.remainder();
  auto candidate = findAddressBar(ax, *window, 0, rest);
  if (!candidate) return std::nullopt;
  if (hasWebScheme(*candidate)) return candidate;
  // NOTE: Chromium on Linux shows a local file's address as its bare path; "https://" before
  // it would name no page at all.
  if (candidate->starts_with('/')) return "file://" + *candidate;
  return "https://" + *candidate;
}

std::optional<std::string> browserUrl(Accessibility& ax, std::int32_t pid,
                                      std::string_view bundleId) {
  SearchBudget budget(kAddressSearchMaxVisits);
  return browserUrl(ax, pid, bundleId, budget);
}

}  // namespace orvane::sensors
