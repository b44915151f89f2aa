// A small JSON writer that produces the exact byte forms the tools print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orvane::json {

struct Value;
using Array = std::vector<Value>;
// Members in the order they were added; `Options::sortKeys` reorders them when writing.
using Object = std::vector<std::pair<std::string, Value>>;

struct Value {
  std::variant<std::nullptr_t, bool, std::int64_t, std::uint64_t, double, std::string, Array,
               Object>
      data;

  Value() : data(nullptr) {}
  Value(std::nullptr_t) : data(nullptr) {}
  Value(bool b) : data(b) {}
  Value(int i) : data(static_cast<std::int64_t>(i)) {}
  Value(long i) : data(static_cast<std::int64_t>(i)) {}
  Value(long long i) : data(static_cast<std::int64_t>(i)) {}
  Value(unsigned u) : data(static_cast<std::uint64_t>(u)) {}
  Value(unsigned long u) : data(static_cast<std::uint64_t>(u)) {}
  Value(unsigned long long u) : data(static_cast<std::uint64_t>(u)) {}
  Value(double d) : data(d) {}
  Value(const char* s) : data(std::string(s)) {}
  Value(std::string s) : data(std::move(s)) {}
  Value(std::string_view s) : data(std::string(s)) {}
  Value(Array a) : data(std::move(a)) {}
  Value(Object o) : data(std::move(o)) {}
};

struct Options {
  bool sortKeys = false;      // keys of every object in ascending byte order
  bool escapeSlashes = true;  // "/" written as "\/"
};

// Compact JSON text of `value`, or nothing when a number is not finite.
// Strings that are not valid UTF-8 are written with U+FFFD in place of each bad sequence.
std::optional<std::string> encode(const Value& value, Options options = {});

// The shortest decimal form that reads back to the same double; whole values carry no
// fraction ("900", "-144.5", "0"), and magnitudes from 1e-5 up to 1e16 are written without an
// exponent ("100000", "0.0001"). Only for finite values.
std::string formatDouble(double value);

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD (maximal subparts, as
// Unicode recommends), so that one bad byte costs one replacement character.
std::string sanitizeUtf8(std::string_view text);

}  // namespace orvane::json
