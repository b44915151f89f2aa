#include "event_log.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "text.hpp"

namespace orvane::eventtap {

bool isSecure(std::string_view role, std::string_view subrole) {
  return lowercased(role).find("secure") != std::string::npos ||
         lowercased(subrole).find("secure") != std::string::npos;
}

namespace {

constexpr std::string_view kTypeNames[] = {"leftMouseDown", "leftMouseUp", "rightMouseDown",
                                           "rightMouseUp",  "keyDown",     "scrollWheel"};

}  // namespace

std::string_view typeName(EventType type) { return kTypeNames[static_cast<std::size_t>(type)]; }

std::optional<EventType> eventTypeNamed(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kTypeNames); ++i) {
    if (kTypeNames[i] == name) return static_cast<EventType>(i);
  }
  return std::nullopt;
}

std::string_view buttonName(MouseButton button) {
  switch (button) {
    case MouseButton::left:
      return "left";
    case MouseButton::right:
      return "right";
    case MouseButton::none:
      break;
  }
  return "";
}

MouseButton mouseButton(std::string_view typeName) {
  if (typeName.starts_with("left")) return MouseButton::left;
  if (typeName.starts_with("right")) return MouseButton::right;
  return MouseButton::none;
}

namespace {

// The longest text a number can take: a 64-bit integer has at most 20 characters, the
// shortest form of a double at most 24.
constexpr std::size_t kMaxNumber = 32;

// Byte classes for strings: 0 copied as is, 1 escaped, 2 the start of a UTF-8 sequence that
// is checked before it is copied.
constexpr auto kByteClass = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 1;
  table['"'] = table['\\'] = table['/'] = 1;
  for (int c = 0x80; c < 0x100; ++c) table[c] = 2;
  return table;
}();

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes into a buffer that it hands to the consumer whenever the next record may not fit.
// Every record reserves its worst case first, so the writes themselves never check.
class Writer {
 public:
  Writer(const ByteConsumer& consume, std::size_t pieceSize)
      : consume_(consume),
        capacity_(std::max<std::size_t>(pieceSize, 4096)),
        buffer_(new char[capacity_]),
        p_(buffer_.get()) {}

  bool reserve(std::size_t n) {
    if (static_cast<std::size_t>(buffer_.get() + capacity_ - p_) >= n) return true;
    if (!flush()) return false;
    if (n > capacity_) {
      capacity_ = n;
      buffer_.reset(new char[capacity_]);
      p_ = buffer_.get();
    }
    return true;
  }

  bool flush() {
    const auto used = static_cast<std::size_t>(p_ - buffer_.get());
    p_ = buffer_.get();
    return used == 0 || consume_(std::string_view(buffer_.get(), used));
  }

  template <std::size_t N>
  void literal(const char (&text)[N]) {
    std::memcpy(p_, text, N - 1);
    p_ += N - 1;
  }
  void raw(std::string_view text) {
    std::memcpy(p_, text.data(), text.size());
    p_ += text.size();
  }
  void boolean(bool value) {
    if (value)
      literal("true");
    else
      literal("false");
  }

  void integer(std::int64_t value) {
    std::uint64_t u = static_cast<std::uint64_t>(value);
    if (value < 0) {
      *p_++ = '-';
      u = 0 - u;
    }
    char digits[20];
    char* end = digits + sizeof digits;
    char* d = end;
    while (u >= 100) {
      const auto pair = static_cast<std::size_t>(u % 100) * 2;
      u /= 100;
      *--d = kDigitPairs[pair + 1];
      *--d = kDigitPairs[pair];
    }
    if (u >= 10) {
      const auto pair = static_cast<std::size_t>(u) * 2;
      *--d = kDigitPairs[pair + 1];
      *--d = kDigitPairs[pair];
    } else {
      *--d = static_cast<char>('0' + u);
    }
    raw(std::string_view(d, static_cast<std::size_t>(end - d)));
  }

