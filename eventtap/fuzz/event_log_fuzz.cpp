// The event log's own writer agrees byte for byte with the general JSON writer, on logs made
// of any texts and numbers (non-finite ones included: then both refuse).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "event_log.hpp"
#include "json.hpp"

namespace {

using namespace orvane;
using namespace orvane::eventtap;

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t byte() {
    if (!size) return 0;
    --size;
    return *data++;
  }
  std::int64_t integer() {
    std::int64_t v = 0;
    const std::size_t n = std::min<std::size_t>(size, 8);
    std::memcpy(&v, data, n);
    data += n;
    size -= n;
    return v;
  }
  double number() {
    std::uint64_t bits = 0;
    const std::size_t n = std::min<std::size_t>(size, 8);
    std::memcpy(&bits, data, n);
    data += n;
    size -= n;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  std::string text() {
    const std::size_t n = std::min<std::size_t>(size, byte() % 24);
    std::string s(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    return s;
  }
};

json::Value fieldValue(const EventField& f) {
  return json::Object{{"role", f.role},
                      {"subrole", f.subrole},
                      {"title", f.title},
                      {"description", f.description},
                      {"secure", f.secure}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  Input in{data, size};
  EventLog log;
  log.source = in.text();
  log.monotonicStartedAtSeconds = in.number();
  json::Array events, cursor;
  while (in.size) {
    RawInputEvent e;
    e.type = static_cast<EventType>(in.byte() % 6);
    e.timestampMs = in.integer();
    e.x = in.number();
    e.y = in.number();
    e.button = static_cast<MouseButton>(in.byte() % 3);
    e.text = in.text();
    e.deltaY = in.number();
    json::Object o{{"type", std::string(typeName(e.type))},
                   {"timestampMs", e.timestampMs},
                   {"x", e.x},
                   {"y", e.y},
                   {"button", std::string(buttonName(e.button))},
                   {"keyCode", e.keyCode},
                   {"text", e.text},
                   {"redacted", e.redacted},
                   {"deltaX", e.deltaX},
                   {"deltaY", e.deltaY}};
    if (in.byte() % 2) {
      e.field = std::make_shared<const EventField>(
          EventField{in.text(), in.text(), in.text(), in.text(), in.byte() % 2 == 0});
      o.emplace_back("field", fieldValue(*e.field));
    }
    events.push_back(std::move(o));
    log.events.push_back(std::move(e));
    const CursorPoint p{static_cast<std::int64_t>(in.byte()), in.number(), in.number()};
    cursor.push_back(json::Object{{"timestampMs", p.timestampMs}, {"x", p.x}, {"y", p.y}});
    log.cursorPath.push_back(p);
  }
  const json::Value reference =
      json::Object{{"version", log.version},
                   {"source", log.source},
                   {"startedAtUnixMs", log.startedAtUnixMs},
                   {"monotonicStartedAtSeconds", log.monotonicStartedAtSeconds},
                   {"durationMs", log.durationMs},
                   {"redactionEnabled", log.redactionEnabled},
                   {"events", std::move(events)},
                   {"cursorPath", std::move(cursor)}};
  if (encodeEventLog(log) != json::encode(reference)) std::abort();
  return 0;
}
