#include "text.hpp"

#include <gtest/gtest.h>

namespace orvane {
namespace {

std::string_view trimmedAll(std::string_view text) {
  return trimmed(text, TrimSet::kWhitespaceAndNewlines);
}

TEST(Trimmed, RemovesUnicodeWhiteSpaceAndLineBreaksAtBothEnds) {
  EXPECT_EQ(trimmedAll(" \t\r\n Save \n"), "Save");
  EXPECT_EQ(trimmedAll("\u00A0\u3000\u2003Save\u2028\u2029\u0085\u202F\u205F"), "Save");
  EXPECT_EQ(trimmedAll("\v\fSave as…\u1680"), "Save as…");
  EXPECT_EQ(trimmedAll("Move  to\tTrash"), "Move  to\tTrash");
  EXPECT_EQ(trimmedAll(" \n\u00A0\t"), "");
  EXPECT_EQ(trimmedAll(""), "");
}

TEST(Trimmed, BlanksOnlyKeepLineBreaks) {
  const auto blanks = [](std::string_view t) { return trimmed(t, TrimSet::kWhitespace); };
  EXPECT_EQ(blanks("\t\u00A0\u2003Notes\u3000 "), "Notes");
  EXPECT_EQ(blanks(" \nNotes\r\n "), "\nNotes\r\n");
  EXPECT_EQ(blanks("\u2028Notes\u0085"), "\u2028Notes\u0085");
  EXPECT_EQ(blanks(" \t "), "");
}

TEST(Trimmed, KeepsCharactersThatOnlyLookBlank) {
  for (const TrimSet set : {TrimSet::kWhitespaceAndNewlines, TrimSet::kWhitespace}) {
    // Zero-width space and the byte-order mark are format characters, not white space.
    EXPECT_EQ(trimmed("\u200BSave\uFEFF", set), "\u200BSave\uFEFF");
    // Stray bytes are never white space, and no partial sequence is cut.
    EXPECT_EQ(trimmed(" \xC2 Save \xE3\x80", set), "\xC2 Save \xE3\x80");
    EXPECT_EQ(trimmed("\xA0Save\xA0", set), "\xA0Save\xA0");
    EXPECT_EQ(trimmed("Save\x80\x80\x80\x80 ", set), "Save\x80\x80\x80\x80");
    EXPECT_EQ(trimmed("\x80\x80\xE2\x80\x80", set), "\x80\x80");
  }
}

TEST(Utf16ToUtf8, PairsSurrogatesAndReplacesLoneOnes) {
  EXPECT_EQ(utf16ToUtf8(u""), "");
  EXPECT_EQ(utf16ToUtf8(u"Safari é 日本"), "Safari é 日本");
  EXPECT_EQ(utf16ToUtf8(u"a\U0001F600b"), "a\U0001F600b");
  EXPECT_EQ(utf16ToUtf8(std::u16string_view(u"\0x", 2)), std::string("\0x", 2));
  // A title cut in the middle of an emoji, either half, and halves in the wrong order.
  const char16_t high[] = {u'a', 0xD83D};
  EXPECT_EQ(utf16ToUtf8({high, 2}), "a\uFFFD");
  const char16_t low[] = {0xDE00, u'b'};
  EXPECT_EQ(utf16ToUtf8({low, 2}), "\uFFFDb");
  const char16_t swapped[] = {0xDE00, 0xD83D};
  EXPECT_EQ(utf16ToUtf8({swapped, 2}), "\uFFFD\uFFFD");
  const char16_t twoHighs[] = {0xD83D, 0xD83D, 0xDE00};
  EXPECT_EQ(utf16ToUtf8({twoHighs, 3}), "\uFFFD\U0001F600");
  EXPECT_EQ(utf16ToUtf8(u"\uFFFF\uE000"), "\uFFFF\uE000");
}

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
  EXPECT_EQ(lowercased("A\xFF"
                       "B\xC3"),
            "a\xFF"
            "b\xC3");
  EXPECT_EQ(lowercased("\xE2\x82"), "\xE2\x82");
}

TEST(CanonicalDecomposition, EquivalentTextsMeet) {
  EXPECT_EQ(canonicalDecomposition("Caf\u00E9"), canonicalDecomposition("Cafe\u0301"));
  EXPECT_EQ(canonicalDecomposition("\u1EE8"), "U\u031B\u0301");  // two levels deep
  // Marks of different classes in either order are the same text; the same class is not.
  EXPECT_EQ(canonicalDecomposition("a\u0323\u0301"), canonicalDecomposition("a\u0301\u0323"));
  EXPECT_NE(canonicalDecomposition("a\u0301\u0300"), canonicalDecomposition("a\u0300\u0301"));
  EXPECT_EQ(canonicalDecomposition("\uD55C"), "\u1112\u1161\u11AB");  // Hangul by rule
  EXPECT_EQ(canonicalDecomposition("\u212B"), "A\u030A");             // Angstrom sign
  EXPECT_NE(canonicalDecomposition("\uFB01"), "fi");  // compatibility forms stay apart
  EXPECT_EQ(canonicalDecomposition("ok\xFF"), "ok\xFF");
}

}  // namespace
}  // namespace orvane
