#include "pointer_history_x11.hpp"

#include <glib-unix.h>
#include <xcb/record.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply

#include <cstring>

#include "x11_util.hpp"

namespace orvane::x11 {
namespace {

// Categories of the replies to an enable request (the protocol's own; XCB names none).
constexpr std::uint8_t kFromServer = 0;
constexpr std::uint8_t kEndOfData = 5;

}  // namespace

std::unique_ptr<RecordedPointer> RecordedPointer::open(xcb_connection_t* tap) {
  // The data connection is given over to the context's stream of replies, so it is one of
  // its own; the context goes with it when it closes.
  xcb_connection_t* data = xcb_connect(nullptr, nullptr);
  if (!data || xcb_connection_has_error(data)) {
    if (data) xcb_disconnect(data);
    return nullptr;
  }
  auto fail = [data] {
    xcb_disconnect(data);
    return nullptr;
  };
  const auto* ext = xcb_get_extension_data(data, &xcb_record_id);
  if (!ext || !ext->present) return fail();
  auto version = adopt(xcb_record_query_version_reply(
      data, xcb_record_query_version(data, XCB_RECORD_MAJOR_VERSION, XCB_RECORD_MINOR_VERSION),
      nullptr));
  if (!version) return fail();

  const xcb_record_context_t context = xcb_generate_id(data);
  const xcb_record_client_spec_t clients = XCB_RECORD_CS_ALL_CLIENTS;
  xcb_record_range_t range{};
  range.device_events.first = XCB_KEY_PRESS;  // key and button presses and releases, motion
  range.device_events.last = XCB_MOTION_NOTIFY;
  if (auto error = adopt(xcb_request_check(
          data, xcb_record_create_context_checked(data, context, 0, 1, 1, &clients, &range)))) {
    return fail();
  }
  const auto cookie = xcb_record_enable_context(data, context);
  xcb_flush(data);
  if (xcb_connection_has_error(data)) return fail();
  return std::unique_ptr<RecordedPointer>(new RecordedPointer(tap, data, cookie.sequence));
}

RecordedPointer::RecordedPointer(xcb_connection_t* tap, xcb_connection_t* data, unsigned sequence)
    : tap_(tap), data_(data), sequence_(sequence) {}

RecordedPointer::~RecordedPointer() {
  if (watch_) {
    g_source_destroy(watch_);
    g_source_unref(watch_);
  }
  xcb_disconnect(data_);
}

void RecordedPointer::attach(GMainContext* context) {
  if (watch_ || ended_) return;
  watch_ = g_unix_fd_source_new(xcb_get_file_descriptor(data_),
                                static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_set_callback(watch_, G_SOURCE_FUNC(&RecordedPointer::onReadable), this, nullptr);
  g_source_attach(watch_, context);
}

gboolean RecordedPointer::onReadable(gint, GIOCondition, gpointer self) {
  return static_cast<RecordedPointer*>(self)->drain() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

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

// Intercepted device events, 32 bytes each: key, button and motion events share the layout
// of the time and the root position.
void RecordedPointer::take(const std::uint8_t* data, std::size_t length) {
  for (std::size_t at = 0; at + sizeof(xcb_motion_notify_event_t) <= length; at += 32) {
    xcb_motion_notify_event_t event;
    std::memcpy(&event, data + at, sizeof event);
    const std::uint8_t type = event.response_type & 0x7F;
    if (type < XCB_KEY_PRESS || type > XCB_MOTION_NOTIFY) continue;
    history_.add(event.time, {event.root_x, event.root_y});
  }
}

std::optional<RootPixel> RecordedPointer::at(std::uint32_t time) {
  drain();
  if (!ended_ && !history_.reaches(time)) {
    // The server writes an event's record before it takes the next request: once a round trip
    // on the tap's connection is back, the record of everything up to `time` has been sent.
    adopt(xcb_get_input_focus_reply(tap_, xcb_get_input_focus(tap_), nullptr));
    drain();
  }
  if (ended_) return std::nullopt;
  return history_.at(time);
}

}  // namespace orvane::x11
