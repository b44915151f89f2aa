#include "ocr.hpp"

#include <cstdint>
#include <utility>

#include "json.hpp"
#include "text.hpp"

namespace orvane::ocr {
namespace {

// White space and line breaks as Unicode defines them (Zs, tab, and U+000A to U+000D, U+0085,
// U+2028, U+2029): the set the macOS recognizer's results are trimmed with.
bool isWhiteSpaceOrNewline(char32_t c) {
  switch (c) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
    case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

// Length of the well-formed UTF-8 sequence at the start of `s` and its code point; 0 when the
// bytes there are not one.
std::size_t decodeFirst(std::string_view s, char32_t& c) {
  if (s.empty()) return 0;
  const Utf8Char ch = decodeUtf8(s);
  if (!ch.valid) return 0;
  c = ch.value;
  return ch.length;
}

// Length of the well-formed sequence that ends `s`, as decodeFirst does from the front.
std::size_t decodeLast(std::string_view s, char32_t& c) {
  for (std::size_t length = 1; length <= 4 && length <= s.size(); ++length) {
    const auto b = static_cast<std::uint8_t>(s[s.size() - length]);
    if ((b & 0xC0) == 0x80) continue;
    return decodeFirst(s.substr(s.size() - length), c) == length ? length : 0;
  }
  return 0;
}

json::Value toJson(const OCRResult& result) {
  json::Array blocks;
  blocks.reserve(result.blocks.size());
  for (const auto& block : result.blocks) {
    blocks.emplace_back(json::Object{
        {"text", block.text},
        {"box", json::Object{{"x", block.box.x},
                             {"y", block.box.y},
                             {"w", block.box.w},
                             {"h", block.box.h}}},
        {"conf", block.conf}});
  }
  return json::Object{
      {"imagePath", result.imagePath}, {"text", result.text}, {"blocks", std::move(blocks)}};
}

}  // namespace

std::string_view trimmed(std::string_view text) {
  char32_t c = 0;
  while (std::size_t n = decodeFirst(text, c)) {
    if (!isWhiteSpaceOrNewline(c)) break;
    text.remove_prefix(n);
  }
  while (std::size_t n = decodeLast(text, c)) {
    if (!isWhiteSpaceOrNewline(c)) break;
    text.remove_suffix(n);
  }
  return text;
}

OCRResult recognizeText(const std::string& imagePath, TextRecognizer& recognizer) {
  OCRResult result{imagePath, {}, {}};
  auto observations = recognizer.recognize(imagePath);
  if (!observations) return result;
  for (const auto& observation : *observations) {
    if (!observation.topCandidate) continue;
    const std::string_view text = trimmed(*observation.topCandidate);
    if (text.empty()) continue;
    if (!result.blocks.empty()) result.text += '\n';
    result.text += text;
    result.blocks.push_back({std::string(text), observation.boundingBox,
                             static_cast<double>(observation.confidence)});
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
