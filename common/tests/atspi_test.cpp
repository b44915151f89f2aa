// The AT-SPI backend's own pieces: reading a Properties.GetAll reply, and a desktop side that
// gives no accessibility bus.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "accessibility_atspi.hpp"
#include "atspi_properties.hpp"

namespace orvane {
namespace {

struct MessageUnref {
  void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// One a{sv} entry: a text, or an int32 standing for any value of another kind.
struct Property {
  const char* key;
  std::variant<const char*, std::int32_t> value;
};

Message getAllReply(const std::vector<Property>& properties) {
  Message m(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
  DBusMessageIter it, dict, entry, variant;
  dbus_message_iter_init_append(m.get(), &it);
  dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
  for (const auto& p : properties) {
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &p.key);
    if (const auto* text = std::get_if<const char*>(&p.value)) {
      dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant);
      dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, text);
    } else {
      dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "i", &variant);
      dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &std::get<std::int32_t>(p.value));
    }
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&dict, &entry);
  }
  dbus_message_iter_close_container(&it, &dict);
  return m;
}

using Texts = std::pair<std::string, std::string>;

Texts texts(const std::optional<atspi::NameAndDescription>& t) {
  return t ? Texts(t->name, t->description) : Texts("-", "-");
}

TEST(AtspiProperties, NameAndDescriptionAmongTheOtherProperties) {
  auto reply = getAllReply({{"ChildCount", 3},
                            {"Description", "Sends the form"},
                            {"Locale", "en_US"},
                            {"Name", "Send"},
                            {"AccessibleId", ""}});
  EXPECT_EQ(texts(atspi::nameAndDescriptionOf(reply.get())), Texts("Send", "Sends the form"));
  // Empty texts are texts: an element without a name still answers.
  reply = getAllReply({{"Name", ""}, {"Description", ""}});
  EXPECT_EQ(texts(atspi::nameAndDescriptionOf(reply.get())), Texts("", ""));
}

TEST(AtspiProperties, AMissingOrNonTextNameOrDescriptionReadsNothing) {
  for (const auto& properties : std::vector<std::vector<Property>>{
           {{"Name", "Send"}},
           {{"Description", "Sends the form"}, {"ChildCount", 0}},
           {{"Name", 7}, {"Description", "Sends the form"}},
           {{"Name", "Send"}, {"Description", 0}},
           {{"name", "Send"}, {"description", "Sends the form"}},
           {},
       }) {
    auto reply = getAllReply(properties);
    EXPECT_FALSE(atspi::nameAndDescriptionOf(reply.get())) << properties.size();
  }
}

