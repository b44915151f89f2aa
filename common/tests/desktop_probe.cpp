// A test-only program that drives this platform's accessibility, workspace and event-tap
// backends for process tests. Commands on standard input, one per line; each answer, and each
// tapped event, is one JSON line on standard output:
//   front                 the frontmost application
//   app PID               the running application with that pid
//   focused               the element with keyboard focus (system-wide AXFocusedUIElement)
//   at X Y                the deepest element at that global point
//   window PID            the application's AXFocusedWindow
//   tree PID              the application's elements, depth first, as "tree" lines, then "end"
//   switchon PID          writes AXManualAccessibility and AXEnhancedUserInterface
//   tap MASK              creates, installs and enables a listen-only tap (MASK in hex)
//   ping                  answers {"pong":true} (all earlier commands are done)
#include <unistd.h>
#include <cstdio>
#include <functional>
#include <string>

#include "accessibility.hpp"
#include "event_tap.hpp"
#include "json.hpp"
#include "run_loop.hpp"
#include "workspace.hpp"

namespace orvane {
namespace {

void print(json::Object object) {
  auto text = json::encode(json::Value(std::move(object)), {true, false});
  if (!text) return;
  *text += "\n";
  if (::write(1, text->data(), text->size()) < 0) return;
}

json::Object describeApp(const std::optional<RunningApplication>& app) {
  json::Object o;
  if (!app) {
    o.emplace_back("none", true);
    return o;
  }
  o.emplace_back("pid", app->processIdentifier);
  if (app->localizedName) o.emplace_back("name", *app->localizedName);
  if (app->bundleIdentifier) o.emplace_back("bundleId", *app->bundleIdentifier);
  o.emplace_back("policy", static_cast<long long>(app->activationPolicy));
  return o;
}

struct Probe {
  std::unique_ptr<Accessibility> ax = makeAccessibility();
  std::unique_ptr<Workspace> workspace = makeWorkspace();
  std::unique_ptr<EventTaps> taps = makeEventTaps();
  std::unique_ptr<EventTap> tap;

  json::Object describe(const AXElement& e) {
    json::Object o;
    for (auto name :
         {kAttrRole, kAttrSubrole, kAttrTitle, kAttrDescription, kAttrValue, kAttrHelp}) {
      if (auto v = ax->copyAttributeValue(e, name)) {
        if (auto text = axTextValue(*v)) o.emplace_back(std::string(name), *text);
      }
    }
    if (auto v = ax->copyAttributeValue(e, kAttrURL)) {
      if (auto* url = std::get_if<AXURLValue>(&*v)) o.emplace_back("AXURL", url->absoluteString);
      if (auto text = axTextValue(*v)) o.emplace_back("AXURL", *text);
    }
    if (auto v = ax->copyAttributeValue(e, kAttrFrame)) {
      if (auto r = axRectValue(*v)) {
        o.emplace_back("AXFrame", json::Array{r->x, r->y, r->width, r->height});
      }
    }
    if (auto v = ax->copyAttributeValue(e, kAttrPosition)) {
      if (auto p = axPointValue(*v)) o.emplace_back("AXPosition", json::Array{p->x, p->y});
    }
    if (auto v = ax->copyAttributeValue(e, kAttrSize)) {
      if (auto s = axSizeValue(*v)) o.emplace_back("AXSize", json::Array{s->width, s->height});
    }
    if (auto v = ax->copyAttributeValue(e, kAttrChildren)) {
      if (auto* list = std::get_if<std::vector<AXElement>>(&*v)) {
        o.emplace_back("children", static_cast<long long>(list->size()));
      }
    }
    return o;
  }

  json::Object element(std::optional<AXElement> e) {
    if (!e) return {{"none", true}};
    return describe(*e);
  }

  std::optional<AXElement> attributeElement(const AXElement& e, std::string_view name) {
    auto v = ax->copyAttributeValue(e, name);
    return v ? axElementValue(*v) : std::nullopt;
  }

  void tree(const AXElement& e, int depth) {
    if (depth > 30) return;
    auto o = describe(e);
    o.emplace_back("depth", depth);
    o.emplace_back("tree", true);
    print(std::move(o));
    if (auto v = ax->copyAttributeValue(e, kAttrChildren)) {
      if (auto* list = std::get_if<std::vector<AXElement>>(&*v)) {
        for (const auto& child : *list) tree(child, depth + 1);
      }
    }
  }

  void command(const std::string& line) {
    char name[32] = {};
    long a = 0, b = 0;
    const int n = std::sscanf(line.c_str(), "%31s %li %li", name, &a, &b);
    const std::string cmd = n >= 1 ? name : "";
    if (cmd == "front") {
      print(describeApp(workspace->frontmostApplication()));
    } else if (cmd == "app" && n >= 2) {
      print(describeApp(workspace->runningApplication(static_cast<std::int32_t>(a))));
    } else if (cmd == "focused") {
      print(element(attributeElement(ax->createSystemWide(), kAttrFocusedUIElement)));
    } else if (cmd == "at" && n >= 3) {
      print(element(ax->copyElementAtPosition(ax->createSystemWide(), static_cast<float>(a),
                                              static_cast<float>(b))));
    } else if (cmd == "window" && n >= 2) {
      print(element(attributeElement(ax->createApplication(static_cast<std::int32_t>(a)),
                                     kAttrFocusedWindow)));
    } else if (cmd == "tree" && n >= 2) {
      tree(ax->createApplication(static_cast<std::int32_t>(a)), 0);
      print({{"end", true}});
    } else if (cmd == "switchon" && n >= 2) {
      auto app = ax->createApplication(static_cast<std::int32_t>(a));
      const bool manual = ax->setAttributeValue(app, kAttrManualAccessibility, true);
      const bool enhanced = ax->setAttributeValue(app, kAttrEnhancedUserInterface, true);
      print({{"manual", manual}, {"enhanced", enhanced}});
    } else if (cmd == "tap") {
      unsigned long long mask = 0;
      std::sscanf(line.c_str(), "%*s %llx", &mask);
      tap = taps->createListenOnlyTap(mask, [](std::uint32_t type, const TapEvent& event) {
        json::Object o{{"event", static_cast<unsigned long long>(type)}};
        if (type == kCGEventKeyDown || type == kCGEventKeyUp || type == kCGEventFlagsChanged) {
          o.emplace_back("keyCode", static_cast<long long>(event.keyCode()));
          o.emplace_back("text", event.keyboardText());
        } else if (type == kCGEventScrollWheel) {
          o.emplace_back("axis1", event.scrollDeltaAxis1());
          o.emplace_back("axis2", event.scrollDeltaAxis2());
        }
        if (type < 64) {
          const Point p = event.location();
          o.emplace_back("x", p.x);
          o.emplace_back("y", p.y);
        }
        print(std::move(o));
      });
      if (tap) {
        tap->addToCurrentRunLoop();
        tap->enable(true);
      }
      print({{"tap", tap != nullptr}});
    } else if (cmd == "ping") {
      print({{"pong", true}});
    } else {
      print({{"error", line}});
    }
  }
};

}  // namespace
}  // namespace orvane

int main() {
  using namespace orvane;
  auto loop = makeRunLoop();
  loop->exitOnTerminationSignals();
  Probe probe;
  RunLoop* main = loop.get();
  loop->readStandardInputLines([main, &probe](const std::string& line) {
    main->performOnMain([&probe, line] { probe.command(line); });
  });
  loop->run();
  return 0;
}
