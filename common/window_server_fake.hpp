// A scriptable window server for unit tests.
#pragma once

#include <map>

#include "window_server.hpp"

namespace orvane {

class FakeWindowServer : public WindowServer {
 public:
  struct Display {
    DisplayId id;
    Rect bounds;
  };

  // What the next calls answer; tests change these between calls.
  std::optional<std::vector<RecordValue>> windows = std::vector<RecordValue>{};
  std::vector<Display> displays;  // main display first
  std::optional<Point> cursor;
  std::vector<ScreenInfo> screenList;
  // Like the window server, answer a single-window query with that window's records only;
  // off, every record is answered, so that callers' own matching can be tested.
  bool onlyTheIncludedWindow = true;

  // What was asked.
  struct Query {
    std::uint32_t options;
    std::uint32_t relativeToWindow;
  };
  std::vector<Query> queries;

  std::optional<std::vector<RecordValue>> copyWindowInfo(std::uint32_t options,
                                                         std::uint32_t relativeToWindow) override;
  std::uint32_t activeDisplayCount() override;
  std::vector<DisplayId> activeDisplays(std::uint32_t capacity) override;
  Rect displayBounds(DisplayId display) override;
  DisplayId mainDisplayId() override;
  std::optional<Point> cursorLocation() override { return cursor; }
  std::vector<ScreenInfo> screens() override { return screenList; }
};

}  // namespace orvane
