#include "kwin_state.hpp"

#include <fcntl.h>
#include <rapidjson/document.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>

namespace orvane {
namespace kwin {
namespace {

std::uint32_t fnv1a(std::string_view text, std::uint32_t salt) {
  std::uint32_t hash = 2166136261u ^ salt;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

std::string canonicalUuid(std::string_view uuid) {
  std::string out;
  out.reserve(uuid.size());
  for (char c : uuid) {
    if (c == '{' || c == '}') continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

std::uint32_t saltedNumber(const std::string& canonical, std::uint32_t salt) {
  const std::uint32_t n = fnv1a(canonical, salt);
  return n ? n : 1;
}

std::optional<double> number(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsNumber()) return std::nullopt;
  return it->value.GetDouble();
}

std::string text(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsString()) return {};
  return std::string(it->value.GetString(), it->value.GetStringLength());
}

bool flag(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  return it != object.MemberEnd() && it->value.IsBool() && it->value.GetBool();
}

std::optional<Rect> rect(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd()) return std::nullopt;
  const rapidjson::Value& v = it->value;
  if (!v.IsArray() || v.Size() != 4) return std::nullopt;
  for (const auto& part : v.GetArray())
    if (!part.IsNumber()) return std::nullopt;
  return Rect{v[0].GetDouble(), v[1].GetDouble(), v[2].GetDouble(), v[3].GetDouble()};
}

}  // namespace

std::uint32_t windowNumber(std::string_view uuid) { return saltedNumber(canonicalUuid(uuid), 0); }

std::vector<std::uint32_t> windowNumbers(const std::vector<std::string>& uuids) {
  std::vector<std::string> canonical;
  canonical.reserve(uuids.size());
  for (const auto& u : uuids) canonical.push_back(canonicalUuid(u));
  std::vector<std::size_t> order(uuids.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return canonical[a] < canonical[b]; });
  std::vector<std::uint32_t> numbers(uuids.size());
  std::vector<std::uint32_t> taken;
  for (std::size_t i : order) {
    std::uint32_t salt = 0;
    std::uint32_t n = saltedNumber(canonical[i], salt);
    while (std::find(taken.begin(), taken.end(), n) != taken.end())
      n = saltedNumber(canonical[i], ++salt);
    taken.push_back(n);
    numbers[i] = n;
  }
  return numbers;
}

double outputScale(int modeWidth, int modeHeight, int transform, int logicalWidth,
                   int logicalHeight, int integerScale) {
  if (transform % 2 == 1) std::swap(modeWidth, modeHeight);
  if (modeWidth > 0 && logicalWidth > 0) {
    const double ratio = static_cast<double>(modeWidth) / logicalWidth;
    const double rounded = std::round(ratio * 120) / 120;
    if (rounded > 0) return rounded;
  }
  (void)modeHeight;
  (void)logicalHeight;
  return integerScale > 0 ? integerScale : 1;
}

std::optional<ScriptState> parseState(std::string_view json, sway::OwnerNames& names,
                                      const std::vector<OutputScale>& scales) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseIterativeFlag>(json.data(), json.size());
  if (doc.HasParseError() || !doc.IsObject()) return std::nullopt;
  const rapidjson::Value& root = doc;
  auto screens = root.FindMember("screens");
  auto windows = root.FindMember("w");
  if (screens == root.MemberEnd() || !screens->value.IsArray() || windows == root.MemberEnd() ||
      !windows->value.IsArray())
    return std::nullopt;
  const double desk = number(doc, "desk").value_or(0);
  const std::string active = canonicalUuid(text(doc, "act"));

