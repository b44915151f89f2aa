// The one-shot tools' session bus client: its messages as the bus reads them, what it reads
// back (containers included, as GNOME Shell's GetState answers), and its bus addresses.
#include <gtest/gtest.h>

#include <cstring>

#include "bus_wire.hpp"

namespace orvane::buswire {
namespace {

// Little-endian bytes as a peer writes them.
struct Bytes {
  std::string out;
  void align(std::size_t n) {
    while (out.size() % n) out += '\0';
  }
  void u32(std::uint32_t v) {
    align(4);
    out.append(reinterpret_cast<const char*>(&v), 4);
  }
  void u64(std::uint64_t v) {
    align(8);
    out.append(reinterpret_cast<const char*>(&v), 8);
  }
  void real(double d) {
    std::uint64_t v;
    std::memcpy(&v, &d, 8);
    u64(v);
  }
  void string(const std::string& s) {
    u32(static_cast<std::uint32_t>(s.size()));
    out += s;
    out += '\0';
  }
};

// A reply to `replySerial` with `signature` and `body` (written from offset 0, which the
// header's padding keeps aligned).
std::string reply(std::uint32_t replySerial, const std::string& signature,
                  const std::string& body) {
  Bytes h;
  h.out = std::string("l\2\0\1", 4);
  h.u32(static_cast<std::uint32_t>(body.size()));
  h.u32(7);
  h.u32(0);
  h.out += std::string("\5\1u\0", 4);
  h.u32(replySerial);
  h.align(8);
  h.out += "\x08\x01g";
  h.out += '\0';
  h.out += static_cast<char>(signature.size());
  h.out += signature;
  h.out += '\0';
  const auto fields = static_cast<std::uint32_t>(h.out.size() - 16);
  std::memcpy(h.out.data() + 12, &fields, 4);
  h.align(8);
  return h.out + body;
}

TEST(BusWire, CallsAndRepliesReadBackAndAreMeasuredWhole) {
  const std::string call = methodCall(5, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                      "loadScript", {"/run/x.js", "orvane-1-2"});
  const std::string back = methodReturn(6, 41, ":1.7");
  const std::string stream = call + back;
  // Every prefix of the first message is incomplete; the whole stream starts with it.
  for (std::size_t n = 0; n < call.size(); ++n)
    ASSERT_EQ(messageSize(stream.substr(0, n)), std::optional<std::size_t>(0)) << n;
  ASSERT_EQ(messageSize(stream), call.size());
  ASSERT_EQ(messageSize(back), back.size());

  const auto m = parseMessage(call);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->kind, Kind::call);
  EXPECT_EQ(m->serial, 5u);
  EXPECT_EQ(m->path, "/Scripting");
  EXPECT_EQ(m->interface, "org.kde.kwin.Scripting");
  EXPECT_EQ(m->member, "loadScript");
  EXPECT_EQ(m->signature, "ss");
  ASSERT_EQ(m->arguments.size(), 2u);
  EXPECT_EQ(m->arguments[1].text, "orvane-1-2");

  const auto r = parseMessage(back);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, Kind::reply);
  EXPECT_EQ(r->replySerial, 41u);
  EXPECT_TRUE(r->arguments.empty());
}

TEST(BusWire, ContainersAsGnomeShellAnswers) {
  // ((a(sd) b i a(ux)), with an empty array before a struct that needs its padding.
  Bytes b;
  b.align(8);
  b.u32(24);  // one (sd) from offset 8: "DP-1" (8..17), then its double at 24
  b.align(8);
  b.string("DP-1");
  b.real(1.5);
  b.u32(1);
  b.u32(static_cast<std::uint32_t>(-3));
  b.u32(0);  // an empty a(ux): still padded to its elements' 8
  b.align(8);
  b.u32(0);
  b.align(8);
  const auto m = parseMessage(reply(3, "(a(sd)bia(ux)a(ux))", b.out));
  ASSERT_TRUE(m);
  ASSERT_EQ(m->arguments.size(), 1u);
  const auto& body = m->arguments[0].items;
  ASSERT_EQ(body.size(), 5u);
  ASSERT_EQ(body[0].items.size(), 1u);
  EXPECT_EQ(body[0].items[0].items[0].text, "DP-1");
  EXPECT_EQ(body[0].items[0].items[1].real, 1.5);
  EXPECT_EQ(body[1].number, 1);
  EXPECT_EQ(body[2].number, -3);
  EXPECT_TRUE(body[3].items.empty());
  EXPECT_TRUE(body[4].items.empty());
}

TEST(BusWire, MalformedInputIsRefusedNotOverread) {
  Bytes s;
  s.string("abc");
  std::string noNul = s.out;
  noNul.back() = 'x';
  Bytes longArray;
  longArray.u32(1000);
  const std::string good = reply(1, "s", s.out);
  EXPECT_TRUE(parseMessage(good));
  EXPECT_FALSE(parseMessage(reply(1, "s", noNul)));
  EXPECT_FALSE(parseMessage(reply(1, "s", s.out.substr(0, 5))));
  EXPECT_FALSE(parseMessage(reply(1, "au", longArray.out)));
  EXPECT_FALSE(parseMessage(reply(1, "(s", s.out)));                // an unclosed struct
  EXPECT_FALSE(parseMessage(reply(1, "h", std::string(4, '\0'))));  // no descriptors here
  // Elements that take no bytes would be read without end.
  Bytes eight;
  eight.u32(8);
  eight.u64(0);
  EXPECT_FALSE(parseMessage(reply(1, "a()", eight.out)));
  EXPECT_FALSE(parseMessage(reply(1, "a{}", eight.out)));
  // A byte costs a whole value as read: a message of too many is refused, not read into
  // eighty times its size.
  Bytes bytes;
  bytes.u32((1u << 18) + 1);
  bytes.out.resize(bytes.out.size() + (1u << 18) + 1);
  EXPECT_FALSE(parseMessage(reply(1, "ay", bytes.out)));
  EXPECT_FALSE(messageSize("X" + good.substr(1)));
  // A length that claims more than the bus allows.
  std::string huge = good;
  huge[7] = '\x7f';
  EXPECT_FALSE(messageSize(huge));
}

TEST(BusWire, SocketsOfAddresses) {
  EXPECT_EQ(socketOf("unix:path=/run/user/1000/bus"), "/run/user/1000/bus");
  EXPECT_EQ(socketOf("tcp:host=x,port=1;unix:abstract=/tmp/dbus-%41b,guid=12"),
            std::string("\0/tmp/dbus-Ab", 13));
  EXPECT_EQ(socketOf("unix:guid=1,path=/a%2cb"), "/a,b");
  EXPECT_FALSE(socketOf("tcp:host=localhost,port=4000"));
  EXPECT_FALSE(socketOf("unix:path=/a%4"));
}

}  // namespace
}  // namespace orvane::buswire
