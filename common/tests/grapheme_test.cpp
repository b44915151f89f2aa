#include "grapheme.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text.hpp"

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

bool validUtf8(std::string_view text) {
  while (!text.empty()) {
    const Utf8Char c = decodeUtf8(text);
    if (!c.valid) return false;
    text.remove_prefix(c.length);
  }
  return true;
}

TEST(BoundedLabel, ReplacesEachBadSequenceOnce) {
  EXPECT_EQ(boundedLabel("Mic \xff\xfe ok", 400, 1024), "Mic \uFFFD\uFFFD ok");
  // A truncated sequence is one replacement; an overlong form is two bad bytes.
  EXPECT_EQ(boundedLabel("a\xF0\x9F\x98\x62\xC0\xAF", 400, 1024), "a\uFFFDb\uFFFD\uFFFD");
  EXPECT_EQ(boundedLabel("\xE2\x82", 400, 1024), "\uFFFD");
  const std::string fine = "Caf\xC3\xA9 \U0001F468\u200D\U0001F469 \u6F22";
  EXPECT_EQ(boundedLabel(fine, 400, 1024), fine);
  EXPECT_EQ(boundedLabel("", 400, 1024), "");
}

TEST(BoundedLabel, CutsWholeClustersAndEndsWithAnEllipsis) {
  // Exactly at either limit: unchanged.
  EXPECT_EQ(boundedLabel("abcd", 4, 1024), "abcd");
  EXPECT_EQ(boundedLabel("abcd", 400, 4), "abcd");
  // Over: the ellipsis takes the last place.
  EXPECT_EQ(boundedLabel("abcde", 4, 1024), "abc\u2026");
  EXPECT_EQ(boundedLabel("abcdef", 400, 5), "ab\u2026");
  const std::string accented = "e\u0301e\u0301e\u0301e\u0301";
  EXPECT_EQ(boundedLabel(accented, 3, 1024), "e\u0301e\u0301\u2026");
  EXPECT_EQ(boundedLabel(accented, 400, 8), "e\u0301\u2026");
  // A replacement character is a cluster like any other.
  EXPECT_EQ(boundedLabel("\xff\xff\xff\xff\xff", 3, 1024), "\uFFFD\uFFFD\u2026");
}

TEST(BoundedLabel, OneClusterLongerThanTheLimitKeepsItsBase) {
  std::string stacked = "a";
  for (int i = 0; i < 40000; ++i) stacked += "\u0301";
  const std::string cut = boundedLabel(stacked, 400, 64);
  EXPECT_EQ(cut.substr(0, 1), "a");
  EXPECT_EQ(cut.substr(cut.size() - 3), "\u2026");
  EXPECT_LE(cut.size(), 64u);
  EXPECT_GE(cut.size(), 62u);
  EXPECT_TRUE(validUtf8(cut));
}

TEST(BoundedLabel, AnyBytesGiveValidTextWithinTheLimitsThatStaysAsItIs) {
  std::mt19937 random(7);
  // Bytes biased towards UTF-8 lead and continuation bytes, marks and joiners.
  const std::string pieces[] = {"a",        " ",      "\xff",         "\xC3",       "\xA9",
                                "\xE2\x80", "\u0301", "\u200D",       "\U0001F469", "\U0001F1FA",
                                "\r\n",     "\u0600", "\u1100\u1161", "\xF0\x9F"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 300);
    for (int i = 0; i < length; ++i) text += pieces[random() % std::size(pieces)];
    const std::size_t maxClusters = 1 + random() % 60, maxBytes = 3 + random() % 200;
    const std::string cut = boundedLabel(text, maxClusters, maxBytes);
    ASSERT_TRUE(validUtf8(cut)) << round;
    ASSERT_LE(graphemeCount(cut), maxClusters) << round;
    ASSERT_LE(cut.size(), maxBytes) << round;
    ASSERT_EQ(boundedLabel(cut, maxClusters, maxBytes), cut) << round;
    if (validUtf8(text) && graphemeCount(text) <= maxClusters && text.size() <= maxBytes) {
      ASSERT_EQ(cut, text) << round;
    }
  }
}

}  // namespace
}  // namespace orvane
