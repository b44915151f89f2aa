#include "sway_ipc.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

namespace orvane::sway {
namespace {

using namespace std::chrono_literals;

TEST(SwayFraming, HeaderRoundTripsAndRejectsGarbage) {
  const std::string bytes = encodeMessage(4, "{}");
  ASSERT_EQ(bytes.size(), kHeaderSize + 2);
  EXPECT_EQ(bytes.substr(0, 6), "i3-ipc");
  auto h = decodeHeader(bytes);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->length, 2u);
  EXPECT_EQ(h->type, 4u);
  EXPECT_FALSE(decodeHeader("i3-ip"));
  EXPECT_FALSE(decodeHeader("i4-ipc" + bytes.substr(6)));
  // A length beyond what sway ever sends means a broken stream, not an allocation.
  std::string huge = encodeMessage(4, "");
  const std::uint32_t big = kMaxPayload + 1;
  std::memcpy(huge.data() + 6, &big, 4);
  EXPECT_FALSE(decodeHeader(huge));
}

// A one-connection server on a socket in a temporary directory, running `serve` with the
// accepted descriptor on its own thread.
class FakeSway {
 public:
  explicit FakeSway(std::function<void(int)> serve, bool accepting = true) {
    dir_ = std::filesystem::temp_directory_path() /
           ("orvane-sway-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "ipc.sock").string();
    listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, accepting ? 4 : 0), 0);
    if (!accepting) return;
    thread_ = std::thread([this, serve] {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      serve(fd);
      ::close(fd);
    });
  }
  ~FakeSway() {
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
    std::filesystem::remove_all(dir_);
  }
  const std::string& path() const { return path_; }

  static Message readRequest(int fd) {
    char header[kHeaderSize];
    Message m;
    if (::recv(fd, header, sizeof header, MSG_WAITALL) != static_cast<ssize_t>(kHeaderSize))
      return m;
    auto h = decodeHeader(std::string_view(header, sizeof header));
    if (!h) return m;
    m.type = h->type;
    m.payload.resize(h->length);
    if (h->length) ::recv(fd, m.payload.data(), h->length, MSG_WAITALL);
    return m;
  }
  static void send(int fd, std::uint32_t type, std::string_view payload) {
    const auto bytes = encodeMessage(type, payload);
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  std::string path_;
  int listener_ = -1;
  std::thread thread_;
};

TEST(SwayConnection, RepliesComeBackAndEventsInBetweenAreKept) {
  FakeSway sway([](int fd) {
    auto m = FakeSway::readRequest(fd);
    EXPECT_EQ(m.type, 2u);
    EXPECT_EQ(m.payload, R"(["window","output"])");
    FakeSway::send(fd, 2, R"({"success":true})");
    m = FakeSway::readRequest(fd);
    EXPECT_EQ(m.type, 4u);
    // An event may come before the reply it interleaves with.
    FakeSway::send(fd, kWindowEvent, R"({"change":"close"})");
    FakeSway::send(fd, 4, R"({"id":1,"type":"root"})");
    // A reply far larger than one read, in pieces: read whole.
    FakeSway::readRequest(fd);
    FakeSway::send(fd, 4, std::string(3 << 20, 'x'));
    // Several messages in one piece: each is taken whole, none is lost or cut.
    FakeSway::readRequest(fd);
    const std::string burst = encodeMessage(kOutputEvent, "{}") + encodeMessage(0, "[]") +
                              encodeMessage(kWindowEvent, R"({"change":"new"})");
    ::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL);
    FakeSway::readRequest(fd);  // until the client hangs up
  });
  Connection c(sway.path());
  ASSERT_TRUE(c.ok());
  EXPECT_TRUE(c.subscribe({"window", "output"}));
  auto tree = c.request(MessageType::getTree);
  ASSERT_TRUE(tree);
  EXPECT_EQ(*tree, R"({"id":1,"type":"root"})");
  auto event = c.takeEvent();
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, kWindowEvent);
  EXPECT_EQ(eventChange(event->payload), "close");
  EXPECT_FALSE(c.takeEvent());
  EXPECT_EQ(c.request(MessageType::getTree), std::string(3 << 20, 'x'));
  EXPECT_EQ(c.request(MessageType::runCommand, "nop"), "[]");
  EXPECT_EQ(c.takeEvent()->type, kOutputEvent);
  auto late = c.takeEvent(std::chrono::milliseconds(1000));
  ASSERT_TRUE(late);
  EXPECT_EQ(eventChange(late->payload), "new");
  EXPECT_FALSE(c.takeEvent());
  EXPECT_TRUE(c.ok());
}

