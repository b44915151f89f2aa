#include "ocr.hpp"

#include <cstdint>
#include <utility>

#include "json.hpp"
#include "text.hpp"

namespace orvane::ocr {
namespace {

json::Value toJson(const OCRResult& result) {
  json::Array blocks;
  blocks.reserve(result.blocks.size());
  for (const auto& block : result.blocks) {
    blocks.emplace_back(json::Object{
        {"text", block.text},
        {"box",
         json::Object{
             {"x", block.box.x}, {"y", block.box.y}, {"w", block.box.w}, {"h", block.box.h}}},
        {"conf", block.conf}});
  }
  return json::Object{
      {"imagePath", result.imagePath}, {"text", result.text}, {"blocks", std::move(blocks)}};
}

}  // namespace

OCRResult recognizeText(const std::string& imagePath, TextRecognizer& recognizer) {
  OCRResult result{imagePath, {}, {}};
  auto observations = recognizer.recognize(imagePath);
  if (!observations) return result;
  for (const auto& observation : *observations) {
    if (!observation.topCandidate) continue;
    const std::string_view text =
        trimmed(*observation.topCandidate, TrimSet::kWhitespaceAndNewlines);
    if (text.empty()) continue;
    if (!result.blocks.empty()) result.text += '\n';
    result.text += text;
    result.blocks.push_back(
        {std::string(text), observation.boundingBox, static_cast<double>(observation.confidence)});
  }
  return result;
}

std::string encodeResults(const std::vector<OCRResult>& results) {
  json::Array array;
  array.reserve(results.size());
  for (const auto& result : results) array.push_back(toJson(result));
  return json::encode(array, {.sortKeys = false, .escapeSlashes = false}).value_or("[]");
}

int run(const std::vector<std::string>& imagePaths, TextRecognizer& recognizer, Output& output) {
  std::vector<OCRResult> results;
  results.reserve(imagePaths.size());
  for (const auto& path : imagePaths) results.push_back(recognizeText(path, recognizer));
  output.writeOut(encodeResults(results));
  return 0;
}

}  // namespace orvane::ocr
