#include "event_log.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "json.hpp"

namespace orvane::eventtap {
namespace {

EventLog header() {
  EventLog log;
  log.source = "x11_xinput2";
  log.startedAtUnixMs = 1733700000123;
  log.monotonicStartedAtSeconds = 5123.25;
  log.durationMs = 4200;
  log.redactionEnabled = false;
  return log;
}

std::string enc(const EventLog& log) { return encodeEventLog(log).value_or("<failed>"); }

TEST(EventLogEncoding, EmptyRecordingHasEveryHeaderKeyAndEmptyLists) {
  EXPECT_EQ(enc(header()),
            R"({"version":1,"source":"x11_xinput2","startedAtUnixMs":1733700000123,)"
            R"("monotonicStartedAtSeconds":5123.25,"durationMs":4200,"redactionEnabled":false,)"
            R"("events":[],"cursorPath":[]})");
}

TEST(EventLogEncoding, EventsCarryEveryKeyAndFieldOnlyWhenRead) {
  EventLog log = header();
  RawInputEvent click;
  click.type = EventType::rightMouseUp;
  click.timestampMs = 17;
  click.x = 512.5;
  click.y = -3;
  click.button = MouseButton::right;
  log.events.push_back(click);

  auto field = std::make_shared<const EventField>(
      EventField{"AXTextField", "AXSecureTextField", "", "", true});
  RawInputEvent key;
  key.type = EventType::keyDown;
  key.timestampMs = 20;
  key.keyCode = 0;
  key.redacted = true;
  key.field = field;
  log.events.push_back(key);

  RawInputEvent scroll;
  scroll.type = EventType::scrollWheel;
  scroll.timestampMs = 20;
  scroll.deltaX = -0.25;
  scroll.deltaY = 1;
  scroll.field = field;
  log.events.push_back(scroll);
  log.cursorPath.push_back({0, 1, 2});
  log.cursorPath.push_back({50, 0.1, 1e21});

  EXPECT_EQ(
      enc(log),
      R"({"version":1,"source":"x11_xinput2","startedAtUnixMs":1733700000123,)"
      R"("monotonicStartedAtSeconds":5123.25,"durationMs":4200,"redactionEnabled":false,)"
      R"("events":[)"
      R"({"type":"rightMouseUp","timestampMs":17,"x":512.5,"y":-3,"button":"right",)"
      R"("keyCode":-1,"text":"","redacted":false,"deltaX":0,"deltaY":0},)"
      R"({"type":"keyDown","timestampMs":20,"x":0,"y":0,"button":"","keyCode":0,)"
      R"("text":"","redacted":true,"deltaX":0,"deltaY":0,"field":{"role":"AXTextField",)"
      R"("subrole":"AXSecureTextField","title":"","description":"","secure":true}},)"
      R"({"type":"scrollWheel","timestampMs":20,"x":0,"y":0,"button":"","keyCode":-1,)"
      R"("text":"","redacted":false,"deltaX":-0.25,"deltaY":1,"field":{"role":"AXTextField",)"
      R"("subrole":"AXSecureTextField","title":"","description":"","secure":true}}],)"
      R"("cursorPath":[{"timestampMs":0,"x":1,"y":2},{"timestampMs":50,"x":0.1,"y":1e+21}]})");
}

TEST(EventLogEncoding, TypedTextIsEscapedIncludingTheSlash) {
  EventLog log = header();
  RawInputEvent key;
  key.type = EventType::keyDown;
  key.text = "\"\\/\x01\n\t\x7f\xC3\xA9\xF0\x9F\x98\x80";
  key.field = std::make_shared<const EventField>(EventField{"a/b", "\"", "\r", "\x1f", false});
  log.events.push_back(key);
  const std::string bytes = enc(log);
  EXPECT_NE(bytes.find(R"("text":"\"\\\/\u0001\n\t)"
                       "\x7f\xC3\xA9\xF0\x9F\x98\x80\""),
            std::string::npos)
      << bytes;
  EXPECT_NE(
      bytes.find(R"("field":{"role":"a\/b","subrole":"\"","title":"\r","description":"\u001f")"),
      std::string::npos)
      << bytes;
}

TEST(EventLogEncoding, NonFiniteNumberAnywhereFailsBeforeAnyByte) {
  const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double v : bad) {
    for (int where = 0; where < 7; ++where) {
      EventLog log = header();
      RawInputEvent e;
      CursorPoint p;
      if (where == 0) log.monotonicStartedAtSeconds = v;
      if (where == 1) e.x = v;
      if (where == 2) e.y = v;
      if (where == 3) e.deltaX = v;
      if (where == 4) e.deltaY = v;
      if (where == 5) p.x = v;
      if (where == 6) p.y = v;
      for (int i = 0; i < 5000; ++i) log.events.push_back(RawInputEvent{});
      log.events.push_back(e);
      log.cursorPath.push_back(p);
      int pieces = 0;
      EXPECT_EQ(encodeEventLog(log, [&](std::string_view) { return ++pieces, true; }),
                EncodeResult::nonFiniteNumber)
          << where;
      EXPECT_EQ(pieces, 0) << where;
      EXPECT_FALSE(encodeEventLog(log)) << where;
    }
  }
}

TEST(EventLogEncoding, PiecesJoinToTheWholeDocumentAndAFailedConsumerStops) {
  EventLog log = header();
  auto field = std::make_shared<const EventField>(EventField{"AXTextField", "", "Name", "", false});
  for (int i = 0; i < 3000; ++i) {
    RawInputEvent e;
    e.type = EventType::keyDown;
    e.timestampMs = i;
    e.text = std::string(static_cast<std::size_t>(i % 40), '/');
    if (i % 2) e.field = field;
    log.events.push_back(e);
    log.cursorPath.push_back({i, i * 0.5, -i * 1.5});
  }
  const std::string whole = enc(log);
  std::string joined;
  std::size_t largest = 0;
  EXPECT_EQ(encodeEventLog(
                log,
                [&](std::string_view piece) {
                  joined.append(piece);
                  largest = std::max(largest, piece.size());
                  return true;
                },
                4096),
            EncodeResult::ok);
  EXPECT_EQ(joined, whole);
  EXPECT_LE(largest, 4096u);

  int calls = 0;
  EXPECT_EQ(encodeEventLog(
                log, [&](std::string_view) { return ++calls < 3; }, 4096),
            EncodeResult::consumerFailed);
  EXPECT_EQ(calls, 3);
}

// The same document through the project's general JSON writer: the event log's own writer
// must agree with it byte for byte, whatever the numbers and texts.
json::Value asValue(const EventLog& log) {
  json::Array events, cursor;
  log.events.forEach([&](const RawInputEvent& e) {
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
    if (e.field) {
      o.emplace_back("field", json::Object{{"role", e.field->role},
                                           {"subrole", e.field->subrole},
                                           {"title", e.field->title},
                                           {"description", e.field->description},
                                           {"secure", e.field->secure}});
    }
    events.push_back(std::move(o));
  });
  log.cursorPath.forEach([&](const CursorPoint& p) {
    cursor.push_back(json::Object{{"timestampMs", p.timestampMs}, {"x", p.x}, {"y", p.y}});
  });
  return json::Object{{"version", log.version},
                      {"source", log.source},
                      {"startedAtUnixMs", log.startedAtUnixMs},
                      {"monotonicStartedAtSeconds", log.monotonicStartedAtSeconds},
                      {"durationMs", log.durationMs},
                      {"redactionEnabled", log.redactionEnabled},
                      {"events", std::move(events)},
                      {"cursorPath", std::move(cursor)}};
}

TEST(EventLogEncoding, AgreesWithTheGeneralWriterOnRandomLogs) {
  std::mt19937_64 rng(7);
  auto number = [&]() -> double {
    switch (rng() % 6) {
      case 0:
        return static_cast<double>(static_cast<int>(rng() % 200001) - 100000);
      case 1:
        return std::ldexp(static_cast<double>(rng() % 100000), -static_cast<int>(rng() % 8));
      case 2:
        return std::bit_cast<double>((rng() & ~(0x7FFull << 52)) | ((rng() % 2046 + 1) << 52));
      case 3:
        return -0.0;
      case 4:
        return 99999.0 + static_cast<double>(rng() % 3);
      default:
        return std::uniform_real_distribution<double>(-5000, 5000)(rng);
    }
  };
  auto text = [&] {
    std::string s;
    const auto n = rng() % 12;
    for (std::size_t i = 0; i < n; ++i) {
      static const std::string_view pieces[] = {"a",
                                                "/",
                                                "\"",
                                                "\\",
                                                "\x01",
                                                "\x7f",
                                                "\xC3\xA9",
                                                "\xE2\x82",
                                                "\xFF",
                                                "\xF0\x9F\x98\x80",
                                                "\xED\xA0\x80",
                                                " "};
      s += pieces[rng() % std::size(pieces)];
    }
    return s;
  };
  for (int round = 0; round < 20; ++round) {
    EventLog log = header();
    log.source = text();
    log.monotonicStartedAtSeconds = number();
    log.startedAtUnixMs = static_cast<std::int64_t>(rng());
    std::vector<std::shared_ptr<const EventField>> fields;
    for (int i = 0; i < 4; ++i) {
      fields.push_back(std::make_shared<const EventField>(
          EventField{text(), text(), text(), text(), rng() % 2 == 0}));
    }
    for (int i = 0; i < 300; ++i) {
      RawInputEvent e;
      e.type = static_cast<EventType>(rng() % 6);
      e.timestampMs = static_cast<std::int64_t>(rng());
      e.x = number();
      e.y = number();
      e.button = static_cast<MouseButton>(rng() % 3);
      e.keyCode = static_cast<std::int64_t>(rng()) >> (rng() % 64);
      e.text = text();
      e.redacted = rng() % 2;
      e.deltaX = number();
      e.deltaY = number();
      if (rng() % 2) e.field = fields[rng() % fields.size()];
      log.events.push_back(std::move(e));
      log.cursorPath.push_back({static_cast<std::int64_t>(rng() % 1000000), number(), number()});
    }
    ASSERT_EQ(enc(log), json::encode(asValue(log)).value()) << "round " << round;
  }
}

TEST(EventFieldRules, SecureIsFoundInRoleOrSubroleInAnyLetterCase) {
  EXPECT_TRUE(isSecure("AXTextField", "AXSecureTextField"));
  EXPECT_TRUE(isSecure("SECURE", ""));
  EXPECT_TRUE(isSecure("", "insecureThing"));
  EXPECT_TRUE(isSecure("AXSeCuRe", "AXNone"));
  EXPECT_FALSE(isSecure("AXTextField", ""));
  EXPECT_FALSE(isSecure("AXSecur", "eAX"));
}

TEST(EventFieldRules, ButtonsComeFromTheTypeName) {
  EXPECT_EQ(mouseButton("leftMouseDown"), MouseButton::left);
  EXPECT_EQ(mouseButton("rightMouseUp"), MouseButton::right);
  EXPECT_EQ(mouseButton("keyDown"), MouseButton::none);
  EXPECT_EQ(mouseButton("scrollWheel"), MouseButton::none);
  for (int t = 0; t < 6; ++t) {
    const auto type = static_cast<EventType>(t);
    EXPECT_EQ(eventTypeNamed(typeName(type)), type);
  }
}

}  // namespace
}  // namespace orvane::eventtap
