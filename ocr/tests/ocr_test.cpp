#include "ocr.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "text_recognizer_fake.hpp"

namespace orvane::ocr {
namespace {

TextObservation line(std::optional<std::string> text, float conf = 0.5f, OCRBox box = {}) {
  return {std::move(text), conf, box};
}

std::string runTool(FakeTextRecognizer& recognizer, const std::vector<std::string>& paths) {
  CapturedOutput output;
  EXPECT_EQ(run(paths, recognizer, output), 0);
  EXPECT_EQ(output.outWrites, 1);
  EXPECT_EQ(output.err, "");
  return output.out;
}

TEST(OcrResultAssembly, JoinsTrimmedLinesInRecognizerOrderAndSkipsBlankOnes) {
  FakeTextRecognizer recognizer;
  recognizer.answers["/a.png"] = {line(" Zeta \n", 0.25f, {0.1, 0.8, 0.5, 0.1}), line(" \t\n"),
                                  line(std::nullopt), line(""),
                                  line("Alpha  beta", 1.0f, {0, 0, 1, 1})};
  const OCRResult result = recognizeText("/a.png", recognizer);
  EXPECT_EQ(result.imagePath, "/a.png");
  EXPECT_EQ(result.text, "Zeta\nAlpha  beta");
  ASSERT_EQ(result.blocks.size(), 2u);
  EXPECT_EQ(result.blocks[0].text, "Zeta");
  EXPECT_EQ(result.blocks[0].box.y, 0.8);
  EXPECT_EQ(result.blocks[0].conf, 0.25);
  EXPECT_EQ(result.blocks[1].text, "Alpha  beta");
}

TEST(OcrResultAssembly, FailuresAndEmptyImagesGiveTheEmptyResult) {
  FakeTextRecognizer recognizer;
  recognizer.answers["blank.png"] = {};
  recognizer.answers["spaces.png"] = {line("  "), line("\n")};
  for (const char* path : {"missing.png", "blank.png", "spaces.png"}) {
    const OCRResult result = recognizeText(path, recognizer);
    EXPECT_EQ(result.imagePath, path);
    EXPECT_EQ(result.text, "");
    EXPECT_TRUE(result.blocks.empty());
  }
}

TEST(OcrOutput, WritesEveryKeyInRecordOrderWithSlashesUnescapedAndNoNewline) {
  FakeTextRecognizer recognizer;
  recognizer.answers["/tmp/frames/one.png"] = {line("Open \"a/b\"", 0.5f, {0.25, 0.75, 0.5, 0.125}),
                                               line("Close", 1.0f, {0, 0, 1, 1})};
  EXPECT_EQ(runTool(recognizer, {"/tmp/frames/one.png", "/tmp/missing.png"}),
            R"([{"imagePath":"/tmp/frames/one.png","text":"Open \"a/b\"\nClose","blocks":[)"
            R"({"text":"Open \"a/b\"","box":{"x":0.25,"y":0.75,"w":0.5,"h":0.125},"conf":0.5},)"
            R"({"text":"Close","box":{"x":0,"y":0,"w":1,"h":1},"conf":1}]},)"
            R"({"imagePath":"/tmp/missing.png","text":"","blocks":[]}])");
}

TEST(OcrOutput, ConfidenceIsTheSinglePrecisionValueWidened) {
  FakeTextRecognizer recognizer;
  recognizer.answers["p"] = {line("x", 0.3f)};
  EXPECT_EQ(runTool(recognizer, {"p"}),
            R"([{"imagePath":"p","text":"x","blocks":[{"text":"x","box":{"x":0,"y":0,"w":0,)"
            R"("h":0},"conf":0.30000001192092896}]}])");
}

TEST(OcrOutput, NoArgumentsAndUnwritableNumbersPrintAnEmptyArray) {
  FakeTextRecognizer recognizer;
  EXPECT_EQ(runTool(recognizer, {}), "[]");
  recognizer.answers["ok"] = {line("fine")};
  recognizer.answers["bad"] = {line("x", std::numeric_limits<float>::quiet_NaN())};
  EXPECT_EQ(runTool(recognizer, {"ok", "bad"}), "[]");
}

TEST(OcrOutput, EveryArgumentIsRecognisedInOrderRepeatsIncluded) {
  FakeTextRecognizer recognizer;
  recognizer.answers["b"] = {line("B")};
  const std::string out = runTool(recognizer, {"b", "a", "b", "--help"});
  EXPECT_EQ(recognizer.requested, (std::vector<std::string>{"b", "a", "b", "--help"}));
  const std::string b = R"({"imagePath":"b","text":"B","blocks":[{"text":"B","box":{"x":0,"y":0,)"
                        R"("w":0,"h":0},"conf":0.5}]})";
  EXPECT_EQ(out, "[" + b + R"(,{"imagePath":"a","text":"","blocks":[]},)" + b +
                     R"(,{"imagePath":"--help","text":"","blocks":[]}])");
}

TEST(OcrOutput, TextThatIsNotUtf8IsWrittenWithReplacementCharacters) {
  FakeTextRecognizer recognizer;
  recognizer.answers["p\xFF"] = {line("ok\xC3")};
  EXPECT_EQ(runTool(recognizer, {"p\xFF"}),
            "[{\"imagePath\":\"p\uFFFD\",\"text\":\"ok\uFFFD\",\"blocks\":[{\"text\":\"ok\uFFFD\","
            "\"box\":{\"x\":0,\"y\":0,\"w\":0,\"h\":0},\"conf\":0.5}]}]");
}

}  // namespace
}  // namespace orvane::ocr
