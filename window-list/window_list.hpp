// orvane-window-list: the windows a user could pick for a window recording, as one array.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "output.hpp"
#include "window_server.hpp"

namespace orvane::windowlist {

inline constexpr const char* kUsage =
    "Usage: orvane-window-list [--exclude-pid <pid>]* [--exclude-owner <name>]*\n";

struct WindowBounds {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct WindowTarget {
  std::uint32_t id = 0;
  std::int64_t ownerPid = 0;
  std::string ownerName;
  std::string title;
  WindowBounds bounds;
};

struct Exclusions {
  std::set<std::int64_t> excludedPids;
  std::set<std::string> excludedOwners;  // lower-cased
};

// Scans the arguments after the program name; nothing for a misused command line.
std::optional<Exclusions> parseArguments(const std::vector<std::string>& arguments,
                                         std::int64_t ownPid);

// The value readers: a missing or non-numeric value reads as 0, a non-text one as "".
double number(const RecordValue* value);
std::string string(const RecordValue* value);
std::optional<WindowBounds> windowBounds(const RecordValue* value);

// The filter chain over one snapshot, in the snapshot's order.
std::vector<WindowTarget> recordableWindows(const std::vector<RecordValue>& snapshot,
                                            const Exclusions& exclusions);

// The array's JSON text; nothing when a value cannot be encoded.
std::optional<std::string> encodeWindows(const std::vector<WindowTarget>& windows);

// The whole run; returns the exit status.
int run(const std::vector<std::string>& arguments, std::int64_t ownPid, WindowServer& server,
        Output& output);

}  // namespace orvane::windowlist