  // The shortest form that reads back, as the project's JSON writer gives it: plain decimals
  // from 1e-5 up to 1e16, an exponent only beyond. Whole values below 100000 take the fast
  // integer path, which gives the same bytes. Only for finite values.
  void number(double value) {
    if (value > -1e5 && value < 1e5 && value == static_cast<double>(static_cast<int>(value))) {
      if (value == 0 && std::signbit(value))
        literal("-0");
      else
        integer(static_cast<int>(value));
      return;
    }
    const double magnitude = std::fabs(value);
    p_ = magnitude >= 1e-5 && magnitude < 1e16
             ? std::to_chars(p_, p_ + kMaxNumber, value, std::chars_format::fixed).ptr
             : std::to_chars(p_, p_ + kMaxNumber, value).ptr;
  }

  // Standard JSON escaping plus "\/"; an ill-formed UTF-8 sequence becomes U+FFFD. At most
  // six bytes come out of each byte that goes in.
  void string(std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    *p_++ = '"';
    const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
      const unsigned char c = bytes[i];
      const std::uint8_t cls = kByteClass[c];
      if (cls == 0) {
        *p_++ = static_cast<char>(c);
        ++i;
      } else if (cls == 2) {
        const Utf8Char ch = decodeUtf8(s.substr(i));
        if (ch.valid) {
          std::memcpy(p_, s.data() + i, ch.length);
          p_ += ch.length;
        } else {
          literal("\xEF\xBF\xBD");
        }
        i += ch.length;
      } else {
        *p_++ = '\\';
        switch (c) {
          case '"':
            *p_++ = '"';
            break;
          case '\\':
            *p_++ = '\\';
            break;
          case '/':
            *p_++ = '/';
            break;
          case '\b':
            *p_++ = 'b';
            break;
          case '\f':
            *p_++ = 'f';
            break;
          case '\n':
            *p_++ = 'n';
            break;
          case '\r':
            *p_++ = 'r';
            break;
          case '\t':
            *p_++ = 't';
            break;
          default:
            literal("u00");
            *p_++ = kHex[c >> 4];
            *p_++ = kHex[c & 0xF];
        }
        ++i;
      }
    }
    *p_++ = '"';
  }

  static std::size_t stringBound(std::string_view s) { return s.size() * 6 + 2; }

 private:
  ByteConsumer consume_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  char* p_;
};

}  // namespace

bool hasOnlyFiniteNumbers(const EventLog& log) {
  bool finite = std::isfinite(log.monotonicStartedAtSeconds);
  log.events.forEach([&](const RawInputEvent& e) {
    finite = finite && std::isfinite(e.x) && std::isfinite(e.y) && std::isfinite(e.deltaX) &&
             std::isfinite(e.deltaY);
  });
  log.cursorPath.forEach(
      [&](const CursorPoint& p) { finite = finite && std::isfinite(p.x) && std::isfinite(p.y); });
  return finite;
}

namespace {

// The fixed bytes of an event up to its timestamp, one per type.
constexpr std::string_view kEventStarts[] = {
    R"({"type":"leftMouseDown","timestampMs":)",  R"({"type":"leftMouseUp","timestampMs":)",
    R"({"type":"rightMouseDown","timestampMs":)", R"({"type":"rightMouseUp","timestampMs":)",
    R"({"type":"keyDown","timestampMs":)",        R"({"type":"scrollWheel","timestampMs":)"};

constexpr std::string_view kButtonParts[] = {R"(,"button":"","keyCode":)",
                                             R"(,"button":"left","keyCode":)",
                                             R"(,"button":"right","keyCode":)"};

// Bytes of an event besides its strings and numbers: the keys, punctuation and the two
// booleans, with room to spare.
constexpr std::size_t kEventFixed = 256;

}  // namespace

