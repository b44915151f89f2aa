// sway's IPC session, held by the process's one sway compositor adapter, as the X11 backends
// share one X connection: a connection for requests, and a second one for events, opened when
// something first subscribes.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sway_ipc.hpp"

namespace orvane {

class SwaySession {
 public:
  // Connects to `socketPath`; check ok().
  explicit SwaySession(std::string socketPath);

  // False when no compositor listened at start: the backends then behave as the X11 ones do
  // when there is no X server.
  bool ok() const { return started_; }
  const std::string& socketPath() const { return socketPath_; }
  // Whether the compositor let the last deadline pass and has not answered since.
  bool stalled() const;

  // One request and its reply's payload. A connection that broke is opened again once per
  // call, so that a single lost reply does not end the session. Each call has one deadline,
  // a new connection included. A compositor that lets a deadline pass looks like one that is
  // gone: calls fail at once for a moment, then one is tried briefly, until it answers again.
  // Any thread.
  std::optional<std::string> request(sway::MessageType type, const std::string& payload = {});
  // The same, into `reply`, whose memory is reused from call to call (a poller's tree).
  bool request(sway::MessageType type, const std::string& payload, std::string& reply);

  // RUN_COMMAND; true when every command in it succeeded.
  bool runCommand(const std::string& command);

  // Subscribes the event connection (opened on first use) to more events; true when sway
  // agreed. Events already subscribed to are not asked for again.
  bool subscribe(const std::vector<std::string>& events);
  // The event connection's descriptor (for a run loop to watch), -1 when there is none.
  // Events are read ahead in large pieces: when it is readable, take events until none is
  // left, not one per wake-up.
  int eventFd() const;
  // The next event received, waiting at most `timeout`; nothing when none, or when the
  // event connection broke (then eventsBroken() is true).
  std::optional<sway::Message> takeEvent(sway::Milliseconds timeout = sway::Milliseconds(0));
  bool eventsBroken() const;

 private:
  std::string socketPath_;
  bool started_ = false;
  mutable std::mutex lock_;
  std::optional<sway::Connection> requests_;
  std::optional<sway::Connection> events_;
  std::vector<std::string> subscribed_;
  bool eventsBroken_ = false;

  void noteStall();
  bool quiet() const;
  bool stalled_ = false;
  std::chrono::steady_clock::time_point quietUntil_{};
};

}  // namespace orvane
