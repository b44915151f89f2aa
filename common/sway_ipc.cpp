#include "sway_ipc.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "json.hpp"
#include "text.hpp"

#define RAPIDJSON_HAS_STDSTRING 1
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

namespace orvane::sway {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll(): 0 once it has passed.
int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                : static_cast<int>(left);
}

enum class Wait { ready, timedOut, failed };

// Waits for `events` on `fd` until the deadline. A hang-up or error without the wanted event
// is a failure, not a wait that timed out.
Wait waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, remainingMs(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return Wait::timedOut;
    // POLLHUP with data still to read: let read() tell.
    if (n > 0 && (p.revents & events)) return Wait::ready;
    return Wait::failed;
  }
}

// Whether a socket whose connect was under way now has its peer. Writability alone says
// nothing: an unconnected Unix socket is writable at once.
bool connectedNow(int fd) {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return false;
  sockaddr_un peer{};
  socklen_t peerSize = sizeof peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0;
}

// Reads go into pieces of at least this size: a whole small reply, its header included,
// usually comes with one call.
constexpr std::size_t kReadPiece = 64 * 1024;

constexpr rapidjson::ParseFlag kParseFlags = rapidjson::kParseIterativeFlag;

std::optional<std::string> stringMember(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsString()) return std::nullopt;
  return boundedText(std::string_view(it->value.GetString(), it->value.GetStringLength()));
}

std::optional<double> numberMember(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsNumber()) return std::nullopt;
  return it->value.GetDouble();
}

std::optional<std::int64_t> integerMember(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd()) return std::nullopt;
  if (it->value.IsInt64()) return it->value.GetInt64();
  return std::nullopt;
}

std::optional<bool> boolMember(const rapidjson::Value& object, const char* key) {
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsBool()) return std::nullopt;
  return it->value.GetBool();
}

SwayRect rectMember(const rapidjson::Value& object, const char* key) {
  SwayRect r;
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsObject()) return r;
  r.x = numberMember(it->value, "x").value_or(0);
  r.y = numberMember(it->value, "y").value_or(0);
  r.width = numberMember(it->value, "width").value_or(0);
  r.height = numberMember(it->value, "height").value_or(0);
  return r;
}

void readNodes(const rapidjson::Value& object, const char* key, int depth,
               std::vector<SwayNode>& out);

SwayNode readNode(const rapidjson::Value& v, int depth) {
  SwayNode n;
  n.id = integerMember(v, "id").value_or(0);
  n.type = stringMember(v, "type").value_or("");
  n.name = stringMember(v, "name").value_or("");
  n.appId = stringMember(v, "app_id");
  n.shell = stringMember(v, "shell");
  if (auto it = v.FindMember("window_properties"); it != v.MemberEnd() && it->value.IsObject()) {
    n.windowClass = stringMember(it->value, "class");
  }
  n.pid = integerMember(v, "pid");
  n.rect = rectMember(v, "rect");
  n.decoRect = rectMember(v, "deco_rect");
  n.visible = boolMember(v, "visible");
  n.focused = boolMember(v, "focused").value_or(false);
  n.fullscreenMode = integerMember(v, "fullscreen_mode").value_or(0);
  if (auto it = v.FindMember("focus"); it != v.MemberEnd() && it->value.IsArray()) {
    for (const auto& id : it->value.GetArray()) {
      if (id.IsInt64()) n.focus.push_back(id.GetInt64());
    }
  }
  n.active = boolMember(v, "active").value_or(false);
  n.scale = numberMember(v, "scale").value_or(1);
  n.make = stringMember(v, "make").value_or("");
  n.model = stringMember(v, "model").value_or("");
  n.serial = stringMember(v, "serial").value_or("");
  readNodes(v, "nodes", depth + 1, n.nodes);
  readNodes(v, "floating_nodes", depth + 1, n.floatingNodes);
  return n;
}

void readNodes(const rapidjson::Value& object, const char* key, int depth,
               std::vector<SwayNode>& out) {
  if (depth > kMaxDepth) return;
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsArray()) return;
  out.reserve(it->value.Size());
  for (const auto& child : it->value.GetArray()) {
    if (child.IsObject()) out.push_back(readNode(child, depth));
  }
}

}  // namespace

std::string encodeMessage(std::uint32_t type, std::string_view payload) {
  std::string bytes(kMagic);
  const auto length = static_cast<std::uint32_t>(payload.size());
  bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
  bytes.append(reinterpret_cast<const char*>(&type), sizeof type);
  bytes.append(payload);
  return bytes;
}