  ScriptState state;
  CompositorSnapshot& snapshot = state.snapshot;
  // Screens by KWin's index; the main one (at the origin, else the first) leads.
  std::vector<CompositorOutput> byIndex;
  for (const auto& s : screens->value.GetArray()) {
    if (!s.IsArray() || s.Size() != 4 || !s[0].IsNumber() || !s[1].IsNumber() || !s[2].IsNumber() ||
        !s[3].IsNumber())
      return std::nullopt;
    CompositorOutput& o = byIndex.emplace_back();
    o.id = static_cast<DisplayId>(byIndex.size());
    o.bounds = Rect{s[0].GetDouble(), s[1].GetDouble(), s[2].GetDouble(), s[3].GetDouble()};
    state.screens.push_back(o.bounds);
    const auto same = [&](const OutputScale& scale) { return scale.logical == o.bounds; };
    const auto sameOrigin = [&](const OutputScale& scale) {
      return scale.logical.x == o.bounds.x && scale.logical.y == o.bounds.y;
    };
    auto found = std::find_if(scales.begin(), scales.end(), same);
    if (found == scales.end()) found = std::find_if(scales.begin(), scales.end(), sameOrigin);
    if (found != scales.end() && std::isfinite(found->scale) && found->scale > 0)
      o.scale = found->scale;
  }
  Point origin{0, 0};
  if (!byIndex.empty()) {
    auto main = std::find_if(byIndex.begin(), byIndex.end(), [](const CompositorOutput& o) {
      return o.bounds.x == 0 && o.bounds.y == 0;
    });
    if (main == byIndex.end()) main = byIndex.begin();
    origin = Point{main->bounds.x, main->bounds.y};
    snapshot.outputs.push_back(*main);
    for (auto it = byIndex.begin(); it != byIndex.end(); ++it)
      if (it != main) snapshot.outputs.push_back(*it);
    for (CompositorOutput& o : snapshot.outputs) {
      o.bounds.x -= origin.x;
      o.bounds.y -= origin.y;
    }
  }

  struct Listed {
    CompositorWindow window;
    std::string uuid;
    double stacking = 0;
  };
  std::vector<Listed> listed;
  for (const auto& w : windows->value.GetArray()) {
    if (!w.IsObject()) continue;
    std::string uuid = text(w, "id");
    std::string title = text(w, "t");
    auto frame = rect(w, "g");
    if (uuid.empty() || title.empty() || !frame) continue;
    Listed& l = listed.emplace_back();
    l.uuid = std::move(uuid);
    l.stacking = number(w, "o").value_or(0);
    CompositorWindow& cw = l.window;
    if (auto pid = number(w, "pid");
        pid && *pid > 0 && *pid <= std::numeric_limits<std::int32_t>::max())
      cw.pid = static_cast<std::int64_t>(*pid);
    cw.xwayland = flag(w, "x");
    const std::string resourceClass = text(w, "rc");
    const std::string desktopFile = text(w, "df");
    std::optional<std::string> appId;
    if (!cw.xwayland && !desktopFile.empty())
      appId = desktopFile;
    else if (!resourceClass.empty())
      appId = resourceClass;
    std::optional<std::string> windowClass;
    if (!resourceClass.empty()) windowClass = resourceClass;
    cw.ownerName = names.ownerName(cw.xwayland, appId, windowClass, cw.pid);
    if (appId && cw.xwayland) {
      std::transform(appId->begin(), appId->end(), appId->begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    cw.appId = appId;
    cw.title = std::move(title);
    cw.frame = Rect{frame->x - origin.x, frame->y - origin.y, frame->width, frame->height};
    const double screen = number(w, "s").value_or(-1);
    if (screen >= 0 && screen < static_cast<double>(byIndex.size()))
      cw.output = byIndex[static_cast<std::size_t>(screen)].id;
    const double windowDesk = number(w, "d").value_or(0);
    cw.onScreen = !flag(w, "m") && (flag(w, "a") || windowDesk == desk || windowDesk < 0);
  }

  std::vector<std::string> uuids;
  uuids.reserve(listed.size());
  for (const auto& l : listed) uuids.push_back(l.uuid);
  const std::vector<std::uint32_t> numbers = windowNumbers(uuids);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    listed[i].window.id = numbers[i];
    if (!active.empty() && canonicalUuid(listed[i].uuid) == active) snapshot.focused = numbers[i];
  }
  // Front to back: shown windows by stacking order, then hidden ones.
  std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
    if (a.window.onScreen != b.window.onScreen) return a.window.onScreen;
    return a.stacking > b.stacking;
  });
  for (auto& l : listed) {
    state.uuids.push_back(ScriptWindow{l.window.id, l.uuid});
    snapshot.windows.push_back(std::move(l.window));
  }
  return state;
}

