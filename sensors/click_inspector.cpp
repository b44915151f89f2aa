#include <cmath>
#include <map>
#include <utility>

#include "grapheme.hpp"
#include "json.hpp"
#include "sensors.hpp"
#include "text.hpp"

namespace orvane::sensors {
namespace {

constexpr std::string_view kLabelAttributes[] = {kAttrTitle, kAttrDescription, kAttrValue,
                                                 kAttrHelp};

bool finite(const Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
         std::isfinite(r.height);
}

const char* buttonOf(std::uint32_t type) {
  switch (type) {
    case kCGEventRightMouseDown:
    case kCGEventRightMouseUp:
      return "right";
    case kCGEventOtherMouseDown:
    case kCGEventOtherMouseUp:
      return "other";
    default:
      return "left";
  }
}

bool isRelease(std::uint32_t type) {
  return type == kCGEventLeftMouseUp || type == kCGEventRightMouseUp ||
         type == kCGEventOtherMouseUp;
}

// The reads of one lookup, each made once: the search and the line read an element's label
// and frame more than once, and every read is a call into the application. The elements read
// are held, so that no other element can take the address of one of them while it lasts.
class LookupReads final : public Accessibility {
 public:
  explicit LookupReads(Accessibility& ax) : ax_(ax) {}

  AXElement createApplication(std::int32_t pid) override { return ax_.createApplication(pid); }
  AXElement createSystemWide() override { return ax_.createSystemWide(); }

  std::optional<AXValue> copyAttributeValue(const AXElement& element,
                                            std::string_view attribute) override {
    auto& reads = reads_[element.node()];
    if (!reads.element) reads.element = element;
    for (const auto& [name, value] : reads.values) {
      if (name == attribute) return value;
    }
    auto value = ax_.copyAttributeValue(element, attribute);
    reads.values.emplace_back(std::string(attribute), value);
    return value;
  }

  bool setAttributeValue(const AXElement& element, std::string_view attribute,
                         bool value) override {
    return ax_.setAttributeValue(element, attribute, value);
  }

  std::optional<AXElement> copyElementAtPosition(const AXElement& element, float x,
                                                 float y) override {
    return ax_.copyElementAtPosition(element, x, y);
  }

 private:
  struct Reads {
    AXElement element;
    std::vector<std::pair<std::string, std::optional<AXValue>>> values;
  };
  Accessibility& ax_;
  std::map<const AXElement::Node*, Reads> reads_;
};

}  // namespace

std::string axLabel(Accessibility& ax, const AXElement& element) {
  for (const auto attribute : kLabelAttributes) {
    const auto text = axString(ax, element, attribute);
    if (!text) continue;
    const std::string_view label = trimmed(*text, TrimSet::kWhitespaceAndNewlines);
    if (label.empty()) continue;
    return std::string(graphemePrefix(label, kMaxLabelLength));
  }
  return {};
}

std::optional<Rect> axRect(Accessibility& ax, const AXElement& element) {
  if (const auto frame = ax.copyAttributeValue(element, kAttrFrame)) {
    if (auto rect = axRectValue(*frame)) return rect;
  }
  const auto position = ax.copyAttributeValue(element, kAttrPosition);
  if (!position) return std::nullopt;
  const auto size = ax.copyAttributeValue(element, kAttrSize);
  if (!size) return std::nullopt;
  const auto origin = axPointValue(*position);
  const auto extent = axSizeValue(*size);
  if (!origin || !extent) return std::nullopt;
  return Rect{origin->x, origin->y, extent->width, extent->height};
}

std::optional<AXElement> labeledDescendantUnderPoint(Accessibility& ax, const AXElement& root,
                                                     Point point, SearchBudget& budget) {
  std::optional<AXElement> best;
  auto walk = [&](auto& self, const AXElement& element, int depth) -> void {
    if (depth > kLabelSearchMaxDepth) return;
    if (!budget.visit(element)) return;
    if (!axLabel(ax, element).empty()) best = element;
    for (const auto& child : axChildren(ax, element)) {
      // Every child costs a call into the application: a huge list is cut by the budget.
      if (!budget.timeLeft()) return;
      const auto frame = axRect(ax, child);
      if (frame && containsPoint(*frame, point)) self(self, child, depth + 1);
    }
  };
  walk(walk, root, 0);
  return best;
}

std::optional<AXElement> labeledDescendantUnderPoint(Accessibility& ax, const AXElement& root,
                                                     Point point) {
  // One more than the limit is examined: the limit is tested before the visit is counted.
  SearchBudget budget(kLabelSearchMaxVisits + 1);
  return labeledDescendantUnderPoint(ax, root, point, budget);
}

// The lines of one press still to come: its element line, from the worker, and the lines
// held until that one is out or will never come. Whoever settles it first prints them.
struct ClickInspector::Press {
  explicit Press(SerialWriteQueue& queue) : queue(queue) {}

  // Holds a line until the press is settled; false when it is settled already.
  bool hold(json::Object line) {
    std::lock_guard lock(mutex);
    if (settled) return false;
    held.push_back(std::move(line));
    return true;
  }

  bool isSettled() {
    std::lock_guard lock(mutex);
    return settled;
  }

  // Prints the element line (when there is one and the press is not settled yet), then the
  // lines held.
  void settle(std::optional<json::Object> element = std::nullopt) {
    std::lock_guard lock(mutex);
    if (settled) return;
    settled = true;
    if (element) emit(queue, *element);
    for (const auto& line : held) emit(queue, line);
    held.clear();
  }

