#include "atspi_properties.hpp"

#include <memory>
#include <string_view>

namespace orvane::atspi {
namespace {

struct MessageUnref {
  void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

}  // namespace

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
