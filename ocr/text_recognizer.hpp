// The platform's text recognizer, line by line.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::ocr {

// Where a line is: fractions of the image, origin at its bottom-left corner, y upwards.
struct OCRBox {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
};

// One observation of the recognizer, in the order it returned them.
struct TextObservation {
  std::optional<std::string> topCandidate;  // UTF-8; nothing when the recognizer offers none
  float confidence = 0;                     // 0 to 1
  OCRBox boundingBox;
};

class TextRecognizer {
 public:
  virtual ~TextRecognizer() = default;
  // Loads and recognises the image at `path`, synchronously. Nothing when the image cannot be
  // loaded or recognised.
  virtual std::optional<std::vector<TextObservation>> recognize(const std::string& path) = 0;
};

// Vision on macOS, Tesseract on Linux. Never writes to the standard streams.
std::unique_ptr<TextRecognizer> makeTextRecognizer();

}  // namespace orvane::ocr
