// A client of sway's IPC (the i3 IPC protocol): framing, one connection with timeouts, and
// the parts of its JSON replies the tools use, as small portable structs.
//
// A message is the magic "i3-ipc", the payload length and the message type (both uint32 in
// the host's byte order), then the payload. Replies carry the request's type; events carry
// their type with the high bit set and may arrive between a request and its reply on a
// subscribed connection. A broken, silent or absent socket gives absent values: no call
// blocks longer than its timeout, none throws.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::sway {

enum class MessageType : std::uint32_t {
  runCommand = 0,
  getWorkspaces = 1,
  subscribe = 2,
  getOutputs = 3,
  getTree = 4,
};

inline constexpr std::uint32_t kEventBit = 0x80000000u;
// Events, as their type reads on the wire (with kEventBit).
inline constexpr std::uint32_t kWorkspaceEvent = kEventBit | 0;
inline constexpr std::uint32_t kOutputEvent = kEventBit | 1;
inline constexpr std::uint32_t kWindowEvent = kEventBit | 3;

inline constexpr std::string_view kMagic = "i3-ipc";
inline constexpr std::size_t kHeaderSize = 14;
// Larger payloads are taken for a broken stream: a tree of thousands of windows is a few
// megabytes. Smaller ones are not allocated ahead either, only as their bytes arrive.
inline constexpr std::uint32_t kMaxPayload = 64u << 20;

struct Message {
  std::uint32_t type = 0;
  std::string payload;
};

// The bytes of one message.
std::string encodeMessage(std::uint32_t type, std::string_view payload);

struct Header {
  std::uint32_t length = 0;
  std::uint32_t type = 0;
};
// Reads a header from its first kHeaderSize bytes; nothing when the magic is wrong or the
// length is beyond kMaxPayload.
std::optional<Header> decodeHeader(std::string_view bytes);

using Milliseconds = std::chrono::milliseconds;
inline constexpr Milliseconds kDefaultTimeout{2000};

// A non-blocking stream socket connected to the Unix socket at `path` within `timeout`, or -1
// (`stalled` when a listener was there but did not take the connection in time).
int connectUnixSocket(const std::string& path, Milliseconds timeout, bool& stalled);

// One connection to the IPC socket. Once a read or write fails or times out mid-message the
// stream can no longer be trusted: the connection is then broken for good.
class Connection {
 public:
  // Connects within `timeout`, never blocking past it; a connection that is not ok() otherwise
  // (stalled() when the socket's listener did not take it in time).
  explicit Connection(const std::string& socketPath, Milliseconds timeout = kDefaultTimeout);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Whether a deadline has passed with the peer silent: a compositor that stopped answering,
  // as opposed to one that refused or closed the connection.
  bool stalled() const { return stalled_; }

  // Sends a request and returns the payload of its reply. Events read meanwhile are kept for
  // takeEvent().
  std::optional<std::string> request(MessageType type, std::string_view payload = {},
                                     Milliseconds timeout = kDefaultTimeout);
  // The same, the reply read into `reply` (whose memory is reused); false when none came.
  bool request(MessageType type, std::string_view payload, std::string& reply,
               Milliseconds timeout = kDefaultTimeout);

  // SUBSCRIBE to event names (e.g. "window", "output", "workspace"); true when sway agreed.
  bool subscribe(const std::vector<std::string>& events, Milliseconds timeout = kDefaultTimeout);

  // The next event: one already read, else one read from the socket within `timeout`
  // (zero: only what has already arrived). Nothing when none came or the connection broke.
  std::optional<Message> takeEvent(Milliseconds timeout = Milliseconds(0));

 private:
  std::optional<Message> readMessage(std::chrono::steady_clock::time_point deadline);
  bool readMessageInto(std::uint32_t& type, std::string& payload,
                       std::chrono::steady_clock::time_point deadline);
  bool readExactly(char* out, std::size_t size, std::chrono::steady_clock::time_point deadline);
  bool readPayload(std::string& payload, std::size_t length,
                   std::chrono::steady_clock::time_point deadline);
  bool writeAll(std::string_view bytes, std::chrono::steady_clock::time_point deadline);
  // Waits for `events` on the socket; a deadline that passes marks the connection stalled.
  bool await(short events, std::chrono::steady_clock::time_point deadline);
  void breakConnection();

  int fd_ = -1;
  bool stalled_ = false;
  std::deque<Message> events_;
  // Bytes received and not yet taken: in_[inBegin_, inEnd_).
  std::vector<char> in_;
  std::size_t inBegin_ = 0;
  std::size_t inEnd_ = 0;
};

// ---- the JSON replies ----

struct SwayRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const SwayRect&) const = default;
};

// A node of get_tree: root, output, workspace, con or floating_con. Fields absent from the
// JSON keep their defaults; `view` tells a container that shows a client (it has a pid or a
// shell), as opposed to a split container.
struct SwayNode {
  std::int64_t id = 0;
  std::string type;
  std::string name;
  std::optional<std::string> appId;
  std::optional<std::string> shell;        // "xdg_shell", "xwayland"
  std::optional<std::string> windowClass;  // window_properties.class (XWayland)
  std::optional<std::int64_t> pid;
  SwayRect rect;
  SwayRect decoRect;
  std::optional<bool> visible;
  bool focused = false;
  std::int64_t fullscreenMode = 0;
  std::vector<std::int64_t> focus;
  // Outputs.
  bool active = false;
  double scale = 1;
  std::string make, model, serial;
  std::vector<SwayNode> nodes;
  std::vector<SwayNode> floatingNodes;

  bool view() const { return pid.has_value() || shell.has_value(); }
};

// An entry of get_outputs.
struct SwayOutput {
  std::string name;
  std::string make, model, serial;
  bool active = false;
  double scale = 1;
  SwayRect rect;
};

// Nothing when the text is not JSON of the expected shape. Nesting deeper than kMaxDepth is
// cut there (its nodes are left out), so that a hostile tree cannot exhaust the stack.
inline constexpr int kMaxDepth = 64;
std::optional<SwayNode> parseTree(std::string_view json);
std::optional<std::vector<SwayOutput>> parseOutputs(std::string_view json);
// The "success" of each command of a RUN_COMMAND or SUBSCRIBE reply; nothing when unreadable.
std::optional<std::vector<bool>> parseSuccesses(std::string_view json);
// The "change" of an event's payload ("new", "close", "focus", "move", …), empty if none.
std::string eventChange(std::string_view json);

// Names and titles are cut after this many characters, so that a client's megabyte of name
// costs kilobytes in every record, line and copy it goes into.
inline constexpr std::size_t kMaxTextCharacters = 8192;
// `raw` as UTF-8 (each ill-formed sequence one U+FFFD) and cut after kMaxTextCharacters
// characters, never inside one.
std::string boundedText(std::string_view raw);

// A command argument in double quotes, with '"' and '\' escaped, for criteria and names.
std::string quoted(std::string_view text);

}  // namespace orvane::sway