TEST(SwayConnection, BrokenPeersGiveNothingWithinTheTimeout) {
  {  // No socket at all.
    Connection c("/nonexistent/orvane/ipc.sock");
    EXPECT_FALSE(c.ok());
    EXPECT_FALSE(c.request(MessageType::getTree));
    EXPECT_FALSE(c.takeEvent(10ms));
  }
  {  // A peer that never answers: the request gives up at its timeout.
    FakeSway sway([](int fd) {
      FakeSway::readRequest(fd);
      std::this_thread::sleep_for(1500ms);
    });
    Connection c(sway.path());
    ASSERT_TRUE(c.ok());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.request(MessageType::getTree, {}, 200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1400ms);
    EXPECT_FALSE(c.ok());
    EXPECT_TRUE(c.stalled());
  }
  {  // A header announcing 64 MiB, then silence: nothing is allocated ahead of the bytes.
    FakeSway sway([](int fd) {
      FakeSway::readRequest(fd);
      auto header = encodeMessage(4, "");
      const std::uint32_t length = kMaxPayload;
      std::memcpy(header.data() + 6, &length, 4);
      ::send(fd, header.data(), header.size(), MSG_NOSIGNAL);
      std::this_thread::sleep_for(1500ms);
    });
    Connection c(sway.path());
    std::string reply;
    EXPECT_FALSE(c.request(MessageType::getTree, {}, reply, 200ms));
    EXPECT_LT(reply.capacity(), 1u << 20);
    EXPECT_TRUE(c.stalled());
  }
  {  // A listener that takes no connection and whose queue is full (a stopped compositor):
     // an unconnected socket is writable at once, which is no connection.
    FakeSway sway([](int) {}, /*accepting=*/false);
    std::vector<int> queued;
    for (bool stalled = false;;) {
      const int fd = connectUnixSocket(sway.path(), 0ms, stalled);
      if (fd < 0) break;
      queued.push_back(fd);
    }
    const auto start = std::chrono::steady_clock::now();
    Connection c(sway.path(), 200ms);
    EXPECT_FALSE(c.ok());
    EXPECT_TRUE(c.stalled());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1400ms);
    for (int fd : queued) ::close(fd);
  }
  {  // Wrong magic, a reply of another type, a peer that hangs up mid-message.
    for (int variant = 0; variant < 3; ++variant) {
      FakeSway sway([variant](int fd) {
        FakeSway::readRequest(fd);
        if (variant == 0) ::send(fd, "xx-ipc\0\0\0\0\4\0\0\0", kHeaderSize, MSG_NOSIGNAL);
        if (variant == 1) FakeSway::send(fd, 3, "[]");
        if (variant == 2) {
          auto bytes = encodeMessage(4, R"({"id":1})");
          ::send(fd, bytes.data(), bytes.size() - 3, MSG_NOSIGNAL);
        }
      });
      Connection c(sway.path());
      ASSERT_TRUE(c.ok());
      EXPECT_FALSE(c.request(MessageType::getTree)) << variant;
      EXPECT_FALSE(c.ok()) << variant;
      // Once broken, it stays broken rather than reading a stream out of step.
      EXPECT_FALSE(c.request(MessageType::getTree)) << variant;
    }
  }
}

TEST(SwayReplies, CommandSuccessesAndQuoting) {
  EXPECT_EQ(parseSuccesses(R"([{"success":true},{"success":false,"error":"x"}])"),
            (std::vector<bool>{true, false}));
  EXPECT_EQ(parseSuccesses(R"({"success":true})"), (std::vector<bool>{true}));
  EXPECT_FALSE(parseSuccesses("not json"));
  EXPECT_FALSE(parseSuccesses("[]"));
  EXPECT_EQ(quoted(R"(a "b" \c)"), R"("a \"b\" \\c")");
}

TEST(SwayReplies, NamesAreCutAfterTheirCharacterLimit) {
  EXPECT_EQ(boundedText("short \xff"), "short \uFFFD");
  // Two-byte characters: the cut counts characters, not bytes, and never splits one.
  std::string accents;
  for (std::size_t i = 0; i < kMaxTextCharacters + 10; ++i) accents += "\u00e9";
  EXPECT_EQ(boundedText(accents), accents.substr(0, 2 * kMaxTextCharacters));
  const auto tree = parseTree(R"({"id":1,"name":")" + std::string(1 << 20, 'n') + R"("})");
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->name, std::string(kMaxTextCharacters, 'n'));
}

}  // namespace
}  // namespace orvane::sway
