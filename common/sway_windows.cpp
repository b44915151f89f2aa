#include "sway_windows.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

#include "process_files.hpp"
#include "text.hpp"

namespace orvane::sway {
namespace {

constexpr std::string_view kScratchOutput = "__i3";

// Children in the order of `focus` (most recently focused first), then any it leaves out.
std::vector<const SwayNode*> inFocusOrder(const std::vector<int64_t>& focus,
                                          const std::vector<const SwayNode*>& children) {
  std::vector<const SwayNode*> ordered;
  ordered.reserve(children.size());
  std::vector<bool> taken(children.size(), false);
  for (std::int64_t id : focus) {
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (!taken[i] && children[i]->id == id) {
        taken[i] = true;
        ordered.push_back(children[i]);
        break;
      }
    }
  }
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (!taken[i]) ordered.push_back(children[i]);
  }
  return ordered;
}

std::vector<const SwayNode*> pointers(const std::vector<SwayNode>& nodes) {
  std::vector<const SwayNode*> out;
  out.reserve(nodes.size());
  for (const auto& n : nodes) out.push_back(&n);
  return out;
}

// The views under a container, front to back by focus; fullscreen ones collected apart.
void collectViews(const SwayNode& node, bool shown, std::vector<View>& views,
                  std::vector<View>& fullscreen) {
  std::vector<const SwayNode*> children = pointers(node.nodes);
  for (const auto& f : node.floatingNodes) children.push_back(&f);
  for (const SwayNode* child : inFocusOrder(node.focus, children)) {
    if (child->view()) {
      View v{child, shown && child->visible.value_or(false)};
      (child->fullscreenMode != 0 ? fullscreen : views).push_back(v);
    } else {
      collectViews(*child, shown, views, fullscreen);
    }
  }
}

bool isOutput(const SwayNode& node) { return node.type == "output" && node.name != kScratchOutput; }

// The active outputs, main display first (the output at layout (0,0), else the first one),
// then in the tree's order. Disabled outputs are left out of the tree.
std::vector<const SwayNode*> activeOutputs(const SwayNode& root) {
  std::vector<const SwayNode*> outputs;
  for (const auto& n : root.nodes) {
    if (isOutput(n) && n.active) outputs.push_back(&n);
  }
  auto main = std::find_if(outputs.begin(), outputs.end(),
                           [](const SwayNode* o) { return o->rect.x == 0 && o->rect.y == 0; });
  if (main != outputs.end()) std::rotate(outputs.begin(), main, main + 1);
  return outputs;
}

Point mainOrigin(const std::vector<const SwayNode*>& outputs) {
  if (outputs.empty()) return {};
  return {outputs.front()->rect.x, outputs.front()->rect.y};
}

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

std::optional<std::string> bundleIdOf(const SwayNode& view) {
  if (view.shell == "xwayland") {
    if (!view.windowClass || view.windowClass->empty()) return std::nullopt;
    return lowercased(*view.windowClass);
  }
  if (!view.appId || view.appId->empty()) return std::nullopt;
  return view.appId;
}

DisplayId displayId(const std::string& make, const std::string& model, const std::string& serial,
                    const std::string& name, bool withName) {
  std::uint32_t hash = 2166136261u;
  auto mix = [&hash](std::string_view text) {
    for (unsigned char c : text) {
      hash ^= c;
      hash *= 16777619u;
    }
    hash ^= 0xff;  // a separator no UTF-8 text contains
    hash *= 16777619u;
  };
  mix(make);
  mix(model);
  mix(serial);
  if (withName) mix(name);
  return hash == 0 ? 1 : hash;
}

std::vector<Display> displaysOf(const SwayNode& root) {
  const auto outputs = activeOutputs(root);
  auto sameHardware = [](const SwayNode* a, const SwayNode* b) {
    return a->make == b->make && a->model == b->model && a->serial == b->serial;
  };
  const Point origin = mainOrigin(outputs);
  std::vector<Display> displays;
  for (const SwayNode* o : outputs) {
    // Outputs without a serial (headless, virtual, some projectors) can only be told apart by
    // name, as can twins with the same serial.
    bool withName = o->serial.empty() || o->serial == "Unknown";
    for (const SwayNode* other : outputs) {
      if (other != o && sameHardware(o, other)) withName = true;
    }
    Display d;
    d.id = displayId(o->make, o->model, o->serial, o->name, withName);
    d.name = o->name;
    d.bounds = Rect{o->rect.x - origin.x, o->rect.y - origin.y, o->rect.width, o->rect.height};
    d.scale = o->scale > 0 && std::isfinite(o->scale) ? o->scale : 1;
    displays.push_back(std::move(d));
  }
  return displays;
}

std::vector<View> viewsOf(const SwayNode& root) {
  std::vector<View> all;
  std::vector<const SwayNode*> outputs = pointers(root.nodes);
  for (const SwayNode* output : inFocusOrder(root.focus, outputs)) {
    const bool active = isOutput(*output) && output->active;
    for (const SwayNode* workspace : inFocusOrder(output->focus, pointers(output->nodes))) {
      std::vector<View> fullscreen, tiled, floating;
      std::vector<const SwayNode*> floats = pointers(workspace->floatingNodes);
      for (const SwayNode* f : inFocusOrder(workspace->focus, floats)) {
        if (f->view()) {
          View v{f, active && f->visible.value_or(false)};
          (f->fullscreenMode != 0 ? fullscreen : floating).push_back(v);
        } else {
          collectViews(*f, active, floating, fullscreen);
        }
      }
      for (const SwayNode* t : inFocusOrder(workspace->focus, pointers(workspace->nodes))) {
        if (t->view()) {
          View v{t, active && t->visible.value_or(false)};
          (t->fullscreenMode != 0 ? fullscreen : tiled).push_back(v);
        } else {
          collectViews(*t, active, tiled, fullscreen);
        }
      }
      for (auto* group : {&fullscreen, &floating, &tiled})
        all.insert(all.end(), group->begin(), group->end());
    }
  }
  return all;
}

