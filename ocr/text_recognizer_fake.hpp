// A scripted recognizer for tests: answers per path, records every request.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "text_recognizer.hpp"

namespace orvane::ocr {

class FakeTextRecognizer final : public TextRecognizer {
 public:
  // Paths without an answer fail, as a missing file does.
  std::map<std::string, std::vector<TextObservation>> answers;
  std::vector<std::string> requested;

  std::optional<std::vector<TextObservation>> recognize(const std::string& path) override {
    requested.push_back(path);
    auto it = answers.find(path);
    if (it == answers.end()) return std::nullopt;
    return it->second;
  }
};

}  // namespace orvane::ocr
