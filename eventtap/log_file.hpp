// Writing the event log to its file: the directory is created, the bytes go to a private
// temporary file beside the log, reach the disk, and replace the log in one rename. The
// temporary file has no name while it is written (Linux), or a random one: a kill leaves no
// copy of the recording at a name anyone knows, and no file planted at a name can stop the
// write. A kill while the temporary file has its name (between naming and rename) leaves it
// behind; the writer holds a lock on it all that time, so the next recording of the same log
// can tell such a copy from one still being written and removes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "event_log.hpp"

namespace orvane::eventtap {

// A name for the temporary file beside the log: ".<name>.<random>.tmp" in the log's directory,
// `random` being 12 letters and digits (a name longer than 200 bytes is shortened).
std::string temporaryPathFor(const std::string& outputPath, std::string_view random);

// Creates `path` and every missing directory above it with default attributes; an existing
// directory is no failure. Symbolic links to directories are followed, as any path lookup
// does. Returns a description of the failure, or nothing.
std::optional<std::string> createDirectories(const std::string& path);

// Removes the temporary files beside `outputPath` that writers of it left when they were
// killed: only files named as temporaryPathFor() names them, regular, owned by this user,
// with no permission beyond 0600, one link, and no live writer holding their lock. Returns how
// many it removed.
int removeStaleCopies(const std::string& outputPath);

// How the temporary file is made: unnamed where the file system allows it (O_TMPFILE) and
// named only once complete, or named from the start.
enum class Staging { unnamedFirst, namedOnly };

// Encodes `log` and writes it to `outputPath`: the directory is created, then the document goes
// to the temporary file (created anew with mode 0600, never through an existing file or link),
// is flushed to the disk and renamed over `outputPath`, and the directory is flushed too. On
// any failure an existing file at `outputPath` is left as it was, no temporary file remains,
// and the result describes the failure; on success the result is nothing.
std::optional<std::string> writeEventLog(const std::string& outputPath, const EventLog& log,
                                         Staging staging = Staging::unnamedFirst);

}  // namespace orvane::eventtap
