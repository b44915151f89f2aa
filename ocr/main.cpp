#include "ocr.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> imagePaths(argv + (argc > 0 ? 1 : 0), argv + argc);
  orvane::StandardOutput output;
  auto recognizer = orvane::ocr::makeTextRecognizer();
  return orvane::ocr::run(imagePaths, *recognizer, output);
}
