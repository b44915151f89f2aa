#include "command_line.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>

#include "application_fake.hpp"
#include "results.hpp"
#include "selector.hpp"
#include "window_server_fake.hpp"

namespace orvane::selector {
namespace {

SelectorConfig select(std::vector<std::string> options) {
  options.insert(options.begin(), "select");
  const auto parsed = parseArguments(options);
  EXPECT_EQ(parsed.invocation, Invocation::select);
  return parsed.config;
}

TEST(ParseArguments, FirstArgumentDecidesTheRun) {
  EXPECT_EQ(parseArguments({}).invocation, Invocation::misuse);
  EXPECT_EQ(parseArguments({"Select"}).invocation, Invocation::misuse);
  EXPECT_EQ(parseArguments({"--warning", "x", "select"}).invocation, Invocation::misuse);
  EXPECT_EQ(parseArguments({"--warm", "select"}).invocation, Invocation::warm);
  // A lone "--warm" after "select" is a trailing odd argument.
  EXPECT_EQ(parseArguments({"select", "--warm"}).invocation, Invocation::select);
}

TEST(ParseArguments, LabelsAreKeptToWhatCanBeShown) {
  // Bad bytes become U+FFFD; an endless text is cut to 400 clusters, the last an ellipsis.
  EXPECT_EQ(select({"--mic-label", "Mic \xff", "--warning", "W\xe2\x82"}).micLabel, "Mic \uFFFD");
  EXPECT_EQ(select({"--warning", "W\xe2\x82"}).warning, "W\uFFFD");
  const std::string endless(64 * 1024, 'x');
  const SelectorConfig cut = select({"--warning", endless, "--mic-label", endless});
  EXPECT_EQ(cut.warning, std::string(kMaxLabelClusters - 1, 'x') + "\u2026");
  EXPECT_EQ(cut.micLabel, cut.warning);
  // A letter under 40,000 accents: the letter and the accents that fit in 1 KiB.
  std::string stacked = "a";
  for (int i = 0; i < 40000; ++i) stacked += "\u0301";
  const std::string warning = select({"--warning", stacked}).warning;
  EXPECT_EQ(warning.size(), kMaxLabelBytes);
  EXPECT_EQ(warning.substr(0, 3), "a\u0301");
  EXPECT_EQ(labelText(warning), warning);
}

TEST(ParseArguments, DefaultsAndLastOneWins) {
  const auto defaults = select({});
  EXPECT_TRUE(defaults.excludedPids.empty());
  EXPECT_TRUE(defaults.excludedOwnerNames.empty());
  EXPECT_EQ(defaults.micLabel, "");
  EXPECT_EQ(defaults.warning, "");
  EXPECT_EQ(defaults.initialMode, SelectionMode::screen);

  EXPECT_EQ(select({"--initial-mode", "window"}).initialMode, SelectionMode::window);
  EXPECT_EQ(select({"--initial-mode", "Window"}).initialMode, SelectionMode::screen);
  EXPECT_EQ(select({"--initial-mode", "window", "--initial-mode", "screen"}).initialMode,
            SelectionMode::screen);
  EXPECT_EQ(select({"--warning", "a", "--warning", "b"}).warning, "b");
  EXPECT_EQ(select({"--mic-label", "--warning"}).micLabel, "--warning");
}

TEST(ParseArguments, PairsFromTheStart) {
  EXPECT_EQ(select({"--warning"}).warning, "");
  // (stray, --warning) is an unknown pair, "hi" a lone trailing argument.
  EXPECT_EQ(select({"stray", "--warning", "hi"}).warning, "");
  EXPECT_EQ(select({"--unknown", "--warning", "--mic-label", "m"}).micLabel, "m");
}

TEST(ParseArguments, ExcludedPidsAreNumbersOnly) {
  EXPECT_EQ(
      select({"--exclude-pid", "12", "--exclude-pid", "+12", "--exclude-pid", "012"}).excludedPids,
      (std::set<std::int32_t>{12}));
  EXPECT_EQ(select({"--exclude-pid", "-5"}).excludedPids, (std::set<std::int32_t>{-5}));
  EXPECT_EQ(select({"--exclude-pid", "-2147483648"}).excludedPids,
            (std::set<std::int32_t>{-2147483647 - 1}));
  for (const char* bad : {"2147483648", "12abc", " 12", "", "-", "0x10", "1.0"}) {
    EXPECT_TRUE(select({"--exclude-pid", bad}).excludedPids.empty()) << bad;
  }
  EXPECT_EQ(select({"--exclude-owner", "", "--exclude-owner", "Finder"}).excludedOwnerNames,
            (std::set<std::string>{"", "Finder"}));
}

WindowSelectionOutput windowResult() {
  WindowSelectionOutput w;
  w.windowId = 812;
  w.ownerPid = 97;
  w.displayId = 1;
  w.bounds = {120, 64, 900, 700};
  return w;
}

TEST(WriteJson, ResultBytes) {
  CapturedOutput out;
  writeJson(out, windowResult());
  EXPECT_EQ(out.out,
            "{\"kind\":\"window\",\"windowId\":812,\"ownerPid\":97,\"ownerName\":\"\",\"title\":"
            "\"\",\"displayId\":1,\"bounds\":{\"x\":120,\"y\":64,\"width\":900,\"height\":700}}\n");
  EXPECT_EQ(out.outWrites, 2);  // the document, then the line feed

  CapturedOutput screen;
  writeJson(screen, ScreenSelectionOutput{"screen", 4294967295u});
  EXPECT_EQ(screen.out, "{\"kind\":\"screen\",\"displayId\":4294967295}\n");

  CapturedOutput cancelled;
  writeJson(cancelled, CancelledOutput{});
  EXPECT_EQ(cancelled.out, "{\"cancelled\":true}\n");
  EXPECT_EQ(cancelled.err, "");
}

TEST(WriteJson, TextAndNumberForms) {
  auto w = windowResult();
  w.title = "a\"b\\c/d \xC3\xA9\xE2\x80\x94 \x01";
  w.ownerName = "Caf\xC3\xA9/Bar";
  w.bounds = {-144.5, 0, 0.1, 1920};
  CapturedOutput out;
  writeJson(out, w);
  EXPECT_NE(out.out.find("\"title\":\"a\\\"b\\\\c/d \xC3\xA9\xE2\x80\x94 \\u0001\""),
            std::string::npos)
      << out.out;
  EXPECT_NE(out.out.find("\"ownerName\":\"Caf\xC3\xA9/Bar\""), std::string::npos);
  EXPECT_NE(out.out.find("\"x\":-144.5,\"y\":0,\"width\":0.1,\"height\":1920}"), std::string::npos)
      << out.out;
}

TEST(WriteJson, UnencodableResultPrintsTheCancellation) {
  for (double bad : {std::numeric_limits<double>::infinity(), std::nan("")}) {
    auto w = windowResult();
    w.bounds.width = bad;
    CapturedOutput out;
    writeJson(out, w);
    EXPECT_EQ(out.out, "{\"cancelled\":true}\n");
    EXPECT_EQ(out.outWrites, 1);
    EXPECT_EQ(out.err, "");
  }
}

// The error paths' raw writer prints the same line as the encoder, in full, to the descriptor.
TEST(WriteJson, TheRawCancellationIsTheEncodedOne) {
  CapturedOutput encoded;
  writeJson(encoded, CancelledOutput{});
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  writeCancelledLine(fds[1]);
  close(fds[1]);
  char buffer[64];
  const ssize_t n = read(fds[0], buffer, sizeof buffer);
  close(fds[0]);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), encoded.out);
  // A host that stopped reading (the program ignores SIGPIPE): nothing is written, and the
  // writer returns.
  const auto previous = signal(SIGPIPE, SIG_IGN);
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  writeCancelledLine(fds[1]);
  close(fds[1]);
  signal(SIGPIPE, previous);
}

