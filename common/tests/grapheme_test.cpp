#include "grapheme.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

std::vector<std::string> clusters(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const std::size_t n = firstGraphemeLength(text);
    out.emplace_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return out;
}

using Clusters = std::vector<std::string>;

TEST(Grapheme, CombiningMarksAndSpacingMarksStayWithTheirBase) {
  EXPECT_EQ(clusters("e\u0301\u0323x"), (Clusters{"e\u0301\u0323", "x"}));
  // Devanagari: a consonant with a vowel sign (spacing mark), then a virama (extend).
  EXPECT_EQ(clusters("\u0915\u093F\u0915\u094D"), (Clusters{"\u0915\u093F", "\u0915\u094D"}));
  // A mark at the start has nothing to attach to and is a cluster of its own.
  EXPECT_EQ(clusters("\u0301a"), (Clusters{"\u0301", "a"}));
  // Prepend joins what follows (Arabic number sign).
  EXPECT_EQ(clusters("\u0600\u0661x"), (Clusters{"\u0600\u0661", "x"}));
}

TEST(Grapheme, EmojiSequences) {
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
  const std::string skin = "\U0001F44D\U0001F3FD";
  const std::string heart = "\u2764\uFE0F";
  const std::string blackFlag = "\U0001F3F4\U000E0067\U000E0062\U000E007F";
  EXPECT_EQ(clusters(family + skin + heart + blackFlag),
            (Clusters{family, skin, heart, blackFlag}));
  // ZWJ joins two pictographs only: after a letter the next pictograph starts a cluster.
  EXPECT_EQ(clusters("a\u200D\U0001F469"), (Clusters{"a\u200D", "\U0001F469"}));
}

TEST(Grapheme, RegionalIndicatorsPairFromTheStartOfTheRun) {
  const std::string us = "\U0001F1FA\U0001F1F8", de = "\U0001F1E9\U0001F1EA";
  EXPECT_EQ(clusters(us + de + "\U0001F1FA"), (Clusters{us, de, "\U0001F1FA"}));
  EXPECT_EQ(clusters("a" + us), (Clusters{"a", us}));
}

TEST(Grapheme, HangulSyllablesAndJamo) {
  // Conjoining jamo L V T form one syllable; LV + T too; precomposed syllables stand alone.
  EXPECT_EQ(clusters("\u1100\u1161\u11A8\uAC00\u11A8\uAC01\uAC01"),
            (Clusters{"\u1100\u1161\u11A8", "\uAC00\u11A8", "\uAC01", "\uAC01"}));
  EXPECT_EQ(clusters("\uAC01\u1161"), (Clusters{"\uAC01", "\u1161"}));
}

TEST(Grapheme, LineBreaksAndControls) {
  EXPECT_EQ(clusters("a\r\n\n\r\u0301b\t"),
            (Clusters{"a", "\r\n", "\n", "\r", "\u0301", "b", "\t"}));
}

TEST(Grapheme, BytesThatAreNotUtf8StandAlone) {
  EXPECT_EQ(clusters("a\xC3\u0301\xF0\x9F\x98"), (Clusters{"a", "\xC3", "\u0301", "\xF0\x9F\x98"}));
}

TEST(Grapheme, PrefixAndCount) {
  const std::string text = "e\u0301\U0001F1FA\U0001F1F8\U0001F468\u200D\U0001F469z";
  EXPECT_EQ(graphemeCount(text), 4u);
  EXPECT_EQ(graphemePrefix(text, 2), "e\u0301\U0001F1FA\U0001F1F8");
  EXPECT_EQ(graphemePrefix(text, 4), text);
  EXPECT_EQ(graphemePrefix(text, 99), text);
  EXPECT_EQ(graphemePrefix(text, 0), "");
  EXPECT_EQ(graphemeCount(""), 0u);
}

}  // namespace
}  // namespace orvane
