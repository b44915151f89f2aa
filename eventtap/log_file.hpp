// Writing the event log to its file: the directory is created, the bytes go to a private
// temporary file beside the log, reach the disk, and replace the log in one rename.
#pragma once

#include <optional>
#include <string>

#include "event_log.hpp"

namespace orvane::eventtap {

// The temporary file that the log of process `pid` is written to before it takes its place:
// ".<name>.<pid>.tmp" in the log's directory (a name longer than 200 bytes is shortened).
std::string temporaryPathFor(const std::string& outputPath, long pid);

// Creates `path` and every missing directory above it with default attributes; an existing
// directory is no failure. Symbolic links to directories are followed, as any path lookup
// does. Returns a description of the failure, or nothing.
std::optional<std::string> createDirectories(const std::string& path);

// Encodes `log` and writes it to `outputPath`: the directory is created, then the document goes
// to the temporary file (created anew with mode 0600, never through an existing file or link),
// is flushed to the disk and renamed over `outputPath`, and the directory is flushed too. On
// any failure an existing file at `outputPath` is left as it was, no temporary file remains,
// and the result describes the failure; on success the result is nothing.
std::optional<std::string> writeEventLog(const std::string& outputPath, const EventLog& log,
                                         long pid);

}  // namespace orvane::eventtap
