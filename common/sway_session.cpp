#include "sway_session.hpp"

#include <algorithm>

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;
using sway::Milliseconds;

// What the compositor is given to take a connection, and to answer a request (a new
// connection included). A working sway needs milliseconds; together they stay well inside the
// time a host waits for a tool's answer.
constexpr Milliseconds kConnectTimeout{500};
constexpr Milliseconds kRequestTimeout{1000};
// A compositor that let a deadline pass is asked again only after a pause, and then briefly:
// a poller keeps its pace while the compositor is stopped, and finds it again once it runs.
constexpr Milliseconds kStalledPause{1000};
constexpr Milliseconds kStalledTimeout{200};

Milliseconds left(Clock::time_point deadline) {
  return std::max(Milliseconds(0),
                  std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()));
}

}  // namespace

SwaySession::SwaySession(std::string socketPath) : socketPath_(std::move(socketPath)) {
  if (socketPath_.empty()) return;
  requests_.emplace(socketPath_, kConnectTimeout);
  // A compositor that does not take the connection in time is there, but stalled.
  started_ = requests_->ok() || requests_->stalled();
  if (requests_->stalled()) noteStall();
}

void SwaySession::noteStall() {
  stalled_ = true;
  quietUntil_ = Clock::now() + kStalledPause;
}

bool SwaySession::quiet() const { return stalled_ && Clock::now() < quietUntil_; }

bool SwaySession::stalled() const {
  std::lock_guard guard(lock_);
  return stalled_;
}

std::optional<std::string> SwaySession::request(sway::MessageType type,
                                                const std::string& payload) {
  std::string reply;
  if (!request(type, payload, reply)) return std::nullopt;
  return reply;
}

bool SwaySession::request(sway::MessageType type, const std::string& payload, std::string& reply) {
  std::lock_guard guard(lock_);
  if (!started_ || quiet()) return false;
  const auto deadline = Clock::now() + (stalled_ ? kStalledTimeout : kRequestTimeout);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!requests_ || !requests_->ok())
      requests_.emplace(socketPath_, std::min(kConnectTimeout, left(deadline)));
    if (requests_->ok() && requests_->request(type, payload, reply, left(deadline))) {
      stalled_ = false;
      return true;
    }
    if (requests_->stalled()) {
      noteStall();
      return false;
    }
  }
  return false;
}

bool SwaySession::runCommand(const std::string& command) {
  const auto reply = request(sway::MessageType::runCommand, command);
  if (!reply) return false;
  const auto successes = sway::parseSuccesses(*reply);
  return successes && std::all_of(successes->begin(), successes->end(), [](bool b) { return b; });
}

bool SwaySession::subscribe(const std::vector<std::string>& events) {
  std::lock_guard guard(lock_);
  if (!started_ || eventsBroken_ || quiet()) return false;
  std::vector<std::string> wanted;
  for (const auto& e : events) {
    if (std::find(subscribed_.begin(), subscribed_.end(), e) == subscribed_.end())
      wanted.push_back(e);
  }
  if (wanted.empty()) return true;
  if (!events_) events_.emplace(socketPath_, kConnectTimeout);
  if (!events_->ok() || !events_->subscribe(wanted, kRequestTimeout)) {
    if (events_->stalled()) noteStall();
    eventsBroken_ = !events_->ok();
    return false;
  }
  subscribed_.insert(subscribed_.end(), wanted.begin(), wanted.end());
  return true;
}

int SwaySession::eventFd() const {
  std::lock_guard guard(lock_);
  return events_ ? events_->fd() : -1;
}

std::optional<sway::Message> SwaySession::takeEvent(sway::Milliseconds timeout) {
  std::lock_guard guard(lock_);
  if (!events_) return std::nullopt;
  auto m = events_->takeEvent(timeout);
  if (!events_->ok()) eventsBroken_ = true;
  return m;
}

bool SwaySession::eventsBroken() const {
  std::lock_guard guard(lock_);
  return eventsBroken_;
}

}  // namespace orvane