namespace {

// The script, its part that makes the state; @OWNER@ becomes this process's unique name as a
// JSON string.
constexpr std::string_view kScriptState = R"JS(
var owner = @OWNER@, path = "/dev/orvane/KWin", iface = "dev.orvane.KWin";
function rect(r) { return [r.x, r.y, r.width, r.height]; }
function listed() {
  var all = workspace.clientList(), out = [];
  for (var i = 0; i < all.length; i++) {
    var c = all[i];
    if (c.specialWindow || c.popupWindow || c.deleted) continue;
    out.push(c);
  }
  return out;
}
// Changed() tells the adapter that its last state is out of date: once, until the next state.
var dirty = true;
function state() {
  dirty = false;
  var desk = workspace.currentDesktop, screens = [], windows = [], all = listed();
  for (var s = 0; s < workspace.numScreens; s++)
    screens.push(rect(workspace.clientArea(KWin.ScreenArea, s, desk)));
  for (var i = 0; i < all.length; i++) {
    var c = all[i];
    windows.push({id: String(c.internalId), pid: c.pid, rc: String(c.resourceClass || ""),
                  df: String(c.desktopFileName || ""), t: String(c.caption || ""),
                  g: rect(c.frameGeometry), m: !!c.minimized, d: c.desktop,
                  a: !!c.onAllDesktops, s: c.screen, o: c.stackingOrder,
                  x: typeof c.windowId === "number" && c.windowId > 0});
  }
  var active = workspace.activeClient;
  return JSON.stringify({desk: desk, act: active ? String(active.internalId) : "",
                         screens: screens, w: windows});
}
)JS";

// The rest for a process that goes on: it serves the adapter's commands (the chain above).
constexpr std::string_view kScriptFollow = R"JS(
function changed() {
  if (dirty) return;
  dirty = true;
  callDBus(owner, path, iface, "Changed");
}
function on(signal) { if (signal && signal.connect) signal.connect(changed); }
function watch(c) {
  on(c.frameGeometryChanged); on(c.captionChanged); on(c.minimizedChanged);
  on(c.desktopChanged); on(c.stackingOrderChanged); on(c.screenChanged);
}
function activate(id) {
  var all = listed();
  for (var i = 0; i < all.length; i++) {
    var c = all[i];
    if (String(c.internalId) !== id) continue;
    if (c.minimized) c.minimized = false;
    if (!c.onAllDesktops && c.desktop > 0 && c.desktop !== workspace.currentDesktop)
      workspace.currentDesktop = c.desktop;
    workspace.activeClient = c;
    var now = workspace.activeClient;
    return !!now && String(now.internalId) === id;
  }
  return false;
}
function next() {
  callDBus(owner, path, iface, "Next", function (command) {
    if (command === "watch") startWatching();
    if (command === "state" || command === "watch") callDBus(owner, path, iface, "State", state());
    else if (command.indexOf("activate ") === 0)
      callDBus(owner, path, iface, "Done", activate(command.substring(9)));
    if (command !== "stop") next();
  });
}
var watching = false;
function startWatching() {
  if (watching) return;
  watching = true;
  var known = workspace.clientList();
  for (var k = 0; k < known.length; k++) watch(known[k]);
  if (workspace.clientAdded) workspace.clientAdded.connect(function (c) { watch(c); changed(); });
  on(workspace.clientRemoved); on(workspace.clientActivated); on(workspace.clientMinimized);
  on(workspace.clientUnminimized); on(workspace.currentDesktopChanged);
  on(workspace.numberScreensChanged); on(workspace.screenResized);
  on(workspace.virtualScreenGeometryChanged);
}
callDBus(owner, path, iface, "State", state());
next();
)JS";

// The rest for a one-shot process: its state, and the script unloads itself (@PLUGIN@ is its
// name as a JSON string). The unload is KWin's own call, queued after the State call.
constexpr std::string_view kScriptOnce = R"JS(
callDBus(owner, path, iface, "State", state());
callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", @PLUGIN@);
)JS";

std::string jsonString(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string scriptSource(std::string_view owner, std::string_view oneShotPluginName) {
  std::string source(kScriptState);
  if (oneShotPluginName.empty()) {
    source += kScriptFollow;
  } else {
    source += kScriptOnce;
    source.replace(source.find("@PLUGIN@"), 8, jsonString(oneShotPluginName));
  }
  source.replace(source.find("@OWNER@"), 7, jsonString(owner));
  return source;
}

// Writes the script where only this user reads it (the runtime directory, else the temporary
// one); false when it could not.
bool writeScriptFile(const std::string& source, std::string& path) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string dir = runtime && *runtime && ::access(runtime, W_OK) == 0 ? runtime : "";
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    dir = tmp && *tmp ? tmp : "/tmp";
  }
  path = dir + "/orvane-kwin-XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    path.clear();
    return false;
  }
  const char* data = source.data();
  std::size_t left = source.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  ::close(fd);
  return true;
}

}  // namespace kwin

}  // namespace orvane