struct EntryPoint : ::testing::Test {
  CapturedOutput out;
  int applicationsMade = 0;
  int serversMade = 0;
  std::function<void(FakeApplication&, ApplicationDelegate&)> onRun;
  bool noDesktop = false;

  SelectorPlatform platform() {
    return {[this]() -> std::unique_ptr<Application> {
              ++applicationsMade;
              if (noDesktop) return nullptr;
              auto app = std::make_unique<FakeApplication>();
              app->onRun = onRun;
              return app;
            },
            [this]() -> std::unique_ptr<WindowServer> {
              ++serversMade;
              auto server = std::make_unique<FakeWindowServer>();
              server->displays = {{7, {0, 0, 800, 600}}};
              return server;
            }};
  }
};

TEST_F(EntryPoint, WarmAnswersInOneWrite) {
  EXPECT_EQ(runSelector({"--warm", "anything"}, platform(), out), 0);
  EXPECT_EQ(out.out, "{\"warmed\":true}\n");
  EXPECT_EQ(out.out.size(), 16u);
  EXPECT_EQ(out.outWrites, 1);
  EXPECT_EQ(applicationsMade, 1);
  EXPECT_EQ(serversMade, 0);
}

TEST_F(EntryPoint, MisuseWritesTheUsageLine) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{}, {"Select"}, {"--exclude-pid"}}) {
    CapturedOutput o;
    EXPECT_EQ(runSelector(args, platform(), o), 2);
    EXPECT_EQ(o.err, std::string(kUsage));
    EXPECT_EQ(o.out, "");
  }
  EXPECT_EQ(applicationsMade, 0);
}

TEST_F(EntryPoint, SelectionRunsTheApplicationWithTheController) {
  onRun = [](FakeApplication& app, ApplicationDelegate& delegate) {
    delegate.applicationDidFinishLaunching();
    app.press(kVKReturn);
  };
  EXPECT_EQ(runSelector({"select"}, platform(), out), 0);
  EXPECT_EQ(out.out, "{\"kind\":\"screen\",\"displayId\":7}\n");
}

TEST_F(EntryPoint, NoDesktopCancelsAtOnce) {
  noDesktop = true;
  EXPECT_EQ(runSelector({"select"}, platform(), out), 0);
  EXPECT_EQ(out.out, "{\"cancelled\":true}\n");
  EXPECT_EQ(serversMade, 0);
}

}  // namespace
}  // namespace orvane::selector
