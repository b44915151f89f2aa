// Where the pointer was at a given server time on X11. XInput 2 raw events carry the server
// time but no position; the core events that the RECORD extension intercepts for every device
// event carry both. Recording them on a connection of their own gives each raw event the
// position of its own moment, however late the tap takes it. Never included by a seam header.
#pragma once

#include <glib.h>
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

// Positions by server time (milliseconds, wrapping at 2^32), in the order the server made
// them. Lookups come in time order too, so what lies before the latest answer is forgotten.
class PointerHistory {
 public:
  // Beyond this, the oldest entries go: a tap that never asks must not grow without bound.
  static constexpr std::size_t kLimit = 1 << 16;

  void add(std::uint32_t time, RootPixel position) {
    entries_.push_back({time, position});
    if (entries_.size() > kLimit) entries_.pop_front();
  }

  // Whether everything the server made up to `time` can be here: an entry at or after it.
  bool reaches(std::uint32_t time) const {
    return !entries_.empty() && !before(entries_.back().time, time);
  }

  // The position of the latest entry at or before `time`; nothing when none is that old.
  std::optional<RootPixel> at(std::uint32_t time) {
    std::size_t found = entries_.size();
    for (std::size_t i = 0; i < entries_.size() && !before(time, entries_[i].time); ++i) found = i;
    if (found == entries_.size()) return std::nullopt;
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(found));
    return entries_.front().position;
  }

  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint32_t time;
    RootPixel position;
  };
  // Server time wraps after 49.7 days; two times within half of that compare by difference.
  static bool before(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
  }

  std::deque<Entry> entries_;
};

// The history kept from a RECORD context over the device events of all clients, read without
// waiting on the GLib context of the thread that attaches it.
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

  void attach(GMainContext* context);
  // Reads everything the record connection holds. False once recording has ended.
  bool drain();
  // Root pixels at `time`, the server time of an input event already received on `tap`.
  // Nothing when recording has ended or never saw a position that old.
  std::optional<RootPixel> at(std::uint32_t time);

 private:
  RecordedPointer(xcb_connection_t* tap, xcb_connection_t* data, unsigned sequence);
  static gboolean onReadable(gint, GIOCondition, gpointer self);
  void take(const std::uint8_t* data, std::size_t length);

  xcb_connection_t* tap_;
  xcb_connection_t* data_;
  unsigned sequence_;
  bool ended_ = false;
  GSource* watch_ = nullptr;
  PointerHistory history_;
};

}  // namespace orvane::x11
