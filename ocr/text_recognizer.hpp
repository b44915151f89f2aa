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

// The largest image recognised, in pixels: well above any screen (an 8K frame is 33 million),
// far below what would exhaust memory. An image that declares more is not decoded at all and
// gives the empty result, so a small file that claims a huge bitmap costs nothing.
inline constexpr double kMaxImagePixels = 64e6;

inline bool withinPixelLimit(double width, double height) {
  return width > 0 && height > 0 && width * height <= kMaxImagePixels;
}

// Vision on macOS, Tesseract on Linux (whatever the desktop: it reads files, not the screen).
// Never write to the standard streams.
std::unique_ptr<TextRecognizer> makeTextRecognizerVision();
std::unique_ptr<TextRecognizer> makeTextRecognizerTesseract();
// This build's recognizer.
std::unique_ptr<TextRecognizer> makeTextRecognizer();

}  // namespace orvane::ocr
