#include "text.hpp"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(Lowercased, EveryScriptWithCase) {
  EXPECT_EQ(lowercased("Safari TERMINAL"), "safari terminal");
  EXPECT_EQ(lowercased("ÉCOLE Ärger ×"), "école ärger ×");
  EXPECT_EQ(lowercased("ŁÓDŹ ŸÉ ȘTIRI"), "łódź ÿé știri");
  EXPECT_EQ(lowercased("ΣΟΦΊΑ Москва ЁЖ Ѣ Ӏ"), "σοφία москва ёж ѣ ӏ");
  EXPECT_EQ(lowercased("ỨNG DỤNG ẞ ԱՐ ＡＢＣ 𐐀"), "ứng dụng ß ար ａｂｃ 𐐨");
  EXPECT_EQ(lowercased("İ"), "i");
}

TEST(Lowercased, OtherCharactersAndBadBytesPassThrough) {
  EXPECT_EQ(lowercased("日本 123 ß"), "日本 123 ß");
  EXPECT_EQ(lowercased("A\xFF" "B\xC3"), "a\xFF" "b\xC3");
  EXPECT_EQ(lowercased("\xE2\x82"), "\xE2\x82");
}

}  // namespace
}  // namespace orvane
