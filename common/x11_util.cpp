#include "x11_util.hpp"

#include <poll.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace orvane::x11 {
namespace {

using Clock = std::chrono::steady_clock;

// Per connection: the request whose reply missed its deadline, while it has not come, and how
// many waits have given up (unanswered()).
std::mutex stallsLock;
std::map<xcb_connection_t*, unsigned> stalls;
std::map<xcb_connection_t*, std::uint64_t> givenUp;

// Called with stallsLock held. Takes the late reply when it has come.
bool answeringLocked(xcb_connection_t* c) {
  auto it = stalls.find(c);
  if (it == stalls.end()) return true;
  void* late = nullptr;
  xcb_generic_error_t* error = nullptr;
  if (!xcb_poll_for_reply(c, it->second, &late, &error)) return false;
  std::free(late);
  std::free(error);
  stalls.erase(it);
  return true;
}

}  // namespace

void disconnect(xcb_connection_t* c) {
  {
    std::lock_guard lock(stallsLock);
    stalls.erase(c);
    givenUp.erase(c);
  }
  xcb_disconnect(c);
}

std::uint64_t unanswered(xcb_connection_t* c) {
  std::lock_guard lock(stallsLock);
  auto it = givenUp.find(c);
  return it == givenUp.end() ? 0 : it->second;
}

bool answering(xcb_connection_t* c) {
  std::lock_guard lock(stallsLock);
  return answeringLocked(c);
}

void* waitForReply(xcb_connection_t* c, unsigned sequence) {
  if (xcb_connection_has_error(c)) return nullptr;
  {
    std::lock_guard lock(stallsLock);
    if (!answeringLocked(c)) {
      xcb_discard_reply(c, sequence);
      ++givenUp[c];
      return nullptr;
    }
  }
  // The request may still be in XCB's buffer; a reply is only polled for once it is sent.
  xcb_flush(c);
  const auto deadline = Clock::now() + kReplyDeadline;
  const int fd = xcb_get_file_descriptor(c);
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    // Also takes a reply another thread's read brought in, which no poll of the socket shows.
    if (xcb_poll_for_reply(c, sequence, &reply, &error)) {
      std::free(error);
      return reply;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    // Short steps: another thread's read (the main loop's X source, say) can take the reply in
    // between the look above and this poll, and then no poll of the socket shows it. Each such
    // miss costs a step; 10 ms steps made a lookup of a few round trips five times slower.
    const timespec step{0, 200'000};
    ::ppoll(&p, 1, &step, nullptr);
  }
  std::lock_guard lock(stallsLock);
  ++givenUp[c];
  if (stalls.count(c)) {
    xcb_discard_reply(c, sequence);
  } else {
    stalls.emplace(c, sequence);  // its late reply tells that the server answers again
  }
  return nullptr;
}

bool sync(xcb_connection_t* c) {
  return reply<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus(c)) != nullptr;
}

const xcb_query_extension_reply_t* extension(xcb_connection_t* c, xcb_extension_t* ext) {
  xcb_prefetch_extension_data(c, ext);
  if (!sync(c)) return nullptr;
  const auto* data = xcb_get_extension_data(c, ext);
  return data && data->present ? data : nullptr;
}

struct PendingConnection::Shared {
  std::mutex lock;
  std::condition_variable changed;
  State state = State::Waiting;
  Made made;
  bool abandoned = false;
};

std::shared_ptr<PendingConnection> PendingConnection::start() {
  auto pending = std::make_shared<PendingConnection>();
  pending->shared_ = std::make_shared<Shared>();
  // Detached: xcb_connect may never return, and the process must still be able to end.
  std::thread([shared = pending->shared_] {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    if (c && xcb_connection_has_error(c)) {
      xcb_disconnect(c);
      c = nullptr;
    }
    std::unique_lock lock(shared->lock);
    if (shared->abandoned) {
      lock.unlock();
      if (c) xcb_disconnect(c);
      return;
    }
    shared->state = c ? State::Made : State::Failed;
    shared->made = {c, screen};
    shared->changed.notify_all();
  }).detach();
  return pending;
}

PendingConnection::State PendingConnection::wait(std::chrono::milliseconds timeout, Made& made) {
  std::unique_lock lock(shared_->lock);
  shared_->changed.wait_for(lock, timeout, [&] { return shared_->state != State::Waiting; });
  if (shared_->state == State::Made) {
    made = shared_->made;
    shared_->made = {};
  }
  return shared_->state;
}

void PendingConnection::abandon() {
  std::unique_lock lock(shared_->lock);
  shared_->abandoned = true;
  if (shared_->made.c) {
    xcb_connection_t* c = shared_->made.c;
    shared_->made = {};
    lock.unlock();
    xcb_disconnect(c);
  }
}

bool runWithin(std::function<void()> work) {
  struct Run {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
  };
  auto run = std::make_shared<Run>();
  std::thread([run, work = std::move(work)] {
    work();
    std::lock_guard lock(run->lock);
    run->finished = true;
    run->done.notify_all();
  }).detach();
  std::unique_lock lock(run->lock);
  return run->done.wait_for(lock, kLibraryDeadline, [&] { return run->finished; });
}

xcb_connection_t* connectWithin(int* screen) {
  auto pending = PendingConnection::start();
  PendingConnection::Made made;
  if (pending->wait(kConnectDeadline, made) == PendingConnection::State::Made) {
    if (screen) *screen = made.screen;
    return made.c;
  }
  pending->abandon();
  return nullptr;
}

PendingProperty requestProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                xcb_atom_t type, std::uint32_t longLength) {
  return {xcb_get_property(c, 0, w, property, type, 0, longLength)};
}

std::optional<Property> takeProperty(xcb_connection_t* c, PendingProperty pending) {
  auto reply = x11::reply<xcb_get_property_reply_t>(c, pending.cookie);
  if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
  Property p;
  p.type = reply->type;
  p.format = reply->format;
  const int length = xcb_get_property_value_length(reply.get());
  p.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                 static_cast<size_t>(length));
  return p;
}

std::vector<std::uint32_t> Property::cardinals() const {
  std::vector<std::uint32_t> values;
  if (format != 32) return values;
  values.resize(bytes.size() / 4);
  std::memcpy(values.data(), bytes.data(), values.size() * 4);
  return values;
}

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::optional<double> xftDpi(std::string_view resources) {
  constexpr std::string_view kKey = "Xft.dpi:";
  size_t lineStart = 0;
  while (lineStart < resources.size()) {
    size_t lineEnd = resources.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = resources.size();
    auto line = resources.substr(lineStart, lineEnd - lineStart);
    if (line.substr(0, kKey.size()) == kKey) {
      auto value = line.substr(kKey.size());
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
      }
      double dpi = 0;
      auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), dpi);
      if (ec == std::errc() && dpi > 0) return dpi;
    }
    lineStart = lineEnd + 1;
  }
  return std::nullopt;
}

}  // namespace orvane::x11
