// A small session bus client of our own, single-threaded, for a tool that asks a few questions
// and ends: it costs a fraction of GIO's start (no worker thread, no type system) and writes
// everything it has at once. Unix sockets, EXTERNAL authentication and the argument types its
// callers use only; where the session needs more (another transport or mechanism), open()
// fails and the caller finds no compositor on the bus, as in a session without one. Every
// wait has a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::buswire {

enum class Kind : std::uint8_t { call = 1, reply = 2, error = 3, signal = 4 };

// One value as read: strings (s, o, g) in `text`; integers and booleans in `number`; doubles
// in `real`; an array's elements, a struct's or dict entry's fields and a variant's value in
// `items`.
struct Value {
  char type = 0;  // its type code: 's', 'u', 'a', '(' for a struct, '{', 'v', ...
  std::string text;
  std::int64_t number = 0;
  double real = 0;
  std::vector<Value> items;
};

// One message as read: the header fields a caller looks at, and its arguments.
struct Message {
  Kind kind = Kind::call;
  std::uint32_t serial = 0;
  std::uint32_t replySerial = 0;  // 0 when none
  std::string path, interface, member, errorName, sender, signature;
  std::vector<Value> arguments;
};

// A method call (flags: no auto-start, and no reply when `noReply`) with string arguments.
std::string methodCall(std::uint32_t serial, std::string_view destination, std::string_view path,
                       std::string_view interface, std::string_view member,
                       const std::vector<std::string>& arguments, bool noReply = false);

// The empty reply to the call `replySerial` from `destination`, no reply expected.
std::string methodReturn(std::uint32_t serial, std::uint32_t replySerial,
                         std::string_view destination);

// How many bytes the first message in `data` takes: 0 while it is incomplete, nothing when
// `data` cannot begin a message.
std::optional<std::size_t> messageSize(std::string_view data);

// The message of exactly `data` (as messageSize() measured it); nothing when it is malformed
// (unix file descriptors count as such: nobody sends us any) or holds more than 2^18 values
// (read, each takes more memory than its bytes did).
std::optional<Message> parseMessage(std::string_view data);

// The socket of the first unix: entry of a bus address ("unix:path=..." or
// "unix:abstract=...", values %-escaped); nothing when it has none. An abstract name starts
// with a NUL byte.
std::optional<std::string> socketOf(std::string_view address);

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Connects to the bus at `address`, authenticates and says Hello, and sends `first`
  // (messages numbered from 2, see nextSerial()) with the Hello in the same write; waits for
  // Hello's reply only. False when the address is not one of ours (see socketOf()), or the bus
  // refused us or did not answer by the deadline.
  bool open(std::string_view address, const std::vector<std::string>& first,
            std::chrono::steady_clock::time_point deadline);

  const std::string& uniqueName() const { return uniqueName_; }
  std::uint32_t nextSerial() { return serial_++; }

  // Writes everything at once; false when the bus is gone or the deadline passed first.
  bool send(std::string_view bytes, std::chrono::steady_clock::time_point deadline);

  // The next message, in the order the bus sent them; nothing when the deadline passed, the
  // bus is gone, or it sent something malformed (then nothing more is read).
  std::optional<Message> receive(std::chrono::steady_clock::time_point deadline);

 private:
  bool fill(std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  bool broken_ = false;
  std::string in_;
  std::string uniqueName_;
  std::uint32_t serial_ = 1;
};

}  // namespace orvane::buswire
