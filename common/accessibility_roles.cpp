#include "accessibility_roles.hpp"

#include <array>
#include <utility>

#include "accessibility.hpp"

namespace orvane {
namespace {

struct Entry {
  std::string_view atspi;
  AXRoleName ax;
};

// Roles not listed read as AXUnknown. A combo box's text part has the role "text" (GTK) or
// "entry", so it is an AXTextField like any other.
constexpr std::array kRoles = std::to_array<Entry>({
    {"application", {"AXApplication", ""}},
    {"frame", {"AXWindow", ""}},
    {"window", {"AXWindow", ""}},
    {"dialog", {"AXWindow", ""}},
    {"push button", {"AXButton", ""}},
    {"toggle button", {"AXCheckBox", ""}},
    {"check box", {"AXCheckBox", ""}},
    {"radio button", {"AXRadioButton", ""}},
    {"entry", {"AXTextField", ""}},
    {"text", {"AXTextField", ""}},
    {"editbar", {"AXTextField", ""}},
    {"password text", {"AXTextField", "AXSecureTextField"}},
    {"label", {"AXStaticText", ""}},
    {"static", {"AXStaticText", ""}},
    {"link", {"AXLink", ""}},
    {"document web", {"AXWebArea", ""}},
    {"document frame", {"AXWebArea", ""}},
    {"menu bar", {"AXMenuBar", ""}},
    {"menu", {"AXMenu", ""}},
    {"menu item", {"AXMenuItem", ""}},
    {"list", {"AXList", ""}},
    {"list box", {"AXList", ""}},
    {"table", {"AXTable", ""}},
    {"tree table", {"AXTable", ""}},
    {"tree", {"AXOutline", ""}},
    {"table row", {"AXRow", ""}},
    {"table cell", {"AXCell", ""}},
    {"list item", {"AXCell", ""}},
    {"page tab", {"AXRadioButton", "AXTabButton"}},
    {"image", {"AXImage", ""}},
    {"scroll bar", {"AXScrollBar", ""}},
    {"slider", {"AXSlider", ""}},
    {"tool bar", {"AXToolbar", ""}},
    {"panel", {"AXGroup", ""}},
    {"filler", {"AXGroup", ""}},
    {"section", {"AXGroup", ""}},
});

}  // namespace

AXRoleName axRoleForAtspiRole(std::string_view atspiRoleName) {
  for (const auto& entry : kRoles) {
    if (entry.atspi == atspiRoleName) return entry.ax;
  }
  return {"AXUnknown", ""};
}

std::optional<std::string> axRoleAttribute(const AXRoleName& role, std::string_view attribute) {
  if (attribute == kAttrRole) return std::string(role.role);
  if (attribute == kAttrSubrole && !role.subrole.empty()) return std::string(role.subrole);
  return std::nullopt;
}

}  // namespace orvane