EncodeResult encodeEventLog(const EventLog& log, const ByteConsumer& consume,
                            std::size_t pieceSize) {
  if (!hasOnlyFiniteNumbers(log)) return EncodeResult::nonFiniteNumber;
  Writer w(consume, pieceSize);
  bool ok = w.reserve(kEventFixed + Writer::stringBound(log.source));
  if (ok) {
    w.literal(R"({"version":)");
    w.integer(log.version);
    w.literal(R"(,"source":)");
    w.string(log.source);
    w.literal(R"(,"startedAtUnixMs":)");
    w.integer(log.startedAtUnixMs);
    w.literal(R"(,"monotonicStartedAtSeconds":)");
    w.number(log.monotonicStartedAtSeconds);
    w.literal(R"(,"durationMs":)");
    w.integer(log.durationMs);
    w.literal(R"(,"redactionEnabled":)");
    w.boolean(log.redactionEnabled);
    w.literal(R"(,"events":[)");
  }

  // Events that saw the same focused element share one record; its bytes are made once.
  std::unordered_map<const EventField*, std::string> fieldBytes;
  const EventField* lastField = nullptr;
  const std::string* lastBytes = nullptr;
  bool first = true;
  log.events.forEach([&](const RawInputEvent& e) {
    if (!ok) return;
    const std::string* field = nullptr;
    if (e.field) {
      if (e.field.get() == lastField) {
        field = lastBytes;
      } else {
        auto [it, added] = fieldBytes.try_emplace(e.field.get());
        if (added) {
          const EventField& f = *e.field;
          std::string bytes;
          Writer fw(
              [&](std::string_view piece) {
                bytes.append(piece);
                return true;
              },
              kEventFixed + Writer::stringBound(f.role) + Writer::stringBound(f.subrole) +
                  Writer::stringBound(f.title) + Writer::stringBound(f.description));
          fw.literal(R"(,"field":{"role":)");
          fw.string(f.role);
          fw.literal(R"(,"subrole":)");
          fw.string(f.subrole);
          fw.literal(R"(,"title":)");
          fw.string(f.title);
          fw.literal(R"(,"description":)");
          fw.string(f.description);
          fw.literal(R"(,"secure":)");
          fw.boolean(f.secure);
          fw.literal("}");
          fw.flush();
          it->second = std::move(bytes);
        }
        field = &it->second;
        lastField = e.field.get();
        lastBytes = field;
      }
    }
    if (!w.reserve(kEventFixed + 6 * kMaxNumber + Writer::stringBound(e.text) +
                   (field ? field->size() : 0))) {
      ok = false;
      return;
    }
    if (!first) w.literal(",");
    first = false;
    w.raw(kEventStarts[static_cast<std::size_t>(e.type)]);
    w.integer(e.timestampMs);
    w.literal(R"(,"x":)");
    w.number(e.x);
    w.literal(R"(,"y":)");
    w.number(e.y);
    w.raw(kButtonParts[static_cast<std::size_t>(e.button)]);
    w.integer(e.keyCode);
    w.literal(R"(,"text":)");
    w.string(e.text);
    if (e.redacted)
      w.literal(R"(,"redacted":true,"deltaX":)");
    else
      w.literal(R"(,"redacted":false,"deltaX":)");
    w.number(e.deltaX);
    w.literal(R"(,"deltaY":)");
    w.number(e.deltaY);
    if (field) w.raw(*field);
    w.literal("}");
  });

  ok = ok && w.reserve(32);
  if (ok) w.literal(R"(],"cursorPath":[)");
  first = true;
  log.cursorPath.forEach([&](const CursorPoint& p) {
    if (!ok || !(ok = w.reserve(64 + 3 * kMaxNumber))) return;
    if (!first) w.literal(",");
    first = false;
    w.literal(R"({"timestampMs":)");
    w.integer(p.timestampMs);
    w.literal(R"(,"x":)");
    w.number(p.x);
    w.literal(R"(,"y":)");
    w.number(p.y);
    w.literal("}");
  });
  ok = ok && w.reserve(8);
  if (ok) w.literal("]}");
  ok = ok && w.flush();
  return ok ? EncodeResult::ok : EncodeResult::consumerFailed;
}

std::optional<std::string> encodeEventLog(const EventLog& log) {
  std::string out;
  const auto result = encodeEventLog(log, [&](std::string_view piece) {
    out.append(piece);
    return true;
  });
  if (result != EncodeResult::ok) return std::nullopt;
  return out;
}

}  // namespace orvane::eventtap
