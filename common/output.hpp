// Writes to the standard streams, each call one write of all its bytes.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

class Output {
 public:
  virtual ~Output() = default;
  virtual void writeOut(std::string_view bytes) = 0;
  virtual void writeErr(std::string_view bytes) = 0;
};

// The process's standard output and standard error.
class StandardOutput final : public Output {
 public:
  void writeOut(std::string_view bytes) override;
  void writeErr(std::string_view bytes) override;
};

// Keeps what was written, for tests.
class CapturedOutput final : public Output {
 public:
  std::string out, err;
  int outWrites = 0;
  void writeOut(std::string_view bytes) override {
    out.append(bytes);
    ++outWrites;
  }
  void writeErr(std::string_view bytes) override { err.append(bytes); }
};

// Writes all of `bytes` to the file descriptor, retrying after interruptions and short writes.
bool writeAll(int fd, std::string_view bytes);

}  // namespace orvane
