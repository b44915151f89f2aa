#include <csignal>

#include "ocr.hpp"

int main(int argc, char** argv) {
  // A host that stops reading must not turn the status into a signal death: it is always 0.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> imagePaths(argv + (argc > 0 ? 1 : 0), argv + argc);
  orvane::StandardOutput output;
  auto recognizer = orvane::ocr::makeTextRecognizer();
  return orvane::ocr::run(imagePaths, *recognizer, output);
}
