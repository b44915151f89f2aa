#include "run_loop.hpp"

#include <signal.h>

#include <csignal>
#include <cstring>

namespace orvane {

namespace {

volatile std::sig_atomic_t stopReachedHandler = 0;

void noteStop(int) { stopReachedHandler = 1; }

}  // namespace

bool stopSignalWaiting() {
  sigset_t waiting;
  sigemptyset(&waiting);
  return sigpending(&waiting) == 0 &&
         (sigismember(&waiting, SIGINT) == 1 || sigismember(&waiting, SIGTERM) == 1);
}

EarlyStopSignals::EarlyStopSignals() : waitingAtStart_(stopSignalWaiting()) {
  struct sigaction action = {};
  action.sa_handler = noteStop;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM}) sigaction(sig, &action, nullptr);
}

bool EarlyStopSignals::stoppedEarly() const {
  return waitingAtStart_ || stopSignalWaiting() || stopReachedHandler != 0;
}

void LineSplitter::feed(const char* data, std::size_t size) {
  while (size > 0) {
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    const std::size_t take = newline ? static_cast<std::size_t>(newline - data) : size;
    if (!overlong_) {
      // One byte beyond the limit is kept for a possible "\r" before the "\n".
      if (line_.size() + take > RunLoop::kMaxInputLine + 1) {
        overlong_ = true;
        line_.clear();
      } else {
        line_.append(data, take);
      }
    }
    if (!newline) return;
    if (!overlong_) {
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      if (line_.size() <= RunLoop::kMaxInputLine) onLine_(line_);
    }
    line_.clear();
    overlong_ = false;
    data += take + 1;
    size -= take + 1;
  }
}

void LineSplitter::finish() {
  if (!overlong_ && !line_.empty()) {
    if (line_.back() == '\r') line_.pop_back();
    if (line_.size() <= RunLoop::kMaxInputLine) onLine_(line_);
  }
  line_.clear();
  overlong_ = false;
}

}  // namespace orvane
