#include "workspace_sway.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "text.hpp"

namespace orvane {
namespace sway {
namespace {

bool holdsViews(const SwayNode& node) {
  return node.type == "con" || node.type == "floating_con" || node.type == "workspace";
}

// The node's children, most recently focused first; those its focus list leaves out after.
std::vector<const SwayNode*> byFocus(const SwayNode& node) {
  std::vector<const SwayNode*> children;
  for (const auto& child : node.nodes) children.push_back(&child);
  for (const auto& child : node.floatingNodes) children.push_back(&child);
  auto rank = [&](const SwayNode* child) {
    const auto it = std::find(node.focus.begin(), node.focus.end(), child->id);
    return static_cast<std::size_t>(it - node.focus.begin());
  };
  std::stable_sort(children.begin(), children.end(),
                   [&](const SwayNode* a, const SwayNode* b) { return rank(a) < rank(b); });
  return children;
}

const SwayNode* findFocused(const SwayNode& node) {
  if (node.focused) return &node;
  for (const auto& child : node.nodes)
    if (const SwayNode* found = findFocused(child)) return found;
  for (const auto& child : node.floatingNodes)
    if (const SwayNode* found = findFocused(child)) return found;
  return nullptr;
}

const SwayNode* firstView(const SwayNode& node,
                          const std::function<bool(const SwayNode&)>& wanted) {
  if (node.view()) return wanted(node) ? &node : nullptr;
  for (const SwayNode* child : byFocus(node))
    if (const SwayNode* found = firstView(*child, wanted)) return found;
  return nullptr;
}

}  // namespace

const SwayNode* focusedView(const SwayNode& root) {
  const SwayNode* focused = findFocused(root);
  if (!focused) return nullptr;
  if (focused->view()) return focused;
  // `focus parent` puts sway's focus on a container; what the user works in is inside it.
  if (!holdsViews(*focused)) return nullptr;
  return firstView(*focused, [](const SwayNode&) { return true; });
}

const SwayNode* recentViewOf(const SwayNode& root, std::int64_t pid) {
  if (const SwayNode* shown = firstView(
          root, [pid](const SwayNode& v) { return v.pid == pid && v.visible.value_or(false); }))
    return shown;
  return firstView(root, [pid](const SwayNode& v) { return v.pid == pid; });
}

std::optional<std::string> bundleIdOf(const SwayNode& view) {
  if (view.shell == "xwayland") {
    if (!view.windowClass || view.windowClass->empty()) return std::nullopt;
    return lowercased(*view.windowClass);
  }
  if (!view.appId || view.appId->empty()) return std::nullopt;
  return view.appId;
}

}  // namespace sway

namespace {

class SwayWorkspace : public Workspace {
 public:
  explicit SwayWorkspace(SwayWorkspaceSource source) : source_(std::move(source)) {}

  std::optional<RunningApplication> frontmostApplication() override {
    auto root = tree();
    if (!root) return std::nullopt;
    const sway::SwayNode* view = sway::focusedView(*root);
    if (!view) return std::nullopt;
    return describe(*view);
  }

  std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
    auto root = tree();
    if (!root) return std::nullopt;
    const sway::SwayNode* view = sway::recentViewOf(*root, pid);
    if (!view) return std::nullopt;
    return describe(*view);
  }

 private:
  std::optional<sway::SwayNode> tree() {
    if (!source_.tree) return std::nullopt;
    const auto payload = source_.tree();
    if (!payload) return std::nullopt;
    return sway::parseTree(*payload);
  }

  RunningApplication describe(const sway::SwayNode& view) {
    RunningApplication app;
    // A pid sway could not tell (0) names no process.
    app.processIdentifier = view.pid && *view.pid > 0 && *view.pid <= INT32_MAX
                                ? static_cast<std::int32_t>(*view.pid)
                                : -1;
    if (source_.ownerName) app.localizedName = source_.ownerName(view);
    if (!app.localizedName) {
      const auto& fallback = view.shell == "xwayland" ? view.windowClass : view.appId;
      if (fallback && !fallback->empty()) app.localizedName = fallback;
    }
    app.bundleIdentifier = sway::bundleIdOf(view);
    app.activationPolicy = kActivationPolicyRegular;
    app.focusedWindowTitle = view.name;
    return app;
  }

  SwayWorkspaceSource source_;
};

}  // namespace

std::unique_ptr<Workspace> makeSwayWorkspace(SwayWorkspaceSource source) {
  return std::make_unique<SwayWorkspace>(std::move(source));
}

}  // namespace orvane