std::optional<Header> decodeHeader(std::string_view bytes) {
  if (bytes.size() < kHeaderSize || bytes.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  Header h;
  std::memcpy(&h.length, bytes.data() + kMagic.size(), sizeof h.length);
  std::memcpy(&h.type, bytes.data() + kMagic.size() + sizeof h.length, sizeof h.type);
  if (h.length > kMaxPayload) return std::nullopt;
  return h;
}

int connectUnixSocket(const std::string& path, Milliseconds timeout, bool& stalled) {
  stalled = false;
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return -1;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  const auto deadline = Clock::now() + timeout;
  Milliseconds pause(1);
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EISCONN)
      return fd;
    if (errno == EINTR) continue;
    if (errno == EINPROGRESS || errno == EALREADY) {
      const Wait w = waitFor(fd, POLLOUT, deadline);
      if (w == Wait::ready && connectedNow(fd)) return fd;
      if (w == Wait::failed) break;
    } else if (errno == EAGAIN) {
      // NOTE: a listener whose queue is full (a compositor that stopped taking connections)
      // refuses a non-blocking Unix connect with EAGAIN and never completes it later: it is
      // asked again, at growing intervals, until the deadline.
      ::poll(nullptr, 0, std::min(remainingMs(deadline), static_cast<int>(pause.count())));
      pause = std::min(pause * 2, Milliseconds(50));
    } else {
      break;  // nobody listens there
    }
    if (Clock::now() >= deadline) {
      stalled = true;
      break;
    }
  }
  ::close(fd);
  return -1;
}

Connection::Connection(const std::string& socketPath, Milliseconds timeout) {
  fd_ = connectUnixSocket(socketPath, timeout, stalled_);
}

Connection::~Connection() { breakConnection(); }

Connection::Connection(Connection&& other) noexcept
    : fd_(other.fd_),
      stalled_(other.stalled_),
      events_(std::move(other.events_)),
      in_(std::move(other.in_)),
      inBegin_(other.inBegin_),
      inEnd_(other.inEnd_) {
  other.fd_ = -1;
  other.inBegin_ = other.inEnd_ = 0;
}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    breakConnection();
    fd_ = other.fd_;
    stalled_ = other.stalled_;
    events_ = std::move(other.events_);
    in_ = std::move(other.in_);
    inBegin_ = other.inBegin_;
    inEnd_ = other.inEnd_;
    other.fd_ = -1;
    other.inBegin_ = other.inEnd_ = 0;
  }
  return *this;
}

void Connection::breakConnection() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  inBegin_ = inEnd_ = 0;
}

bool Connection::writeAll(std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && await(POLLOUT, deadline)) continue;
    return false;
  }
  return true;
}

bool Connection::await(short events, Clock::time_point deadline) {
  const Wait w = waitFor(fd_, events, deadline);
  if (w == Wait::timedOut) stalled_ = true;
  return w == Wait::ready;
}

bool Connection::readExactly(char* out, std::size_t size, Clock::time_point deadline) {
  while (inEnd_ - inBegin_ < size) {
    if (inBegin_ == inEnd_) inBegin_ = inEnd_ = 0;
    const std::size_t wanted = std::max(size - (inEnd_ - inBegin_), kReadPiece);
    if (in_.size() - inEnd_ < wanted) {
      // Move what is left to the front, then grow if that is not room enough.
      std::memmove(in_.data(), in_.data() + inBegin_, inEnd_ - inBegin_);
      inEnd_ -= inBegin_;
      inBegin_ = 0;
      if (in_.size() - inEnd_ < wanted) in_.resize(inEnd_ + wanted);
    }
    const ssize_t n = ::recv(fd_, in_.data() + inEnd_, in_.size() - inEnd_, 0);
    if (n > 0) {
      inEnd_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return false;  // closed by sway
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && await(POLLIN, deadline)) continue;
    return false;
  }
  if (size) std::memcpy(out, in_.data() + inBegin_, size);
  inBegin_ += size;
  return true;
}

bool Connection::readPayload(std::string& payload, std::size_t length, Clock::time_point deadline) {
  // The payload grows with the bytes that arrive, never ahead of them: a header announcing
  // megabytes costs nothing until they come. Memory kept from an earlier reply is read into
  // whole, so a tree of the usual size still comes with one call.
  payload.clear();
  const std::size_t buffered = std::min(inEnd_ - inBegin_, length);
  payload.append(in_.data() + inBegin_, buffered);
  inBegin_ += buffered;
  while (payload.size() < length) {
    const std::size_t have = payload.size();
    const std::size_t room = std::max({kReadPiece, have, payload.capacity() - have});
    payload.resize(have + std::min(length - have, room));
    const ssize_t n = ::recv(fd_, payload.data() + have, payload.size() - have, 0);
    payload.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0) continue;
    if (n == 0) return false;  // closed by sway
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && await(POLLIN, deadline)) continue;
    return false;
  }
  return true;
}

std::optional<Message> Connection::readMessage(Clock::time_point deadline) {
  Message m;
  if (!readMessageInto(m.type, m.payload, deadline)) return std::nullopt;
  return m;
}

bool Connection::readMessageInto(std::uint32_t& type, std::string& payload,
                                 Clock::time_point deadline) {
  char header[kHeaderSize];
  if (!readExactly(header, sizeof header, deadline)) {
    breakConnection();
    return false;
  }
  const auto h = decodeHeader(std::string_view(header, sizeof header));
  if (!h) {
    breakConnection();
    return false;
  }
  type = h->type;
  // Once a header is in, the rest follows at once: a stall here is a broken peer.
  if (!readPayload(payload, h->length, deadline)) {
    breakConnection();
    return false;
  }
  return true;
}