  SerialWriteQueue& queue;
  std::mutex mutex;
  bool settled = false;
  std::vector<json::Object> held;
};

ClickInspector::ClickInspector(Context& context, EventTaps& taps, Output& errors, RunLoop* runLoop)
    : context(context), taps(taps), errors(errors), runLoop(runLoop) {}

bool ClickInspector::createClickTap() {
  clickTapTriedAtMs = context.steadyMs();
  clickEventTap = taps.createListenOnlyTap(
      kClickEventMask,
      [this](std::uint32_t type, const TapEvent& event) { clickTapCallback(type, event); });
  clickTapMissing = !clickEventTap;
  if (!clickEventTap) return false;
  clickEventTap->addToCurrentRunLoop();
  clickEventTap->enable(true);
  return true;
}

void ClickInspector::startClickTap() {
  if (!createClickTap()) errors.writeErr(kClickTapUnavailable);
}

void ClickInspector::retryClickTap() {
  constexpr std::int64_t kRetryMs = 1000;
  if (!clickTapMissing || !taps.tapMayComeLater()) return;
  if (context.steadyMs() - clickTapTriedAtMs < kRetryMs) return;
  createClickTap();
}

void ClickInspector::clickTapCallback(std::uint32_t type, const TapEvent& event) {
  if (type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput) {
    if (clickEventTap) clickEventTap->enable(true);
    return;
  }
  const Point point = event.location();
  const bool release = isRelease(type);
  const std::int64_t deadline = context.steadyMs() + kSearchBudgetMs;
  // The worker looks for the window under a press while the front application is read here.
  if (!release) {
    context.accessibility.post([point, deadline](Accessibility& ax) {
      ax.setCallDeadline(deadline);
      ax.expectElementAtPosition(static_cast<float>(point.x), static_cast<float>(point.y));
    });
  }
  // One query serves the line's "app" and the switch-on after a press: both name the
  // application in front at this event.
  const auto front = context.workspace.frontmostApplication();
  const std::optional<std::string> app = front ? front->localizedName : std::nullopt;

  json::Object line{{"type", release ? "clickUp" : "click"},
                    {"atUnixMs", context.clock()},
                    {"xGlobal", point.x},
                    {"yGlobal", point.y},
                    {"button", buttonOf(type)}};
  if (app) line.emplace_back("app", *app);
  if (release) {
    if (!lastPress || !lastPress->hold(line)) emit(context.stdoutQueue, line);
    return;
  }
  // The press before comes out first, without its element line if that is still looked for:
  // a host reads an element line as that of the press before it.
  if (lastPress) lastPress->settle();
  emit(context.stdoutQueue, line);

  auto press = std::make_shared<Press>(context.stdoutQueue);
  lastPress = press;
  context.accessibility.post([this, press, point, front, deadline](Accessibility& ax) {
    if (press->isSettled()) return;  // a later press, or its budget, ended it
    press->settle(axElementLineAt(ax, point, front, deadline));
  });
  if (runLoop) {
    runLoop->performOnMainAfter(static_cast<double>(kSearchBudgetMs) / 1000.0,
                                [press] { press->settle(); });
  }
}

std::optional<json::Object> ClickInspector::axElementLineAt(
    Accessibility& service, Point point, const std::optional<RunningApplication>& front,
    std::int64_t deadlineMs) {
  SearchBudget budget(kLabelSearchMaxVisits + 1, deadlineMs, context.steadyMs);
  if (!budget.timeLeft()) return std::nullopt;  // waited too long behind other work
  SlowApplications& slow = *context.slowApplications;
  const std::int64_t started = context.steadyMs();
  if (front && slow.resting(front->processIdentifier, started)) return std::nullopt;
  service.setCallDeadline(deadlineMs);
  const std::optional<std::string> app = front ? front->localizedName : std::nullopt;
  auto line = lookUp(service, point, app, front, budget);
  if (front) slow.note(front->processIdentifier, started, context.steadyMs());
  return line;
}

std::optional<json::Object> ClickInspector::lookUp(Accessibility& service, Point point,
                                                   const std::optional<std::string>& app,
                                                   const std::optional<RunningApplication>& front,
                                                   SearchBudget& budget) {
  if (front) {
    const AXElement appElement = service.createApplication(front->processIdentifier);
    service.setAttributeValue(appElement, kAttrManualAccessibility, true);
    service.setAttributeValue(appElement, kAttrEnhancedUserInterface, true);
  }
  const auto hit = service.copyElementAtPosition(
      service.createSystemWide(), static_cast<float>(point.x), static_cast<float>(point.y));
  if (!hit || !*hit) return std::nullopt;
  LookupReads ax(service);
  const AXElement target = labeledDescendantUnderPoint(ax, *hit, point, budget).value_or(*hit);

  const std::string role = axString(ax, target, kAttrRole).value_or("");
  const std::string label = axLabel(ax, target);
  if (role.empty() && label.empty()) return std::nullopt;
  const auto frame = axRect(ax, target);
  // A search cut short may have missed the element: better no line than a wrong one.
  if (!budget.timeLeft()) return std::nullopt;

  // A frame that cannot be written as JSON numbers would lose the whole line; the point
  // stands in for it, as for an element without a frame.
  const bool framed = frame && finite(*frame);
  json::Object line{{"type", "ax-element"},
                    {"atUnixMs", context.clock()},
                    {"xGlobal", framed ? frame->x : point.x},
                    {"yGlobal", framed ? frame->y : point.y}};
  if (!role.empty()) line.emplace_back("role", role);
  if (!label.empty()) line.emplace_back("label", label);
  if (framed) {
    line.emplace_back("wGlobal", frame->width);
    line.emplace_back("hGlobal", frame->height);
  }
  if (app) line.emplace_back("app", *app);
  return line;
}

}  // namespace orvane::sensors
