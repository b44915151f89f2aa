#include "bus_wire.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvane::buswire {
namespace {

// Messages longer than this are refused (the bus's own limit is 128 MiB).
constexpr std::size_t kLargest = 64u << 20;
// And those of more values than this: a Value takes some 80 bytes, a byte array's element one.
constexpr std::size_t kMostValues = 1u << 18;

enum Field : std::uint8_t {
  kPath = 1,
  kInterface = 2,
  kMember = 3,
  kErrorName = 4,
  kReplySerial = 5,
  kDestination = 6,
  kSender = 7,
  kSignature = 8,
};

// Written little-endian (the header says so), whatever the machine; buses read either.
class Writer {
 public:
  void align(std::size_t n) {
    while (out.size() % n) out += '\0';
  }
  void byte(std::uint8_t b) { out += static_cast<char>(b); }
  void u32(std::uint32_t v) {
    align(4);
    for (int i = 0; i < 4; ++i) byte(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void string(std::string_view s) {
    u32(static_cast<std::uint32_t>(s.size()));
    out.append(s);
    out += '\0';
  }
  void signature(std::string_view s) {
    byte(static_cast<std::uint8_t>(s.size()));
    out.append(s);
    out += '\0';
  }
  void field(Field code, char type, std::string_view value) {
    align(8);
    byte(code);
    signature(std::string_view(&type, 1));
    if (type == 'g')
      signature(value);
    else
      string(value);
  }
  void field(Field code, std::uint32_t value) {
    align(8);
    byte(code);
    signature("u");
    u32(value);
  }
  std::string out;
};

std::string message(Kind kind, std::uint8_t flags, std::uint32_t serial,
                    const std::vector<std::pair<Field, std::string_view>>& strings,
                    std::uint32_t replySerial, const std::vector<std::string>& arguments) {
  Writer body;
  for (const std::string& a : arguments) body.string(a);
  Writer m;
  m.byte('l');
  m.byte(static_cast<std::uint8_t>(kind));
  m.byte(flags);
  m.byte(1);
  m.u32(static_cast<std::uint32_t>(body.out.size()));
  m.u32(serial);
  m.u32(0);  // the fields' length, written below
  const std::size_t fieldsStart = m.out.size();
  for (const auto& [code, value] : strings) m.field(code, code == kPath ? 'o' : 's', value);
  if (replySerial) m.field(kReplySerial, replySerial);
  if (!arguments.empty()) m.field(kSignature, 'g', std::string(arguments.size(), 's'));
  const auto fieldsLength = static_cast<std::uint32_t>(m.out.size() - fieldsStart);
  for (int i = 0; i < 4; ++i) m.out[12 + i] = static_cast<char>(fieldsLength >> (8 * i));
  m.align(8);
  return m.out + body.out;
}

class Reader {
 public:
  Reader(std::string_view data, bool big) : data_(data), big_(big) {}

  bool align(std::size_t n) {
    while (at_ % n) {
      if (at_ >= data_.size()) return false;
      ++at_;
    }
    return true;
  }
  std::optional<std::uint8_t> byte() {
    if (at_ >= data_.size()) return std::nullopt;
    return static_cast<std::uint8_t>(data_[at_++]);
  }
  std::optional<std::uint64_t> fixed(std::size_t size) {
    if (!align(size) || data_.size() - at_ < size) return std::nullopt;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < size; ++i) {
      const auto b = static_cast<std::uint8_t>(data_[at_ + (big_ ? i : size - 1 - i)]);
      v = (v << 8) | b;
    }
    at_ += size;
    return v;
  }
  // A string ('s', 'o') or, with `small`, a signature ('g'); its NUL must be there.
  std::optional<std::string> text(bool small) {
    std::optional<std::uint64_t> n;
    if (small) {
      if (auto b = byte()) n = *b;
    } else {
      n = fixed(4);
    }
    if (!n || data_.size() - at_ < *n + 1 || data_[at_ + *n] != '\0') return std::nullopt;
    std::string s(data_.substr(at_, *n));
    at_ += *n + 1;
    return s;
  }

  // The value of the complete type that starts at `type` (which moves past it).
  std::optional<Value> value(std::string_view& type, int depth = 0) {
    if (type.empty() || depth > 32 || ++values_ > kMostValues) return std::nullopt;
    Value v;
    v.type = type[0];
    type.remove_prefix(1);
    std::optional<std::uint64_t> n;
    switch (v.type) {
      case 's':
      case 'o':
      case 'g': {
        auto s = text(v.type == 'g');
        if (!s) return std::nullopt;
        v.text = std::move(*s);
        return v;
      }
      case 'y':
        if (auto b = byte()) n = *b;
        break;
      case 'n':
        n = fixed(2);
        if (n) n = static_cast<std::uint64_t>(static_cast<std::int16_t>(*n));
        break;
      case 'q':
        n = fixed(2);
        break;
      case 'b':
      case 'u':
        n = fixed(4);
        break;
      case 'i':
        n = fixed(4);
        if (n) n = static_cast<std::uint64_t>(static_cast<std::int32_t>(*n));
        break;
      case 'x':
      case 't':
        n = fixed(8);
        break;
      case 'd': {
        n = fixed(8);
        if (!n) return std::nullopt;
        std::memcpy(&v.real, &*n, sizeof v.real);
        return v;
      }
      case 'v': {
        auto inner = text(true);
        if (!inner) return std::nullopt;
        std::string_view innerType(*inner);
        auto item = value(innerType, depth + 1);
        if (!item || !innerType.empty()) return std::nullopt;
        v.items.push_back(std::move(*item));
        return v;
      }
      case '(':
      case '{': {
        if (!align(8)) return std::nullopt;
        const char close = v.type == '(' ? ')' : '}';
        while (!type.empty() && type[0] != close) {
          auto item = value(type, depth + 1);
          if (!item) return std::nullopt;
          v.items.push_back(std::move(*item));
        }
        // An empty struct takes no bytes: an array of them would never end.
        if (type.empty() || v.items.empty() || (v.type == '{' && v.items.size() != 2))
          return std::nullopt;
        type.remove_prefix(1);
        return v;
      }
      case 'a': {
        const auto length = fixed(4);
        if (!length || type.empty() || !align(alignment(type[0]))) return std::nullopt;
        if (data_.size() - at_ < *length) return std::nullopt;
        const std::size_t end = at_ + static_cast<std::size_t>(*length);
        std::string_view element = type;
        while (at_ < end) {
          element = type;
          auto item = value(element, depth + 1);
          if (!item || at_ > end) return std::nullopt;
          v.items.push_back(std::move(*item));
        }
        if (v.items.empty()) {
          // The element's type is skipped all the same.
          if (!skipType(element)) return std::nullopt;
        }
        type = element;
        return v;
      }
      default:
        return std::nullopt;
    }
    if (!n) return std::nullopt;
    v.number = static_cast<std::int64_t>(*n);
    return v;
  }

  // Moves past one complete type without reading anything.
  static bool skipType(std::string_view& type, int depth = 0) {
    if (type.empty() || depth > 32) return false;
    const char c = type[0];
    type.remove_prefix(1);
    if (c == 'a') return skipType(type, depth + 1);
    if (c == '(' || c == '{') {
      const char close = c == '(' ? ')' : '}';
      std::size_t fields = 0;
      for (; !type.empty() && type[0] != close; ++fields)
        if (!skipType(type, depth + 1)) return false;
      if (type.empty() || fields == 0 || (c == '{' && fields != 2)) return false;
      type.remove_prefix(1);
      return true;
    }
    return std::string_view("ybnqiuxtdsogv").find(c) != std::string_view::npos;
  }

  static std::size_t alignment(char type) {
    switch (type) {
      case 'n':
      case 'q':
        return 2;
      case 'b':
      case 'i':
      case 'u':
      case 's':
      case 'o':
      case 'a':
        return 4;
      case 'x':
      case 't':
      case 'd':
      case '(':
      case '{':
        return 8;
      default:
        return 1;
    }
  }

  std::size_t at() const { return at_; }

 private:
  std::string_view data_;
  bool big_;
  std::size_t at_ = 0;
  std::size_t values_ = 0;
};

std::uint32_t u32At(std::string_view data, std::size_t at, bool big) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const auto b = static_cast<std::uint8_t>(data[at + static_cast<std::size_t>(big ? i : 3 - i)]);
    v = (v << 8) | b;
  }
  return v;
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0;
}

