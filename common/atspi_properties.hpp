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

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// What the line of a clicked element needs of it, asked in one go: the three calls are sent
// together and their answers waited for after, so the application answers them back to back
// instead of one round trip each. They go on the application's own connection when libatspi
// has one (the click's element is not ordered against focus events).
struct HitReads {
  std::optional<std::uint32_t> role;  // an AtspiRole
  std::optional<NameAndDescription> texts;
  // Screen pixels; nothing for an object without a component or one GTK has hidden (it
  // answers INT_MIN for the position).
  std::optional<std::array<std::int32_t, 4>> extents;
};
HitReads readHit(AtspiAccessible* object, int timeoutMs);

// An object named in a reply ("(so)"): its application's bus name and its path; nothing for
// the null reference libatspi's applications answer when there is no object.
struct ObjectReference {
  std::string busName;
  std::string path;
};
std::optional<ObjectReference> referenceOf(DBusMessage* reply);

// A descent remembered (a window's frame, then each answer to "the child at the point" down
// to the deepest) checked at a new point with all its questions asked at once, and the
// deepest object's reads with them. Each answer is what a descent asking one question after
// the other would get as long as the answers before it were the objects remembered, so the
// remembered objects that are confirmed are that descent's start.
struct PathCheck {
  bool firstAnswered = false;  // the frame had something at the point
  std::size_t confirmed = 0;   // leading objects of the path that the descent would ask
  // Whether the last confirmed object answered nothing deeper: no child, or one already
  // on the path (Chromium may answer the object asked or an ancestor).
  bool deepest = false;
  HitReads reads;  // of the path's last object, worth something only when all are confirmed
};
// The questions of such a check, sent and not yet waited for: they travel while the caller
// does something else. Dropping them unanswered cancels them.
class PathQuestions {
 public:
  PathQuestions();
  PathQuestions(PathQuestions&&) noexcept;
  PathQuestions& operator=(PathQuestions&&) noexcept;
  ~PathQuestions();
  // Sends them (the path's objects must outlive the questions).
  static PathQuestions ask(const std::vector<AtspiAccessible*>& path, int x, int y, int timeoutMs);
  // Waits for the answers (each question ends by its own timeout at the latest).
  PathCheck answers();

 private:
  struct Sent;
  std::unique_ptr<Sent> sent_;
};
PathCheck checkPath(const std::vector<AtspiAccessible*>& path, int x, int y, int timeoutMs);

// The "Name" and "Description" texts of a reply to Properties.GetAll (an a{sv} dictionary),
// with its "ChildCount"; nothing when the reply is not such a dictionary or either text is
// missing or not text.
std::optional<NameAndDescription> nameAndDescriptionOf(DBusMessage* reply);

}  // namespace orvane::atspi
