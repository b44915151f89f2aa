#include "window_list.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "window_server_fake.hpp"

namespace orvane::windowlist {
namespace {

constexpr std::int64_t kOwnPid = 4242;

Dictionary window(std::int64_t id, const char* owner = "Finder", std::int64_t pid = 100) {
  return {{std::string(kCGWindowNumber), id},
          {std::string(kCGWindowLayer), 0},
          {std::string(kCGWindowAlpha), 1.0},
          {std::string(kCGWindowOwnerPID), pid},
          {std::string(kCGWindowOwnerName), owner},
          {std::string(kCGWindowName), "Title"},
          {std::string(kCGWindowBounds), dictionaryFromRect({10, 20, 300, 200})}};
}

Dictionary with(Dictionary d, std::string_view key, RecordValue v) {
  for (auto& [k, value] : d) {
    if (k == key) {
      value = std::move(v);
      return d;
    }
  }
  d.emplace_back(std::string(key), std::move(v));
  return d;
}

Dictionary without(Dictionary d, std::string_view key) {
  std::erase_if(d, [&](const auto& entry) { return entry.first == key; });
  return d;
}

std::vector<std::uint32_t> listed(const std::vector<RecordValue>& snapshot,
                                  const std::vector<std::string>& args = {}) {
  std::vector<std::uint32_t> ids;
  for (const auto& w : recordableWindows(snapshot, *parseArguments(args, kOwnPid))) {
    ids.push_back(w.id);
  }
  return ids;
}

using Ids = std::vector<std::uint32_t>;

TEST(WindowListArguments, OptionsAndMisuse) {
  auto e = parseArguments({"--exclude-pid", "12", "--exclude-owner", "Safari", "--exclude-pid",
                           "-5", "--exclude-owner", "--exclude-pid"},
                          kOwnPid);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->excludedPids, (std::set<std::int64_t>{-5, 12, kOwnPid}));
  EXPECT_EQ(e->excludedOwners, (std::set<std::string>{"safari", "--exclude-pid"}));
  // A value that is not a number is consumed; an option without a value is ignored.
  e = parseArguments({"--exclude-pid", "12abc", "--exclude-pid"}, kOwnPid);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->excludedPids, (std::set<std::int64_t>{kOwnPid}));
  EXPECT_TRUE(parseArguments({"--exclude-owner"}, kOwnPid));
  for (auto args : std::vector<std::vector<std::string>>{
           {"--help"}, {"--exclude-pid", "1", "stray"}, {"--Exclude-pid", "1"}, {""}}) {
    EXPECT_FALSE(parseArguments(args, kOwnPid)) << args[0];
  }
}

TEST(WindowListFilters, SizeAndOpacityThresholds) {
  std::vector<RecordValue> s = {
      with(window(1), kCGWindowBounds, dictionaryFromRect({0, 0, 31.9, 100})),
      with(window(2), kCGWindowBounds, dictionaryFromRect({0, 0, 100, 31.9})),
      with(window(3), kCGWindowBounds, dictionaryFromRect({0, 0, 32, 32})),
      with(window(4), kCGWindowAlpha, 0.01),
      with(window(5), kCGWindowAlpha, 0.02),
      without(window(6), kCGWindowAlpha),  // no opacity fails
      without(window(7), kCGWindowBounds),
      with(window(8), kCGWindowBounds, "not a dictionary"),
      with(window(9), kCGWindowBounds, Dictionary{{"X", 0}, {"Y", 0}, {"Width", 64}}),
      with(window(10), kCGWindowBounds, dictionaryFromRect({300, 0, -300, 200})),  // no abs()
      with(window(11), kCGWindowAlpha, true),  // a boolean is a number: 1
  };
  EXPECT_EQ(listed(s), (Ids{3, 5, 11}));
}

TEST(WindowListFilters, LayersNumbersAndReadersOfLooseValues) {
  std::vector<RecordValue> s = {
      with(window(1), kCGWindowLayer, 3),
      with(window(2), kCGWindowLayer, 20),
      without(window(3), kCGWindowLayer),    // counts as layer 0
      with(window(4), kCGWindowLayer, 0.7),  // truncates to 0
      with(window(5), kCGWindowLayer, "0"),  // not a number: 0
      with(window(6), kCGWindowLayer, -1),
      with(window(11), kCGWindowLayer, -0.5),  // truncates to 0
      without(window(7), kCGWindowNumber),
      with(window(8), kCGWindowNumber, 0),
      with(window(9), kCGWindowNumber, 9.9),            // truncates to 9
      with(window(10), kCGWindowNumber, 4294967296.0),  // does not fit: dropped
      RecordValue("not a record"),
  };
  EXPECT_EQ(listed(s), (Ids{3, 4, 5, 11, 9}));  // snapshot order
}