std::optional<std::string> desktopEntryName(std::string_view text) {
  bool inEntry = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with('[')) {
      if (inEntry) break;
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry || !line.starts_with("Name")) continue;
    std::string_view rest = line.substr(4);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    if (!rest.starts_with('=')) continue;  // Name[de]=…, NameFoo=…
    rest.remove_prefix(1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    std::string value;
    // No character takes more than four bytes: what lies beyond would be cut anyway.
    for (std::size_t i = 0; i < rest.size() && value.size() < 4 * kMaxTextCharacters; ++i) {
      if (rest[i] == '\\' && i + 1 < rest.size()) {
        const char c = rest[++i];
        value += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
      } else {
        value += rest[i];
      }
    }
    if (value.empty()) return std::nullopt;
    return boundedText(value);
  }
  return std::nullopt;
}

OwnerNames::OwnerNames(std::vector<std::string> dataDirs,
                       std::function<std::optional<std::string>(std::int64_t)> program)
    : dataDirs_(std::move(dataDirs)), program_(std::move(program)) {}

OwnerNames OwnerNames::fromEnvironment() {
  std::vector<std::string> dirs;
  auto value = [](const char* name) -> std::string {
    const char* v = std::getenv(name);
    return v ? v : "";
  };
  std::string home = value("XDG_DATA_HOME");
  if (home.empty() && !value("HOME").empty()) home = value("HOME") + "/.local/share";
  if (!home.empty()) dirs.push_back(home);
  std::string list = value("XDG_DATA_DIRS");
  if (list.empty()) list = "/usr/local/share:/usr/share";
  for (std::string_view rest = list; !rest.empty();) {
    const auto colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    if (!dir.empty()) dirs.emplace_back(dir);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return OwnerNames(std::move(dirs), programName);
}

std::optional<std::string> OwnerNames::desktopEntryName(const std::string& appId) {
  // An app_id is the client's to choose: it must not lead outside the applications folders.
  if (appId.empty() || appId.find('/') != std::string::npos || appId.starts_with('.'))
    return std::nullopt;
  if (auto it = cache_.find(appId); it != cache_.end()) return it->second;
  std::optional<std::string> name;
  for (const auto& dir : dataDirs_) {
    const std::string path = dir + "/applications/" + appId + ".desktop";
    if (::access(path.c_str(), R_OK) != 0) continue;
    name = sway::desktopEntryName(readFilePrefix(path, 1 << 20));
    break;  // the first entry found is the one that counts, named or not
  }
  if (cache_.size() > 1024) cache_.clear();
  cache_.emplace(appId, name);
  return name;
}

std::optional<std::string> OwnerNames::ownerName(const SwayNode& view) {
  return ownerName(view.shell == "xwayland", view.appId, view.windowClass, view.pid);
}

std::optional<std::string> OwnerNames::ownerName(bool xwayland,
                                                 const std::optional<std::string>& appId,
                                                 const std::optional<std::string>& windowClass,
                                                 std::optional<std::int64_t> pid) {
  if (xwayland) {
    if (windowClass && !windowClass->empty()) return windowClass;
  } else if (appId && !appId->empty()) {
    if (auto name = desktopEntryName(*appId)) return name;
    return appId;
  }
  if (pid && program_) return program_(*pid);
  return std::nullopt;
}

CompositorSnapshot snapshotOf(const SwayNode& root, OwnerNames& names) {
  CompositorSnapshot snapshot;
  const Point origin = mainOrigin(activeOutputs(root));
  for (const Display& d : displaysOf(root))
    snapshot.outputs.push_back(CompositorOutput{d.id, d.name, d.bounds, d.scale});
  for (const View& view : viewsOf(root)) {
    const SwayNode& n = *view.node;
    if (n.id <= 0 || n.id > std::numeric_limits<std::uint32_t>::max()) continue;
    CompositorWindow& w = snapshot.windows.emplace_back();
    w.id = static_cast<std::uint32_t>(n.id);
    w.pid = n.pid;
    w.appId = bundleIdOf(n);
    w.ownerName = names.ownerName(n);
    w.title = n.name;
    // sway keeps the title bar (`deco_rect`) apart from the container's rect.
    const double title = std::max(0.0, n.decoRect.height);
    w.frame =
        Rect{n.rect.x - origin.x, n.rect.y - title - origin.y, n.rect.width, n.rect.height + title};
    const Point centre{w.frame.x + w.frame.width / 2, w.frame.y + w.frame.height / 2};
    for (const CompositorOutput& o : snapshot.outputs) {
      if (centre.x >= o.bounds.x && centre.x < o.bounds.x + o.bounds.width &&
          centre.y >= o.bounds.y && centre.y < o.bounds.y + o.bounds.height) {
        w.output = o.id;
        break;
      }
    }
    w.onScreen = view.onScreen;
    w.xwayland = n.shell == "xwayland";
  }
  if (const SwayNode* focused = focusedView(root);
      focused && focused->id > 0 && focused->id <= std::numeric_limits<std::uint32_t>::max())
    snapshot.focused = static_cast<std::uint32_t>(focused->id);
  return snapshot;
}

std::vector<RecordValue> windowInfo(const SwayNode& root, std::uint32_t options,
                                    std::uint32_t relativeToWindow, OwnerNames& names) {
  return orvane::windowInfo(snapshotOf(root, names), options, relativeToWindow);
}

}  // namespace orvane::sway
