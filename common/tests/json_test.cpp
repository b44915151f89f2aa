#include "json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvane::json {
namespace {

std::string enc(const Value& v, Options o = {}) { return encode(v, o).value_or("<failed>"); }

TEST(JsonWriter, EscapesAsJsonRequiresAndSlashOnlyWhenAsked) {
  const Value title = std::string("a\"b\\c/d\x01\n\té");
  EXPECT_EQ(enc(title), R"("a\"b\\c\/d\u0001\n\té")");
  EXPECT_EQ(enc(title, {.escapeSlashes = false}), R"("a\"b\\c/d\u0001\n\té")");
  EXPECT_EQ(enc(std::string("\x1f\x7f\b\f\r")), R"("\u001f)"
                                                "\x7f"
                                                R"(\b\f\r")");
}

TEST(JsonWriter, KeysInDeclarationOrderOrSortedAtEveryLevel) {
  const Value v = Object{{"b", 1}, {"a", Object{{"y", 1}, {"x", 2}}}, {"A", Array{1, "s"}}};
  EXPECT_EQ(enc(v), R"({"b":1,"a":{"y":1,"x":2},"A":[1,"s"]})");
  EXPECT_EQ(enc(v, {.sortKeys = true}), R"({"A":[1,"s"],"a":{"x":2,"y":1},"b":1})");
  // Keys are strings like any other: escaped the same way, sorted by their bytes.
  EXPECT_EQ(enc(Object{{"\u00e9", 1}, {"z/\n", 2}}, {.sortKeys = true}),
            "{\"z\\/\\n\":2,\"\u00e9\":1}");
}

TEST(JsonWriter, NumberForms) {
  EXPECT_EQ(
      enc(Array{900.0, -144.5, 0.0, 0.1, 1.0 / 3, 2.5e-7, 4294967295u, -9223372036854775807LL - 1}),
      "[900,-144.5,0,0.1,0.3333333333333333,2.5e-07,4294967295,-9223372036854775808]");
  EXPECT_EQ(enc(Array{true, false, nullptr}), "[true,false,null]");
  EXPECT_EQ(enc(-0.0), "-0");
  // Round values stay plain decimals; only the far ends take an exponent.
  EXPECT_EQ(enc(Array{100000.0, 1e6, -2e15, 0.0001, 1e-5, 1e16, 1e21}),
            "[100000,1000000,-2000000000000000,0.0001,0.00001,1e+16,1e+21]");
}

TEST(JsonWriter, ShortestDoublesReadBack) {
  for (double d : {0.1 + 0.2, 1e300, 5e-324, 123456789.125, -0.011, 1.5, 1e-5 + 1e-20,
                   9999999999999998.0, 123456.7e-3}) {
    EXPECT_EQ(std::strtod(formatDouble(d).c_str(), nullptr), d) << formatDouble(d);
  }
}

TEST(JsonWriter, NonFiniteNumberFailsTheWholeDocument) {
  EXPECT_FALSE(encode(Object{{"x", std::nan("")}}));
  EXPECT_FALSE(encode(Array{1, Array{std::numeric_limits<double>::infinity()}}));
  EXPECT_FALSE(encode(-std::numeric_limits<double>::infinity()));
}

TEST(JsonWriter, InvalidUtf8BecomesReplacementCharacters) {
  // A lone continuation byte, a truncated sequence, an overlong form, a surrogate and a byte
  // that never occurs in UTF-8: each bad sequence becomes one U+FFFD.
  EXPECT_EQ(enc(std::string("a\x80z")), "\"a\xEF\xBF\xBDz\"");
  EXPECT_EQ(enc(std::string("\xE2\x82")), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(enc(std::string("\xC0\xAF")), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(enc(std::string("\xED\xA0\x80")), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(enc(std::string("\xFF")), "\"\xEF\xBF\xBD\"");
  // Valid sequences of every length pass unchanged, keys included.
  EXPECT_EQ(enc(Object{{"\xC3\xA9", std::string("\xE2\x82\xAC\xF0\x9F\x98\x80")}}),
            "{\"\xC3\xA9\":\"\xE2\x82\xAC\xF0\x9F\x98\x80\"}");
  EXPECT_EQ(sanitizeUtf8("ok\xF4\x90\x80\x80"),
            "ok\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace orvane::json
