// The one table that names AT-SPI 2 roles in the accessibility vocabulary of macOS. Keyed by
// the AT-SPI role name (atspi_role_get_name: "push button", "document web", ...), so that it
// is portable and tested everywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvane {

struct AXRoleName {
  std::string_view role;     // "AXButton", ...; "AXUnknown" for a role the table lacks
  std::string_view subrole;  // empty when the element has no subrole
};

AXRoleName axRoleForAtspiRole(std::string_view atspiRoleName);

// The AXRole or AXSubrole attribute of an element with this role; nothing for the subrole of a
// role that has none, and for any other attribute.
std::optional<std::string> axRoleAttribute(const AXRoleName& role, std::string_view attribute);

}  // namespace orvane
