// The recognizer of the platform this program was built for. Text recognition reads image
// files, so the desktop a Linux process runs on does not enter into it.
#include "text_recognizer.hpp"

namespace orvane::ocr {

std::unique_ptr<TextRecognizer> makeTextRecognizer() {
#if defined(__APPLE__)
  return makeTextRecognizerVision();
#else
  return makeTextRecognizerTesseract();
#endif
}

}  // namespace orvane::ocr
