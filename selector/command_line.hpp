// The selector's command line: `--warm`, or `select` with its options.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::selector {

enum class SelectionMode { screen, window };

struct SelectorConfig {
  std::set<std::int32_t> excludedPids;
  std::set<std::string> excludedOwnerNames;
  std::string micLabel;
  std::string warning;
  SelectionMode initialMode = SelectionMode::screen;
};

inline constexpr std::string_view kUsage =
    "Usage: orvane-capture-selector <select|--warm> [--exclude-pid pid] [--exclude-owner name] "
    "[--mic-label label] [--warning text] [--initial-mode screen|window]\n";
inline constexpr std::string_view kWarmAnswer = "{\"warmed\":true}\n";

enum class Invocation { select, warm, misuse };

struct ParsedArguments {
  Invocation invocation = Invocation::misuse;
  SelectorConfig config;  // for `select`
};

// Scans the arguments after the program name. Only the first decides what the run is; after
// "select" they are read in pairs, the last occurrence of an option winning, unknown names
// skipped with their value, a lone trailing argument ignored.
ParsedArguments parseArguments(const std::vector<std::string>& arguments);

}  // namespace orvane::selector
