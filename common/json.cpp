#include "json.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "text.hpp"

namespace orvane::json {
namespace {

void appendString(std::string& out, std::string_view s, const Options& options) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const Utf8Char ch = decodeUtf8(s.substr(i));
      out.append(ch.valid ? s.substr(i, ch.length) : "\xEF\xBF\xBD");
      i += ch.length;
      continue;
    }
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '/':
        if (options.escapeSlashes)
          out.append("\\/");
        else
          out.push_back('/');
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (c < 0x20) {
          out.append("\\u00");
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out.push_back('"');
}

bool appendValue(std::string& out, const Value& value, const Options& options);

bool appendObject(std::string& out, const Object& object, const Options& options) {
  std::vector<const std::pair<std::string, Value>*> members;
  members.reserve(object.size());
  for (const auto& member : object) members.push_back(&member);
  if (options.sortKeys) {
    std::stable_sort(members.begin(), members.end(),
                     [](auto* a, auto* b) { return a->first < b->first; });
  }
  out.push_back('{');
  bool first = true;
  for (const auto* member : members) {
    if (!first) out.push_back(',');
    first = false;
    appendString(out, member->first, options);
    out.push_back(':');
    if (!appendValue(out, member->second, options)) return false;
  }
  out.push_back('}');
  return true;
}

bool appendValue(std::string& out, const Value& value, const Options& options) {
  struct Visitor {
    std::string& out;
    const Options& options;
    bool operator()(std::nullptr_t) const {
      out.append("null");
      return true;
    }
    bool operator()(bool b) const {
      out.append(b ? "true" : "false");
      return true;
    }
    bool operator()(std::int64_t i) const {
      out.append(std::to_string(i));
      return true;
    }
    bool operator()(std::uint64_t u) const {
      out.append(std::to_string(u));
      return true;
    }
    bool operator()(double d) const {
      if (!std::isfinite(d)) return false;
      out.append(formatDouble(d));
      return true;
    }
    bool operator()(const std::string& s) const {
      appendString(out, s, options);
      return true;
    }
    bool operator()(const Array& a) const {
      out.push_back('[');
      for (size_t i = 0; i < a.size(); ++i) {
        if (i) out.push_back(',');
        if (!appendValue(out, a[i], options)) return false;
      }
      out.push_back(']');
      return true;
    }
    bool operator()(const Object& o) const { return appendObject(out, o, options); }
  };
  return std::visit(Visitor{out, options}, value.data);
}

}  // namespace

std::string formatDouble(double value) {
  if (value == 0) return value == 0 && std::signbit(value) ? "-0" : "0";
  char buffer[400];
  // Plain decimals between 1e-5 and 1e16, as Foundation writes them: the shortest form alone
  // would turn round values such as 100000 or 0.0001 into "1e+05" and "1e-04".
  const double magnitude = std::fabs(value);
  const auto format =
      magnitude >= 1e-5 && magnitude < 1e16 ? std::chars_format::fixed : std::chars_format::general;
  auto result = format == std::chars_format::fixed
                    ? std::to_chars(buffer, buffer + sizeof buffer, value, format)
                    : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string sanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const Utf8Char ch = decodeUtf8(text.substr(i));
    out.append(ch.valid ? text.substr(i, ch.length) : "\xEF\xBF\xBD");
    i += ch.length;
  }
  return out;
}

std::optional<std::string> encode(const Value& value, Options options) {
  std::string out;
  if (!appendValue(out, value, options)) return std::nullopt;
  return out;
}

}  // namespace orvane::json
