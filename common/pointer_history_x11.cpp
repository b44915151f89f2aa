#include "pointer_history_x11.hpp"

#include <xcb/record.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply

#include <cstring>

#include "x11_util.hpp"

namespace orvane::x11 {
namespace {

// Categories of the replies to an enable request (the protocol's own; XCB names none).
constexpr std::uint8_t kFromServer = 0;
constexpr std::uint8_t kEndOfData = 5;

bool sameKeyOrButton(std::uint8_t typeA, std::uint8_t detailA, std::uint8_t typeB,
                     std::uint8_t detailB) {
  const auto isKey = [](std::uint8_t type) { return type <= XCB_KEY_RELEASE; };
  return detailA == detailB && isKey(typeA) == isKey(typeB);
}

}  // namespace

std::optional<RootPixel> PointerHistory::match(std::uint8_t type, std::uint8_t detail) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->type != type || it->detail != detail) continue;
    const RootPixel position = it->position;
    // Earlier ones of the same key or button, then this one; other inputs stay in order.
    const auto end = std::next(it);
    std::size_t kept = 0;
    for (auto scan = entries_.begin(); scan != end; ++scan) {
      if (!sameKeyOrButton(scan->type, scan->detail, type, detail)) {
        entries_[kept++] = *scan;
      }
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(kept), end);
    return position;
  }
  return std::nullopt;
}

std::unique_ptr<RecordedPointer> RecordedPointer::open(xcb_connection_t* tap) {
  // A server that has just let a reply pass its deadline would hold up the new connection's
  // setup for its whole deadline as well.
  if (!answering(tap)) return nullptr;
  // The data connection is given over to the context's stream of replies, so it is one of
  // its own; the context goes with it when it closes.
  xcb_connection_t* data = connectWithin(nullptr);
  if (!data) return nullptr;
  auto fail = [data] {
    disconnect(data);
    return nullptr;
  };
  if (!extension(data, &xcb_record_id)) return fail();
  auto version = x11::reply<xcb_record_query_version_reply_t>(
      data, xcb_record_query_version(data, XCB_RECORD_MAJOR_VERSION, XCB_RECORD_MINOR_VERSION));
  if (!version) return fail();

  const xcb_record_context_t context = xcb_generate_id(data);
  const xcb_record_client_spec_t clients = XCB_RECORD_CS_ALL_CLIENTS;
  xcb_record_range_t range{};
  range.device_events.first = XCB_KEY_PRESS;  // key and button presses and releases
  range.device_events.last = XCB_BUTTON_RELEASE;
  const auto created = xcb_record_create_context_checked(data, context, 0, 1, 1, &clients, &range);
  // Once the round trip is back, the check finds the answer already read.
  if (!sync(data)) return fail();
  if (auto error = adopt(xcb_request_check(data, created))) return fail();
  const auto cookie = xcb_record_enable_context(data, context);
  xcb_flush(data);
  if (xcb_connection_has_error(data)) return fail();
  return std::unique_ptr<RecordedPointer>(new RecordedPointer(tap, data, cookie.sequence));
}

RecordedPointer::RecordedPointer(xcb_connection_t* tap, xcb_connection_t* data, unsigned sequence)
    : tap_(tap), data_(data), sequence_(sequence) {}

RecordedPointer::~RecordedPointer() { disconnect(data_); }

bool RecordedPointer::drain() {
  while (!ended_) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    // Every reply to the enable request has its sequence number: the request stays open and
    // each poll hands over the next one, or nothing yet, reading the socket without waiting.
    if (!xcb_poll_for_reply(data_, sequence_, &reply, &error)) break;
    std::free(error);
    if (!reply) {  // the context ended, or the connection did
      ended_ = true;
      break;
    }
    auto r = adopt(static_cast<xcb_record_enable_context_reply_t*>(reply));
    if (r->category == kFromServer && !r->client_swapped) {
      take(xcb_record_enable_context_data(r.get()),
           static_cast<std::size_t>(xcb_record_enable_context_data_length(r.get())));
    } else if (r->category == kEndOfData) {
      ended_ = true;
    }
  }
  if (xcb_connection_has_error(data_)) ended_ = true;
  return !ended_;
}

// Intercepted device events, 32 bytes each: key and button events share the layout of the
// detail and the root position.
void RecordedPointer::take(const std::uint8_t* data, std::size_t length) {
  for (std::size_t at = 0; at + sizeof(xcb_button_press_event_t) <= length; at += 32) {
    xcb_button_press_event_t event;
    std::memcpy(&event, data + at, sizeof event);
    const std::uint8_t type = event.response_type & 0x7F;
    if (type < XCB_KEY_PRESS || type > XCB_BUTTON_RELEASE) continue;
    history_.add(type, event.detail, {event.root_x, event.root_y});
  }
}

std::optional<RootPixel> RecordedPointer::match(std::uint8_t type, std::uint8_t detail) {
  // The records come in the order of the raw events, so one read already held is the oldest
  // of its kind: the socket is read only when none is (a click's release usually came with
  // its press).
  if (auto found = history_.match(type, detail)) return found;
  drain();
  if (auto found = history_.match(type, detail)) return found;
  if (ended_) return std::nullopt;
  // The server writes an event's record before it takes the next request: once a round trip
  // on the tap's connection is back, the record of every event received there has been sent.
  x11::reply<xcb_get_input_focus_reply_t>(tap_, xcb_get_input_focus(tap_));
  drain();
  return history_.match(type, detail);
}

void RecordedPointer::skip(std::uint8_t type, std::uint8_t detail) {
  if (history_.match(type, detail)) return;
  drain();
  history_.match(type, detail);
}

}  // namespace orvane::x11
