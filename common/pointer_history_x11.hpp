// Where the pointer was at each key and button event on X11. XInput 2 raw events carry no
// position; the core events that the RECORD extension intercepts for every key and button
// event carry their root position. The n-th raw press of a key or button and the n-th recorded
// press of it are the same input, so each raw event takes the position of its own recorded
// event, however late the tap takes it and however many came within one millisecond. Pointer
// moves are not recorded: the cursor path is thinned anyway, and asks the server for the few
// positions it keeps. Never included by a seam header.
#pragma once

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

namespace orvane::x11 {

// A root-window position in pixels.
struct RootPixel {
  std::int16_t x = 0;
  std::int16_t y = 0;
};

// Recorded key and button events not yet matched, in the order the server made them.
class PointerHistory {
 public:
  // Beyond this, the oldest entries go: a tap that never asks must not grow without bound.
  static constexpr std::size_t kLimit = 4096;

  // `type` is the core event type (XCB_KEY_PRESS ... XCB_BUTTON_RELEASE), `detail` the key code
  // or button.
  void add(std::uint8_t type, std::uint8_t detail, RootPixel position) {
    entries_.push_back({type, detail, position});
    if (entries_.size() > kLimit) entries_.pop_front();
  }

  // The position of the oldest unmatched event of `type` and `detail`, which is then matched.
  // Unmatched events of the same key or button before it had no raw event of their own (the
  // repeats of a held key): they go too. Nothing when there is none.
  std::optional<RootPixel> match(std::uint8_t type, std::uint8_t detail);

  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint8_t type;
    std::uint8_t detail;
    RootPixel position;
  };
  std::deque<Entry> entries_;
};

// The history kept from a RECORD context over the key and button events of all clients. Read
// when a position is asked for, without waiting, so that it costs no wake-up of its own.
class RecordedPointer {
 public:
  // Nothing when the display has no usable RECORD extension. `tap` is the connection the raw
  // events come on, used to learn when the server has sent everything up to a moment. The
  // record stream keeps a connection of its own: the server answers nothing else on a
  // connection while a context is enabled there.
  static std::unique_ptr<RecordedPointer> open(xcb_connection_t* tap);
  ~RecordedPointer();
  RecordedPointer(const RecordedPointer&) = delete;
  RecordedPointer& operator=(const RecordedPointer&) = delete;

  // Reads everything the record connection holds. False once recording has ended.
  bool drain();
  // Root pixels of the recorded event that matches a raw event already received on `tap`
  // (see PointerHistory::match). Nothing when recording has ended or never saw it.
  std::optional<RootPixel> match(std::uint8_t type, std::uint8_t detail);
  // Matches without a position wanted: the raw event is not handed on, but its recorded one
  // must not be taken by a later event.
  void skip(std::uint8_t type, std::uint8_t detail);

 private:
  RecordedPointer(xcb_connection_t* tap, xcb_connection_t* data, unsigned sequence);
  void take(const std::uint8_t* data, std::size_t length);

  xcb_connection_t* tap_;
  xcb_connection_t* data_;
  unsigned sequence_;
  bool ended_ = false;
  PointerHistory history_;
};

}  // namespace orvane::x11