TEST(AtspiProperties, AReplyOfAnotherShapeReadsNothing) {
  EXPECT_FALSE(atspi::nameAndDescriptionOf(nullptr));
  // No arguments at all.
  Message empty(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
  EXPECT_FALSE(atspi::nameAndDescriptionOf(empty.get()));
  // The texts alone, not in a dictionary (an error reply has this shape).
  Message flat(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
  const char* name = "Send";
  const char* description = "Sends the form";
  dbus_message_append_args(flat.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &description,
                           DBUS_TYPE_INVALID);
  EXPECT_FALSE(atspi::nameAndDescriptionOf(flat.get()));
  // A dictionary keyed by something other than names.
  Message numbered(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
  DBusMessageIter it, dict, entry;
  dbus_message_iter_init_append(numbered.get(), &it);
  dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{is}", &dict);
  for (std::int32_t key : {1, 2}) {
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_INT32, &key);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, key == 1 ? &name : &description);
    dbus_message_iter_close_container(&dict, &entry);
  }
  dbus_message_iter_close_container(&it, &dict);
  EXPECT_FALSE(atspi::nameAndDescriptionOf(numbered.get()));
}

TEST(AtspiProperties, ObjectReferencesAndTheNullReference) {
  const auto reference = [](const char* bus, const char* path, int pathType) {
    Message reply(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
    DBusMessageIter it, ref;
    dbus_message_iter_init_append(reply.get(), &it);
    dbus_message_iter_open_container(&it, DBUS_TYPE_STRUCT, nullptr, &ref);
    dbus_message_iter_append_basic(&ref, DBUS_TYPE_STRING, &bus);
    dbus_message_iter_append_basic(&ref, pathType, &path);
    dbus_message_iter_close_container(&it, &ref);
    return reply;
  };
  auto hit = reference(":1.7", "/org/a11y/atspi/accessible/42", DBUS_TYPE_OBJECT_PATH);
  const auto named = atspi::referenceOf(hit.get());
  ASSERT_TRUE(named);
  EXPECT_EQ(named->busName, ":1.7");
  EXPECT_EQ(named->path, "/org/a11y/atspi/accessible/42");
  // Nothing at the point; a path sent as text; no reply.
  auto none = reference(":1.7", "/org/a11y/atspi/null", DBUS_TYPE_OBJECT_PATH);
  EXPECT_FALSE(atspi::referenceOf(none.get()));
  auto text = reference(":1.7", "/org/a11y/atspi/accessible/42", DBUS_TYPE_STRING);
  EXPECT_FALSE(atspi::referenceOf(text.get()));
  EXPECT_FALSE(atspi::referenceOf(nullptr));
}

// libatspi ends the process when it finds no bus, so a desktop without one must never reach it;
// and then there is nothing to look up, so the window server is never made.
class NoAccessibilityBus : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kEnvironment) {
      const char* old = getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      unsetenv(name);
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvane-test-bus", 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }

  AtspiDesktopSide side(bool* windowServerMade) {
    AtspiDesktopSide s;
    s.pixelsToPoints = [](const Rect& r) { return r; };
    s.pointsToPixels = [](Point p) { return p; };
    s.makeWindowServer = [windowServerMade] {
      *windowServerMade = true;
      return std::unique_ptr<WindowServer>();
    };
    return s;
  }

  static void expectNothing(Accessibility& ax) {
    const AXElement app = ax.createApplication(static_cast<std::int32_t>(getpid()));
    const AXElement all = ax.createSystemWide();
    EXPECT_FALSE(ax.copyAttributeValue(app, kAttrRole));
    EXPECT_FALSE(ax.copyAttributeValue(app, kAttrFocusedWindow));
    EXPECT_FALSE(ax.copyAttributeValue(all, kAttrFocusedUIElement));
    EXPECT_FALSE(ax.setAttributeValue(app, kAttrManualAccessibility, true));
    EXPECT_FALSE(ax.copyElementAtPosition(all, 10, 10));
  }

  // Makes a backend whose display publishes an unreachable address, which then reads nothing
  // and never makes its window server; answers how often the address was asked.
  int publishedAddressAsked() {
    bool made = false;
    int asked = 0;
    auto s = side(&made);
    s.publishedBusAddress = [&asked]() -> std::optional<std::string> {
      ++asked;
      return "unix:path=/nonexistent/orvane-test-a11y-bus";
    };
    auto ax = makeAccessibilityAtspi(std::move(s));
    expectNothing(*ax);
    EXPECT_FALSE(made);
    return asked;
  }

 private:
  static constexpr const char* kEnvironment[] = {"DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
                                                 "WAYLAND_DISPLAY"};
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(NoAccessibilityBus, NoDisplayReadsNothing) {
  auto ax = makeAccessibilityAtspi({});
  expectNothing(*ax);
}

TEST_F(NoAccessibilityBus, AnUnreachablePublishedAddressReadsNothing) {
  EXPECT_EQ(publishedAddressAsked(), 1);
}

TEST_F(NoAccessibilityBus, NoPublishedAddressAndNoSessionBusReadsNothing) {
  // A display with no published address at all, and one whose place is empty.
  for (bool publishes : {false, true}) {
    bool made = false;
    auto s = side(&made);
    if (publishes) s.publishedBusAddress = [] { return std::optional<std::string>(""); };
    auto ax = makeAccessibilityAtspi(std::move(s));
    expectNothing(*ax);
    EXPECT_FALSE(made) << publishes;
  }
}

// libatspi takes AT_SPI_BUS_ADDRESS before anything else, and skips the display's address in a
// Wayland session: the probe must not find a bus that libatspi will not use.
TEST_F(NoAccessibilityBus, TheBusIsLookedForInLibatspisOrder) {
  setenv("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/orvane-test-env-bus", 1);
  EXPECT_EQ(publishedAddressAsked(), 0);
  // An empty variable is no address.
  setenv("AT_SPI_BUS_ADDRESS", "", 1);
  EXPECT_EQ(publishedAddressAsked(), 1);
  unsetenv("AT_SPI_BUS_ADDRESS");
  setenv("WAYLAND_DISPLAY", "wayland-orvane-test", 1);
  EXPECT_EQ(publishedAddressAsked(), 0);
}

}  // namespace
}  // namespace orvane
