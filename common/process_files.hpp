// Files of the local system, read with plain calls: the stream library would add half a
// megabyte to each program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orvane {

// The first `limit` bytes (or fewer) of a regular file; empty when it cannot be read or is
// something else (a FIFO, a device, a folder).
std::string readFilePrefix(const std::string& path, std::size_t limit);

// The name of the program process `pid` runs, in UTF-8: its executable's file name
// (/proc/PID/comm would cut it to 15 bytes), else comm. Nothing for a process we cannot see.
std::optional<std::string> programName(std::int64_t pid);

}  // namespace orvane