std::optional<std::string> Connection::request(MessageType type, std::string_view payload,
                                               Milliseconds timeout) {
  std::string reply;
  if (!request(type, payload, reply, timeout)) return std::nullopt;
  return reply;
}

bool Connection::request(MessageType type, std::string_view payload, std::string& reply,
                         Milliseconds timeout) {
  if (!ok()) return false;
  const auto deadline = Clock::now() + timeout;
  const auto wanted = static_cast<std::uint32_t>(type);
  if (!writeAll(encodeMessage(wanted, payload), deadline)) {
    breakConnection();
    return false;
  }
  // The reply takes sway a moment: wait for it rather than try a read that must fail.
  if (inBegin_ == inEnd_ && !await(POLLIN, deadline)) {
    breakConnection();
    return false;
  }
  for (;;) {
    std::uint32_t got = 0;
    if (!readMessageInto(got, reply, deadline)) return false;
    if (got & kEventBit) {
      events_.push_back(Message{got, reply});
      continue;
    }
    if (got != wanted) {
      // Replies come in request order, so another type means the stream is out of step.
      breakConnection();
      return false;
    }
    return true;
  }
}

bool Connection::subscribe(const std::vector<std::string>& events, Milliseconds timeout) {
  json::Array names;
  for (const auto& e : events) names.emplace_back(e);
  const auto payload = json::encode(json::Value(std::move(names)), {});
  if (!payload) return false;
  const auto reply = request(MessageType::subscribe, *payload, timeout);
  if (!reply) return false;
  rapidjson::Document d;
  d.Parse<kParseFlags>(reply->data(), reply->size());
  if (d.HasParseError() || !d.IsObject()) return false;
  return boolMember(d, "success").value_or(false);
}

std::optional<Message> Connection::takeEvent(Milliseconds timeout) {
  if (!events_.empty()) {
    Message m = std::move(events_.front());
    events_.pop_front();
    return m;
  }
  if (!ok()) return std::nullopt;
  const auto deadline = Clock::now() + timeout;
  if (inBegin_ == inEnd_ && waitFor(fd_, POLLIN, deadline) != Wait::ready) {
    // Nothing yet; a hang-up shows as readable and is caught by the read below next time.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) &&
        !(p.revents & POLLIN)) {
      breakConnection();
    }
    return std::nullopt;
  }
  // A message has begun; its remainder is given the usual time.
  auto m = readMessage(Clock::now() + kDefaultTimeout);
  if (m && !(m->type & kEventBit)) return std::nullopt;  // a stray reply: not an event
  return m;
}

std::optional<SwayNode> parseTree(std::string_view text) {
  rapidjson::Document d;
  d.Parse<kParseFlags>(text.data(), text.size());
  if (d.HasParseError() || !d.IsObject()) return std::nullopt;
  return readNode(d, 0);
}

std::optional<std::vector<SwayOutput>> parseOutputs(std::string_view text) {
  rapidjson::Document d;
  d.Parse<kParseFlags>(text.data(), text.size());
  if (d.HasParseError() || !d.IsArray()) return std::nullopt;
  std::vector<SwayOutput> outputs;
  for (const auto& v : d.GetArray()) {
    if (!v.IsObject()) continue;
    SwayOutput o;
    o.name = stringMember(v, "name").value_or("");
    o.make = stringMember(v, "make").value_or("");
    o.model = stringMember(v, "model").value_or("");
    o.serial = stringMember(v, "serial").value_or("");
    o.active = boolMember(v, "active").value_or(false);
    o.scale = numberMember(v, "scale").value_or(1);
    o.rect = rectMember(v, "rect");
    outputs.push_back(std::move(o));
  }
  return outputs;
}

std::optional<std::vector<bool>> parseSuccesses(std::string_view text) {
  rapidjson::Document d;
  d.Parse<kParseFlags>(text.data(), text.size());
  if (d.HasParseError()) return std::nullopt;
  std::vector<bool> result;
  auto one = [&](const rapidjson::Value& v) {
    if (v.IsObject()) result.push_back(boolMember(v, "success").value_or(false));
  };
  if (d.IsArray()) {
    for (const auto& v : d.GetArray()) one(v);
  } else {
    one(d);
  }
  if (result.empty()) return std::nullopt;
  return result;
}

std::string eventChange(std::string_view text) {
  rapidjson::Document d;
  d.Parse<kParseFlags>(text.data(), text.size());
  if (d.HasParseError() || !d.IsObject()) return {};
  return stringMember(d, "change").value_or("");
}

std::string boundedText(std::string_view raw) {
  // No more bytes than characters allowed: nothing to count.
  if (raw.size() > kMaxTextCharacters) {
    std::size_t end = 0;
    for (std::size_t n = 0; n < kMaxTextCharacters && end < raw.size(); ++n)
      end += decodeUtf8(raw.substr(end)).length;
    raw = raw.substr(0, end);
  }
  return json::sanitizeUtf8(raw);
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace orvane::sway