TEST(WindowListFilters, PidAndOwnerExclusions) {
  std::vector<RecordValue> s = {
      window(1, "Safari", 200),
      window(2, "SAFARI", 201),
      window(3, "Safari Helper", 202),
      window(4, "Terminal", kOwnPid),
      window(5, "Notes", 12),
      without(window(6), kCGWindowOwnerPID),
      with(window(7), kCGWindowOwnerPID, 12.8),  // truncates to 12
      without(window(8), kCGWindowOwnerName),
  };
  EXPECT_EQ(listed(s), (Ids{1, 2, 3, 5, 6, 7, 8}));
  EXPECT_EQ(listed(s, {"--exclude-owner", "safari", "--exclude-pid", "12"}), (Ids{3, 6, 8}));
  EXPECT_EQ(listed(s, {"--exclude-pid", "0", "--exclude-owner", ""}), (Ids{1, 2, 3, 5, 7}));
  EXPECT_EQ(listed(s, {"--exclude-owner", "ÉCOLE"}).size(), 7u);
  EXPECT_EQ(listed({window(1, "école")}, {"--exclude-owner", "ÉCOLE"}), Ids{});
}

TEST(WindowListOutput, ExactBytes) {
  FakeWindowServer server;
  server.windows = std::vector<RecordValue>{
      with(with(window(812, "Te\"r/m", 97), kCGWindowName, "a\\b/c é"), kCGWindowBounds,
           dictionaryFromRect({-144.5, 0, 900, 700})),
      without(window(813, "", 98), kCGWindowName),
      with(with(window(814), kCGWindowName, 5), kCGWindowOwnerName, Dictionary{}),
  };
  CapturedOutput out;
  EXPECT_EQ(run({}, kOwnPid, server, out), 0);
  EXPECT_EQ(out.out, R"([{"id":812,"ownerPid":97,"ownerName":"Te\"r\/m","title":"a\\b\/c é",)"
                     R"("bounds":{"x":-144.5,"y":0,"width":900,"height":700}},)"
                     R"({"id":813,"ownerPid":98,"ownerName":"","title":"",)"
                     R"("bounds":{"x":10,"y":20,"width":300,"height":200}},)"
                     R"({"id":814,"ownerPid":100,"ownerName":"","title":"",)"
                     R"("bounds":{"x":10,"y":20,"width":300,"height":200}}])"
                     "\n");
  EXPECT_EQ(out.outWrites, 2);  // the array, then the newline
  ASSERT_EQ(server.queries.size(), 1u);
  EXPECT_EQ(server.queries[0].options, 17u);
  EXPECT_EQ(server.queries[0].relativeToWindow, 0u);
  EXPECT_EQ(out.err, "");
}

TEST(WindowListOutput, FailuresAndMisuse) {
  FakeWindowServer server;
  CapturedOutput none;
  server.windows = std::nullopt;
  EXPECT_EQ(run({}, kOwnPid, server, none), 0);
  EXPECT_EQ(none.out, "[]\n");

  CapturedOutput notDictionaries;
  server.windows = std::vector<RecordValue>{window(1), RecordValue(5)};
  EXPECT_EQ(run({}, kOwnPid, server, notDictionaries), 0);
  EXPECT_EQ(notDictionaries.out, "[]\n");

  CapturedOutput nonFinite;
  server.windows = std::vector<RecordValue>{
      with(window(1), kCGWindowBounds,
           Dictionary{{"X", std::nan("")}, {"Y", 0}, {"Width", 64}, {"Height", 64}})};
  EXPECT_EQ(run({}, kOwnPid, server, nonFinite), 0);
  EXPECT_EQ(nonFinite.out, "");
  EXPECT_EQ(nonFinite.err, "");

  CapturedOutput misuse;
  EXPECT_EQ(run({"--exclude-pid", "1", "-h"}, kOwnPid, server, misuse), 2);
  EXPECT_EQ(misuse.out, "");
  EXPECT_EQ(misuse.err,
            "Usage: orvane-window-list [--exclude-pid <pid>]* [--exclude-owner <name>]*\n");
}

}  // namespace
}  // namespace orvane::windowlist