// Waits for `events` on `fd` until the deadline.
bool ready(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, millisecondsUntil(deadline));
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

}  // namespace

std::string methodCall(std::uint32_t serial, std::string_view destination, std::string_view path,
                       std::string_view interface, std::string_view member,
                       const std::vector<std::string>& arguments, bool noReply) {
  constexpr std::uint8_t kNoReplyExpected = 0x1, kNoAutoStart = 0x2;
  return message(
      Kind::call, kNoAutoStart | (noReply ? kNoReplyExpected : 0), serial,
      {{kPath, path}, {kInterface, interface}, {kMember, member}, {kDestination, destination}}, 0,
      arguments);
}

std::string methodReturn(std::uint32_t serial, std::uint32_t replySerial,
                         std::string_view destination) {
  return message(Kind::reply, 0x1, serial, {{kDestination, destination}}, replySerial, {});
}

std::optional<std::size_t> messageSize(std::string_view data) {
  if (data.empty()) return 0;
  if (data[0] != 'l' && data[0] != 'B') return std::nullopt;
  if (data.size() < 16) return 0;
  const bool big = data[0] == 'B';
  if (data[3] != 1) return std::nullopt;
  const std::uint64_t body = u32At(data, 4, big);
  const std::uint64_t fields = u32At(data, 12, big);
  const std::uint64_t header = (16 + fields + 7) / 8 * 8;
  if (header + body > kLargest) return std::nullopt;
  const auto size = static_cast<std::size_t>(header + body);
  return data.size() < size ? 0 : size;
}

