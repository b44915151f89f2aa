// The selector's command line: `--warm`, or `select` with its options.
#pragma once

#include <cstddef>
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

// Text from outside (the command line, window names) as the pill and the bubble lay it out:
// valid UTF-8, each bad sequence shown as U+FFFD, and cut with "…" to 400 grapheme clusters and
// 1 KiB. No display shows more of a label, and laying text out takes time that grows with the
// square of its length.
inline constexpr std::size_t kMaxLabelClusters = 400;
inline constexpr std::size_t kMaxLabelBytes = 1024;
std::string labelText(std::string_view text);

enum class Invocation { select, warm, misuse };

struct ParsedArguments {
  Invocation invocation = Invocation::misuse;
  SelectorConfig config;  // for `select`
};

// Scans the arguments after the program name. Only the first decides what the run is; after
// "select" they are read in pairs, the last occurrence of an option winning, unknown names
// skipped with their value, a lone trailing argument ignored. The mic label and the warning
// are kept as `labelText`.
ParsedArguments parseArguments(const std::vector<std::string>& arguments);

}  // namespace orvane::selector
