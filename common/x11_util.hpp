// Small XCB helpers shared by the X11 backends. Never included by a seam header.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::x11 {

// An XCB reply, freed with free() as XCB asks.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> adopt(T* reply) {
  return Reply<T>(reply, &std::free);
}

// How long a reply may take before the server counts as not answering: a stopped server must
// not hold up a tool, and a busy one answers well within it.
inline constexpr std::chrono::milliseconds kReplyDeadline{500};
// How long a connection to the display may take to be made.
inline constexpr std::chrono::milliseconds kConnectDeadline{1000};

// The reply to request `sequence`, waited for until kReplyDeadline: null when the request
// failed, the connection is broken or the server did not answer in time. A server that missed
// the deadline counts as not answering (see answering()) until that late reply comes: every
// wait before then gives up at once, so one operation costs one deadline at most.
void* waitForReply(xcb_connection_t* c, unsigned sequence);

// Use: `auto r = x11::reply<xcb_query_tree_reply_t>(c, xcb_query_tree(c, w));`
template <typename T, typename Cookie>
Reply<T> reply(xcb_connection_t* c, Cookie cookie) {
  return adopt(static_cast<T*>(waitForReply(c, cookie.sequence)));
}

// How many waits on `c` have given up on the server so far: an operation that saw this change
// has answers missing, and says so rather than give what it read as the whole.
std::uint64_t unanswered(xcb_connection_t* c);

// xcb_disconnect, forgetting what was known of the server's answers there.
void disconnect(xcb_connection_t* c);

// False while a reply that missed its deadline has not come yet. Never waits.
bool answering(xcb_connection_t* c);

// A round trip within the deadline: once it is back, every earlier request has been answered
// and its reply (or error) read, so XCB calls that would wait for them no longer do.
bool sync(xcb_connection_t* c);

// The extension's data, asked for within the deadline (xcb_get_extension_data waits for its
// answer with none, and so does every request of an extension not asked for yet). Null when it
// is missing or the server did not answer.
const xcb_query_extension_reply_t* extension(xcb_connection_t* c, xcb_extension_t* ext);

// Connects to the display (xcb_connect with the default display name) on a thread of its own,
// so that a server that accepts but never answers holds up nobody past a deadline.
class PendingConnection {
 public:
  struct Made {
    xcb_connection_t* c = nullptr;
    int screen = 0;
  };
  enum class State { Waiting, Made, Failed };

  static std::shared_ptr<PendingConnection> start();
  // Waits until the connection is made or has failed, or until `timeout` has passed; Made hands
  // the connection over to the caller (once).
  State wait(std::chrono::milliseconds timeout, Made& made);
  // The caller gives up: a connection made later is closed at once.
  void abandon();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

// How long a library that waits for its replies with no deadline (libxkbcommon) may take.
inline constexpr std::chrono::milliseconds kLibraryDeadline{1000};

// Runs `work` on a thread of its own and waits for it until kLibraryDeadline: false when it has
// not ended by then. It is then left to end whenever the server answers, so it must own (or the
// caller must leave to it) everything it uses.
bool runWithin(std::function<void()> work);

// The connection, made within kConnectDeadline; null otherwise (a late one is closed).
xcb_connection_t* connectWithin(int* screen);

// A property request whose reply is taken later, so that many travel together.
struct PendingProperty {
  xcb_get_property_cookie_t cookie{};
};

PendingProperty requestProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                xcb_atom_t type = XCB_ATOM_ANY, std::uint32_t longLength = 4096);

struct Property {
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 0;
  std::string bytes;  // raw value, format/8 bytes per item

  std::vector<std::uint32_t> cardinals() const;  // format 32 items
};

// Nothing when the window is gone or has no such property.
std::optional<Property> takeProperty(xcb_connection_t* c, PendingProperty pending);

// ISO 8859-1 (the encoding of a STRING property) to UTF-8.
std::string latin1ToUtf8(std::string_view text);

// The Xft.dpi entry of the resource database text, if any.
std::optional<double> xftDpi(std::string_view resources);

}  // namespace orvane::x11
