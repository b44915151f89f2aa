#include "options.hpp"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(NumericOption, AcceptsSignAndDigitsOnly) {
  EXPECT_EQ(parseInt32("12"), 12);
  EXPECT_EQ(parseInt32("+12"), 12);
  EXPECT_EQ(parseInt32("012"), 12);
  EXPECT_EQ(parseInt32("-5"), -5);
  EXPECT_EQ(parseInt32("-0"), 0);
  for (const char* bad :
       {"", "+", "-", " 1", "1 ", "1 2", "12abc", "0x10", "1.0", "1_000", "+-1", "--1", "١"}) {
    EXPECT_FALSE(parseInt32(bad)) << bad;
    EXPECT_FALSE(parseInt64(bad)) << bad;
    EXPECT_FALSE(parseUInt32(bad)) << bad;
  }
}

TEST(NumericOption, RangeOfEachType) {
  EXPECT_EQ(parseInt32("2147483647"), 2147483647);
  EXPECT_FALSE(parseInt32("2147483648"));
  EXPECT_EQ(parseInt32("-2147483648"), INT32_MIN);
  EXPECT_FALSE(parseInt32("-2147483649"));
  EXPECT_EQ(parseInt64("9223372036854775807"), INT64_MAX);
  EXPECT_FALSE(parseInt64("9223372036854775808"));
  EXPECT_EQ(parseInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_FALSE(parseInt64("-9223372036854775809"));
  EXPECT_FALSE(parseInt64("99999999999999999999999"));
  EXPECT_EQ(parseUInt32("4294967295"), 4294967295u);
  EXPECT_FALSE(parseUInt32("4294967296"));
  EXPECT_EQ(parseUInt32("+0004294967295"), 4294967295u);
}

TEST(NumericOption, UnsignedTakesMinusOnlyBeforeZeros) {
  EXPECT_EQ(parseUInt32("-0"), 0u);
  EXPECT_EQ(parseUInt32("-000"), 0u);
  EXPECT_FALSE(parseUInt32("-1"));
  EXPECT_FALSE(parseUInt32("-01"));
}

}  // namespace
}  // namespace orvane