std::optional<Message> parseMessage(std::string_view data) {
  const auto size = messageSize(data);
  if (!size || *size == 0 || *size != data.size()) return std::nullopt;
  const bool big = data[0] == 'B';
  Message m;
  const auto kind = static_cast<std::uint8_t>(data[1]);
  if (kind < 1 || kind > 4) return std::nullopt;
  m.kind = static_cast<Kind>(kind);
  m.serial = u32At(data, 8, big);
  const std::size_t fieldsEnd = 16 + u32At(data, 12, big);
  Reader fields(data.substr(0, fieldsEnd), big);
  if (!fields.fixed(4) || !fields.fixed(4) || !fields.fixed(4) || !fields.fixed(4))
    return std::nullopt;
  while (fields.at() < fieldsEnd) {
    if (!fields.align(8)) return std::nullopt;
    const auto code = fields.byte();
    const auto type = fields.text(true);
    if (!code || !type || type->size() != 1) return std::nullopt;
    std::string_view rest(*type);
    auto value = fields.value(rest);
    if (!value) return std::nullopt;
    switch (*code) {
      case kPath:
        m.path = std::move(value->text);
        break;
      case kInterface:
        m.interface = std::move(value->text);
        break;
      case kMember:
        m.member = std::move(value->text);
        break;
      case kErrorName:
        m.errorName = std::move(value->text);
        break;
      case kReplySerial:
        m.replySerial = static_cast<std::uint32_t>(value->number);
        break;
      case kSender:
        m.sender = std::move(value->text);
        break;
      case kSignature:
        m.signature = std::move(value->text);
        break;
      default:
        break;
    }
  }
  // The body starts on the eighth byte after the fields; alignment inside it is the same
  // counted from there.
  const std::size_t bodyStart = (fieldsEnd + 7) / 8 * 8;
  Reader body(data.substr(bodyStart), big);
  std::string_view types(m.signature);
  while (!types.empty()) {
    auto value = body.value(types);
    if (!value) return std::nullopt;
    m.arguments.push_back(std::move(*value));
  }
  return m;
}

