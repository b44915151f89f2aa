#include "atspi_properties.hpp"

#include <climits>
#include <memory>
#include <string_view>

namespace orvane::atspi {
namespace {

struct MessageUnref {
  void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

struct PendingUnref {
  void operator()(DBusPendingCall* p) const {
    dbus_pending_call_cancel(p);
    dbus_pending_call_unref(p);
  }
};
using Pending = std::unique_ptr<DBusPendingCall, PendingUnref>;

// Sends a call without waiting for its answer; nothing when it cannot be sent.
Pending sendCall(DBusConnection* bus, const AtspiObject* o, const char* iface, const char* method,
                 int firstType, const void* first, int timeoutMs) {
  Message call(dbus_message_new_method_call(o->app->bus_name, o->path, iface, method));
  if (!call) return {};
  if (firstType != DBUS_TYPE_INVALID &&
      !dbus_message_append_args(call.get(), firstType, first, DBUS_TYPE_INVALID)) {
    return {};
  }
  DBusPendingCall* pending = nullptr;
  if (!dbus_connection_send_with_reply(bus, call.get(), &pending, timeoutMs) || !pending) {
    return {};
  }
  return Pending(pending);
}

// The answer to a call sent; nothing for an error or a call not sent.
Message answer(const Pending& pending) {
  if (!pending) return {};
  dbus_pending_call_block(pending.get());
  Message reply(dbus_pending_call_steal_reply(pending.get()));
  if (!reply || dbus_message_get_type(reply.get()) != DBUS_MESSAGE_TYPE_METHOD_RETURN) return {};
  return reply;
}

struct Reads {
  Pending role, texts, extents;
};

Reads sendReads(DBusConnection* bus, const AtspiObject* o, int timeoutMs) {
  const char* accessible = "org.a11y.atspi.Accessible";
  const dbus_uint32_t screen = ATSPI_COORD_TYPE_SCREEN;
  Reads out;
  out.role = sendCall(bus, o, accessible, "GetRole", DBUS_TYPE_INVALID, nullptr, timeoutMs);
  out.texts = sendCall(bus, o, "org.freedesktop.DBus.Properties", "GetAll", DBUS_TYPE_STRING,
                       &accessible, timeoutMs);
  out.extents = sendCall(bus, o, "org.a11y.atspi.Component", "GetExtents", DBUS_TYPE_UINT32,
                         &screen, timeoutMs);
  return out;
}

HitReads readAnswers(const Reads& sent) {
  HitReads out;
  if (Message reply = answer(sent.role)) {
    dbus_uint32_t value = 0;
    if (dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID) &&
        value != ATSPI_ROLE_INVALID) {
      out.role = value;
    }
  }
  if (Message reply = answer(sent.texts)) out.texts = nameAndDescriptionOf(reply.get());
  if (Message reply = answer(sent.extents)) {
    DBusMessageIter it, rect;
    std::array<std::int32_t, 4> r{};
    bool ok = dbus_message_iter_init(reply.get(), &it) &&
              dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_STRUCT;
    if (ok) dbus_message_iter_recurse(&it, &rect);
    for (std::size_t i = 0; ok && i < r.size(); ++i) {
      ok = dbus_message_iter_get_arg_type(&rect) == DBUS_TYPE_INT32;
      if (ok) {
        dbus_message_iter_get_basic(&rect, &r[i]);
        dbus_message_iter_next(&rect);
      }
    }
    if (ok && r[0] != INT_MIN && r[1] != INT_MIN && r[2] >= 0 && r[3] >= 0) out.extents = r;
  }
  return out;
}

// Whether the (bus name, path) of a reference names the object.
bool names(const ObjectReference& ref, const AtspiObject* o) {
  return o->app && o->app->bus_name && o->path && ref.busName == o->app->bus_name &&
         ref.path == o->path;
}

// The connection libatspi calls an object's application on: its own when it has one.
DBusConnection* connectionOf(const AtspiObject* o) {
  return o->app->bus ? o->app->bus : atspi_get_a11y_bus();
}

bool callable(const AtspiObject* o) { return o->app && o->app->bus_name && o->path; }

}  // namespace

std::optional<ObjectReference> referenceOf(DBusMessage* reply) {
  if (!reply) return std::nullopt;
  DBusMessageIter it, ref;
  if (!dbus_message_iter_init(reply, &it) ||
      dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_STRUCT) {
    return std::nullopt;
  }
  dbus_message_iter_recurse(&it, &ref);
  const char* bus = nullptr;
  const char* path = nullptr;
  if (dbus_message_iter_get_arg_type(&ref) != DBUS_TYPE_STRING) return std::nullopt;
  dbus_message_iter_get_basic(&ref, &bus);
  if (!dbus_message_iter_next(&ref) ||
      dbus_message_iter_get_arg_type(&ref) != DBUS_TYPE_OBJECT_PATH) {
    return std::nullopt;
  }
  dbus_message_iter_get_basic(&ref, &path);
  if (!bus || !path || std::string_view(path) == "/org/a11y/atspi/null") return std::nullopt;
  return ObjectReference{bus, path};
}

struct PathQuestions::Sent {
  std::vector<AtspiAccessible*> path;
  std::vector<Pending> atPoint;
  Reads reads;
};

PathQuestions::PathQuestions() = default;
PathQuestions::PathQuestions(PathQuestions&&) noexcept = default;
PathQuestions& PathQuestions::operator=(PathQuestions&&) noexcept = default;
PathQuestions::~PathQuestions() = default;

PathQuestions PathQuestions::ask(const std::vector<AtspiAccessible*>& path, int x, int y,
                                 int timeoutMs) {
  PathQuestions out;
  if (path.empty()) return out;
  for (AtspiAccessible* object : path) {
    if (!object || !callable(ATSPI_OBJECT(object))) return out;
  }
  auto sent = std::make_unique<Sent>();
  sent->path = path;
  sent->atPoint.reserve(path.size());
  const dbus_int32_t px = x, py = y;
  const dbus_uint32_t screen = ATSPI_COORD_TYPE_SCREEN;
  for (AtspiAccessible* object : path) {
    const AtspiObject* o = ATSPI_OBJECT(object);
    Message call(dbus_message_new_method_call(o->app->bus_name, o->path, "org.a11y.atspi.Component",
                                              "GetAccessibleAtPoint"));
    DBusPendingCall* pending = nullptr;
    if (!call ||
        !dbus_message_append_args(call.get(), DBUS_TYPE_INT32, &px, DBUS_TYPE_INT32, &py,
                                  DBUS_TYPE_UINT32, &screen, DBUS_TYPE_INVALID) ||
        !dbus_connection_send_with_reply(connectionOf(o), call.get(), &pending, timeoutMs) ||
        !pending) {
      break;  // the questions sent so far are still checked
    }
    sent->atPoint.emplace_back(pending);
  }
  if (sent->atPoint.size() == path.size()) {
    const AtspiObject* last = ATSPI_OBJECT(path.back());
    sent->reads = sendReads(connectionOf(last), last, timeoutMs);
  }
  for (AtspiAccessible* object : {path.front(), path.back()}) {
    if (DBusConnection* bus = connectionOf(ATSPI_OBJECT(object))) dbus_connection_flush(bus);
  }
  out.sent_ = std::move(sent);
  return out;
}

PathCheck PathQuestions::answers() {
  PathCheck out;
  if (!sent_) return out;
  const auto& path = sent_->path;
  for (std::size_t i = 0; i < sent_->atPoint.size(); ++i) {
    Message reply = answer(sent_->atPoint[i]);
    const auto child = referenceOf(reply.get());
    if (i == 0 && !child) break;
    out.firstAnswered = true;
    out.confirmed = i + 1;
    if (!child) {
      out.deepest = true;
      break;
    }
    if (i + 1 < path.size() && names(*child, ATSPI_OBJECT(path[i + 1]))) continue;
    for (std::size_t j = 0; j <= i; ++j) {
      if (names(*child, ATSPI_OBJECT(path[j]))) out.deepest = true;
    }
    break;  // a new object: the descent goes on from path[i] asking one question at a time
  }
  if (out.deepest && out.confirmed == path.size()) out.reads = readAnswers(sent_->reads);
  sent_.reset();
  return out;
}

PathCheck checkPath(const std::vector<AtspiAccessible*>& path, int x, int y, int timeoutMs) {
  return PathQuestions::ask(path, x, y, timeoutMs).answers();
}

HitReads readHit(AtspiAccessible* object, int timeoutMs) {
  if (!object || !callable(ATSPI_OBJECT(object))) return {};
  const AtspiObject* o = ATSPI_OBJECT(object);
  DBusConnection* bus = connectionOf(o);
  if (!bus) return {};
  const Reads sent = sendReads(bus, o, timeoutMs);
  dbus_connection_flush(bus);
  return readAnswers(sent);
}

std::optional<NameAndDescription> nameAndDescriptionOf(DBusMessage* reply) {
  if (!reply) return std::nullopt;
  std::optional<std::string> name, description;
  std::int32_t childCount = -1;
  DBusMessageIter it, dict;
  if (!dbus_message_iter_init(reply, &it) ||
      dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY) {
    return std::nullopt;
  }
  dbus_message_iter_recurse(&it, &dict);
  while (dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY) {
    DBusMessageIter entry, variant;
    dbus_message_iter_recurse(&dict, &entry);
    const char* key = nullptr;
    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) {
      dbus_message_iter_get_basic(&entry, &key);
    }
    if (key && dbus_message_iter_next(&entry) &&
        dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) {
      dbus_message_iter_recurse(&entry, &variant);
      if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_STRING) {
        const char* text = nullptr;
        dbus_message_iter_get_basic(&variant, &text);
        if (std::string_view(key) == "Name") name = text ? text : "";
        if (std::string_view(key) == "Description") description = text ? text : "";
      } else if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT32 &&
                 std::string_view(key) == "ChildCount") {
        dbus_int32_t count = -1;
        dbus_message_iter_get_basic(&variant, &count);
        childCount = count < 0 ? -1 : count;
      }
    }
    dbus_message_iter_next(&dict);
  }
  if (!name || !description) return std::nullopt;
  return NameAndDescription{std::move(*name), std::move(*description), childCount};
}

std::optional<NameAndDescription> readNameAndDescription(AtspiAccessible* object, int timeoutMs) {
  if (!object) return std::nullopt;
  const AtspiObject* o = ATSPI_OBJECT(object);
  if (!o->app || !o->app->bus_name || !o->path) return std::nullopt;
  // Through the accessibility bus even where the application has a connection of its own: the
  // answer then comes after every event the application sent before it, on the connection
  // those events come on, so a reader that handles them next sees any focus change that the
  // answer may already reflect.
  DBusConnection* bus = atspi_get_a11y_bus();
  if (!bus) return std::nullopt;
  Message call(dbus_message_new_method_call(o->app->bus_name, o->path,
                                            "org.freedesktop.DBus.Properties", "GetAll"));
  if (!call) return std::nullopt;
  const char* iface = "org.a11y.atspi.Accessible";
  if (!dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &iface, DBUS_TYPE_INVALID)) {
    return std::nullopt;
  }
  DBusError error;
  dbus_error_init(&error);
  Message reply(dbus_connection_send_with_reply_and_block(bus, call.get(), timeoutMs, &error));
  dbus_error_free(&error);
  return nameAndDescriptionOf(reply.get());
}

}  // namespace orvane::atspi
