// A canvas for unit tests: keeps the graphics state as a context would and records every
// painting operation with the state it painted under, as one readable line each.
#pragma once

#include <string>
#include <vector>

#include "canvas.hpp"
#include "json.hpp"

namespace orvane::selector {

class RecordingCanvas final : public Canvas {
 public:
  bool hasContext = true;  // false: no current graphics context
  std::vector<std::string> operations;

  std::optional<CompositingOperation> compositingOperation() override {
    if (!hasContext) return std::nullopt;
    return state_.operation;
  }
  void setCompositingOperation(CompositingOperation operation) override {
    state_.operation = operation;
  }
  void saveGraphicsState() override {
    stack_.push_back(state_);
    operations.push_back("save");
  }
  void restoreGraphicsState() override {
    if (!stack_.empty()) {
      state_ = stack_.back();
      stack_.pop_back();
    }
    operations.push_back("restore");
  }
  void setFillColor(Color color) override { state_.fill = color; }
  void setStrokeColor(Color color) override { state_.stroke = color; }
  void fillRect(const Rect& rect, CompositingOperation operation) override {
    operations.push_back("fillRect " + text(rect) + " op=" + text(operation) +
                         " fill=" + text(state_.fill));
  }
  void fillRoundedRect(const Rect& rect, double radius) override {
    operations.push_back("fillRounded " + text(rect) + " r=" + json::formatDouble(radius) +
                         " op=" + text(state_.operation) + " fill=" + text(state_.fill));
  }
  void strokeRoundedRect(const Rect& rect, double radius, double lineWidth) override {
    operations.push_back("strokeRounded " + text(rect) + " r=" + json::formatDouble(radius) +
                         " width=" + json::formatDouble(lineWidth) +
                         " op=" + text(state_.operation) + " stroke=" + text(state_.stroke));
  }

  // Built by appending: GCC 12 at -O3 warns falsely on `"(" + std::string`.
  static std::string text(const Rect& r) {
    std::string out = "(";
    for (double v : {r.x, r.y, r.width, r.height}) out.append(json::formatDouble(v)).append(",");
    out.back() = ')';
    return out;
  }
  // Components in 255ths, rounded, and the alpha as it is: "0,111,255@0.1".
  static std::string text(Color c) {
    auto byte = [](double v) { return std::to_string(static_cast<int>(v * 255 + 0.5)); };
    return byte(c.red) + "," + byte(c.green) + "," + byte(c.blue) + "@" +
           json::formatDouble(c.alpha);
  }
  static std::string text(CompositingOperation operation) {
    switch (operation) {
      case CompositingOperation::clear:
        return "clear";
      case CompositingOperation::copy:
        return "copy";
      case CompositingOperation::sourceOver:
        return "sourceOver";
    }
    return "?";
  }

 private:
  struct State {
    CompositingOperation operation = CompositingOperation::sourceOver;
    Color fill = Color::black();
    Color stroke = Color::black();
  };
  State state_;
  std::vector<State> stack_;
};

}  // namespace orvane::selector