std::optional<std::string> socketOf(std::string_view address) {
  while (!address.empty()) {
    const std::size_t end = std::min(address.find(';'), address.size());
    std::string_view entry = address.substr(0, end);
    address.remove_prefix(std::min(end + 1, address.size()));
    if (entry.substr(0, 5) != "unix:") continue;
    entry.remove_prefix(5);
    while (!entry.empty()) {
      const std::size_t comma = std::min(entry.find(','), entry.size());
      const std::string_view pair = entry.substr(0, comma);
      entry.remove_prefix(std::min(comma + 1, entry.size()));
      const std::size_t equals = pair.find('=');
      if (equals == std::string_view::npos) continue;
      const std::string_view key = pair.substr(0, equals);
      if (key != "path" && key != "abstract") continue;
      std::string value = key == "abstract" ? std::string(1, '\0') : std::string();
      const std::string_view raw = pair.substr(equals + 1);
      for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
          value += raw[i];
          continue;
        }
        if (i + 2 >= raw.size()) return std::nullopt;
        char hex[3] = {raw[i + 1], raw[i + 2], 0};
        char* stop = nullptr;
        const long c = std::strtol(hex, &stop, 16);
        if (stop != hex + 2) return std::nullopt;
        value += static_cast<char>(c);
        i += 2;
      }
      return value;
    }
  }
  return std::nullopt;
}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

bool Connection::open(std::string_view address, const std::vector<std::string>& first,
                      std::chrono::steady_clock::time_point deadline) {
  const auto path = socketOf(address);
  sockaddr_un where{};
  if (!path || path->size() < 2 || path->size() >= sizeof(where.sun_path)) return false;
  where.sun_family = AF_UNIX;
  std::memcpy(where.sun_path, path->data(), path->size());
  const bool abstract = (*path)[0] == '\0';
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path->size() + (abstract ? 0 : 1));
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return false;
  int result;
  do {
    result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&where), length);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && !(errno == EINPROGRESS || errno == EAGAIN)) return false;
  if (result != 0) {
    int error = 0;
    socklen_t size = sizeof error;
    if (!ready(fd_, POLLOUT, deadline) ||
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
      return false;
  }
  // Authentication, BEGIN, Hello and the caller's messages in one write: the bus reads them in
  // order once it has said OK.
  std::string uid;
  for (char c : std::to_string(::getuid())) {
    static constexpr char kHex[] = "0123456789abcdef";
    uid += kHex[static_cast<unsigned char>(c) >> 4];
    uid += kHex[static_cast<unsigned char>(c) & 15];
  }
  std::string out = std::string(1, '\0') + "AUTH EXTERNAL " + uid + "\r\nBEGIN\r\n";
  const std::uint32_t hello = nextSerial();
  out += methodCall(hello, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "Hello", {});
  serial_ = 2 + static_cast<std::uint32_t>(first.size());
  for (const std::string& m : first) out += m;
  if (!send(out, deadline)) return false;
  // "OK <guid>\r\n", then messages.
  std::size_t line;
  while ((line = in_.find("\r\n")) == std::string::npos) {
    if (in_.size() > 4096 || !fill(deadline)) return false;
  }
  if (in_.compare(0, 3, "OK ") != 0) return false;
  in_.erase(0, line + 2);
  while (auto m = receive(deadline)) {
    if (m->kind == Kind::call || m->replySerial != hello) continue;
    if (m->kind != Kind::reply || m->signature != "s") return false;
    uniqueName_ = m->arguments[0].text;
    return !uniqueName_.empty();
  }
  return false;
}

bool Connection::send(std::string_view bytes, std::chrono::steady_clock::time_point deadline) {
  while (!bytes.empty()) {
    if (fd_ < 0 || broken_) return false;
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ready(fd_, POLLOUT, deadline))
      continue;
    broken_ = true;
    return false;
  }
  return true;
}

bool Connection::fill(std::chrono::steady_clock::time_point deadline) {
  char buffer[65536];
  for (;;) {
    if (fd_ < 0 || broken_) return false;
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      in_.append(buffer, static_cast<std::size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (ready(fd_, POLLIN, deadline)) continue;
      return false;
    }
    broken_ = true;
    return false;
  }
}

std::optional<Message> Connection::receive(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto size = messageSize(in_);
    if (!size) {
      broken_ = true;
      in_.clear();
      return std::nullopt;
    }
    if (*size > 0) {
      auto m = parseMessage(std::string_view(in_).substr(0, *size));
      in_.erase(0, *size);
      if (!m) {
        broken_ = true;
        in_.clear();
      }
      return m;
    }
    if (!fill(deadline)) return std::nullopt;
  }
}

}  // namespace orvane::buswire
