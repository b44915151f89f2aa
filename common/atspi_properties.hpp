// The one place that looks inside libatspi's objects and calls an application over D-Bus
// itself. Never included by a seam header.
//
// Why: the focused element's name and description are read on every click and key. Public
// libatspi reads them in two calls (atspi_accessible_get_name, _get_description), and answers
// either from its cache without a call when the application keeps one, which would not show
// whether the object still exists. One Properties.GetAll of the Accessible interface answers
// both in a single round trip and fails for an object that is gone. libatspi has no public way
// to make that call or to name the object's bus and path, so they are read from its AtspiObject
// (bus name, object path) and AtspiApplication (the application's own connection, which
// libatspi opens straight to the application when it can), and the call goes through that same
// connection with libdbus, as libatspi's own calls do.
#pragma once

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orvane::atspi {

struct NameAndDescription {
  std::string name;
  std::string description;
  // The "ChildCount" of the same answer; -1 when it had none.
  std::int32_t childCount = -1;
};

// The accessible name and description of an object in one call that waits at most timeoutMs;
// nothing when the object cannot be called, the call fails, or the answer lacks either.
std::optional<NameAndDescription> readNameAndDescription(AtspiAccessible* object, int timeoutMs);

// The "Name" and "Description" texts of a reply to Properties.GetAll (an a{sv} dictionary),
// with its "ChildCount"; nothing when the reply is not such a dictionary or either text is
// missing or not text.
std::optional<NameAndDescription> nameAndDescriptionOf(DBusMessage* reply);

}  // namespace orvane::atspi
