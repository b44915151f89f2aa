#include "command_line.hpp"

#include "grapheme.hpp"
#include "options.hpp"

namespace orvane::selector {

std::string labelText(std::string_view text) {
  return boundedLabel(text, kMaxLabelClusters, kMaxLabelBytes);
}

ParsedArguments parseArguments(const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  if (arguments.empty()) return parsed;
  if (arguments[0] == "--warm") {
    parsed.invocation = Invocation::warm;
    return parsed;
  }
  if (arguments[0] != "select") return parsed;
  parsed.invocation = Invocation::select;
  SelectorConfig& config = parsed.config;
  // Pairs from the first argument after "select"; a lone last argument is not an option.
  for (std::size_t i = 1; i + 1 < arguments.size(); i += 2) {
    const std::string& name = arguments[i];
    const std::string& value = arguments[i + 1];
    if (name == "--exclude-pid") {
      if (auto pid = parseInt32(value)) config.excludedPids.insert(*pid);
    } else if (name == "--exclude-owner") {
      config.excludedOwnerNames.insert(value);
    } else if (name == "--mic-label") {
      config.micLabel = labelText(value);
    } else if (name == "--warning") {
      config.warning = labelText(value);
    } else if (name == "--initial-mode") {
      config.initialMode = value == "window" ? SelectionMode::window : SelectionMode::screen;
    }
  }
  return parsed;
}

}  // namespace orvane::selector
