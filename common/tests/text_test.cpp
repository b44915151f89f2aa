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

TEST(CanonicalDecomposition, EquivalentTextsMeet) {
  EXPECT_EQ(canonicalDecomposition("Caf\u00E9"), canonicalDecomposition("Cafe\u0301"));
  EXPECT_EQ(canonicalDecomposition("\u1EE8"), "U\u031B\u0301");  // two levels deep
  // Marks of different classes in either order are the same text; the same class is not.
  EXPECT_EQ(canonicalDecomposition("a\u0323\u0301"), canonicalDecomposition("a\u0301\u0323"));
  EXPECT_NE(canonicalDecomposition("a\u0301\u0300"), canonicalDecomposition("a\u0300\u0301"));
  EXPECT_EQ(canonicalDecomposition("\uD55C"), "\u1112\u1161\u11AB");  // Hangul by rule
  EXPECT_EQ(canonicalDecomposition("\u212B"), "A\u030A");            // Angstrom sign
  EXPECT_NE(canonicalDecomposition("\uFB01"), "fi");  // compatibility forms stay apart
  EXPECT_EQ(canonicalDecomposition("ok\xFF"), "ok\xFF");
}

}  // namespace
}  // namespace orvane
