// orvane-ocr: the recognised lines of image files, with their boxes and confidences, as one array.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "output.hpp"
#include "text_recognizer.hpp"

namespace orvane::ocr {

struct OCRBlock {
  std::string text;  // trimmed, never empty
  OCRBox box;
  double conf = 0;
};

struct OCRResult {
  std::string imagePath;
  std::string text;  // the blocks' texts joined with "\n"
  std::vector<OCRBlock> blocks;
};

// Recognises one image; every failure gives the result with no text and no blocks.
OCRResult recognizeText(const std::string& imagePath, TextRecognizer& recognizer);

// The exact bytes printed for `results`: a compact array with "/" unescaped, "[]" when a number
// cannot be written.
std::string encodeResults(const std::vector<OCRResult>& results);

// The whole tool: every argument is an image path, recognised in order; one write; status 0.
int run(const std::vector<std::string>& imagePaths, TextRecognizer& recognizer, Output& output);

}  // namespace orvane::ocr
