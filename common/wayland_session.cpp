#include "wayland_session.hpp"

#include <algorithm>

#include "platform.hpp"

namespace orvane {

WaylandSession::WaylandSession(std::string socketPath) : socketPath_(std::move(socketPath)) {
  if (socketPath_.empty()) return;
  requests_.emplace(socketPath_);
  started_ = requests_->ok();
}

WaylandSession& WaylandSession::shared() {
  static WaylandSession session(currentPlatform().id == PlatformId::wayland
                                    ? currentPlatform().compositorIpc
                                    : std::string());
  return session;
}

std::optional<std::string> WaylandSession::request(sway::MessageType type,
                                                   const std::string& payload) {
  std::string reply;
  if (!request(type, payload, reply)) return std::nullopt;
  return reply;
}

bool WaylandSession::request(sway::MessageType type, const std::string& payload,
                             std::string& reply) {
  std::lock_guard guard(lock_);
  if (!started_) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!requests_ || !requests_->ok()) requests_.emplace(socketPath_);
    if (requests_->request(type, payload, reply)) return true;
  }
  return false;
}

bool WaylandSession::runCommand(const std::string& command) {
  const auto reply = request(sway::MessageType::runCommand, command);
  if (!reply) return false;
  const auto successes = sway::parseSuccesses(*reply);
  return successes && std::all_of(successes->begin(), successes->end(), [](bool b) { return b; });
}

bool WaylandSession::subscribe(const std::vector<std::string>& events) {
  std::lock_guard guard(lock_);
  if (!started_ || eventsBroken_) return false;
  std::vector<std::string> wanted;
  for (const auto& e : events) {
    if (std::find(subscribed_.begin(), subscribed_.end(), e) == subscribed_.end())
      wanted.push_back(e);
  }
  if (wanted.empty()) return true;
  if (!events_) events_.emplace(socketPath_);
  if (!events_->ok() || !events_->subscribe(wanted)) {
    eventsBroken_ = !events_->ok();
    return false;
  }
  subscribed_.insert(subscribed_.end(), wanted.begin(), wanted.end());
  return true;
}

int WaylandSession::eventFd() const {
  std::lock_guard guard(lock_);
  return events_ ? events_->fd() : -1;
}

std::optional<sway::Message> WaylandSession::takeEvent(sway::Milliseconds timeout) {
  std::lock_guard guard(lock_);
  if (!events_) return std::nullopt;
  auto m = events_->takeEvent(timeout);
  if (!events_->ok()) eventsBroken_ = true;
  return m;
}

bool WaylandSession::eventsBroken() const {
  std::lock_guard guard(lock_);
  return eventsBroken_;
}

}  // namespace orvane
