#include <gtest/gtest.h>

#include "harness.hpp"

namespace orvane::sensors {
namespace {

using Id = FakeAccessibility::Id;

AXValue text(const char* s) { return std::string(s); }

// A browser (pid 10) with a focused window whose tree the test builds.
struct Browser : Harness {
  Id app = 0;
  Id window = 0;
  Browser() {
    app = addApp(10, "Chromium", "com.google.Chrome", "Page");
    window = focusedWindow(10);
  }
  Id field(const char* value) {
    return ax.add({{"AXRole", text("AXTextField")}, {"AXValue", text(value)}});
  }
  // A chain of `levels` groups below the window; returns the deepest.
  Id chain(Id from, int levels) {
    for (int i = 0; i < levels; ++i) {
      const Id group = ax.add({{"AXRole", text("AXGroup")}});
      ax.setChildren(from, {group});
      from = group;
    }
    return from;
  }
};

TEST(LooksLikeUrl, Rules) {
  EXPECT_TRUE(looksLikeUrl("example.org/path"));
  EXPECT_TRUE(looksLikeUrl("https://localhost"));
  EXPECT_TRUE(looksLikeUrl("http://x"));
  EXPECT_FALSE(looksLikeUrl("localhost"));
  EXPECT_FALSE(looksLikeUrl(""));
  EXPECT_FALSE(looksLikeUrl("search for a.b"));
  EXPECT_FALSE(looksLikeUrl("https://a.b/ c"));
  EXPECT_TRUE(looksLikeUrl("a.b\tc"));  // only U+0020 counts as a space
  EXPECT_FALSE(looksLikeUrl("HTTPS://localhost"));
}

TEST(BrowserUrl, WebAreaAddressWinsOverTheAddressBar) {
  Browser b;
  const Id bar = b.field("other.example");
  const Id page =
      b.ax.add({{"AXRole", text("AXWebArea")}, {"AXURL", AXURLValue{"https://a.b/c?d"}}});
  b.ax.setChildren(b.window, {bar, page});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://a.b/c?d");
  // An address given as text is taken unchanged.
  b.ax.set(page, "AXURL", text("file:///tmp/x.html"));
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "file:///tmp/x.html");
  // A web area whose address is unreadable or of another kind leaves it to the address bar.
  b.ax.set(page, "AXURL", AXNumberValue{1});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://other.example");
}

TEST(BrowserUrl, WebAreaSearchStopsAtDepthTwelveAndNeverEntersAWebArea) {
  Browser b;
  const Id bar = b.field("bar.example/x");
  const Id top = b.ax.add({{"AXRole", text("AXGroup")}});
  b.ax.setChildren(b.window, {top, bar});
  const Id page = b.ax.add({{"AXRole", text("AXWebArea")}, {"AXURL", AXURLValue{"https://deep/"}}});
  // The window is depth 0 and `top` depth 1: the page at depth 12 is found...
  b.ax.setChildren(b.chain(top, 10), {page});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://deep/");
  // ...and at depth 13 it is not.
  b.ax.setChildren(b.chain(top, 11), {page});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://bar.example/x");

  // The first web area decides, even when only a web area inside it has an address.
  const Id outer = b.ax.add({{"AXRole", text("AXWebArea")}});
  const Id inner = b.ax.add({{"AXRole", text("AXWebArea")}, {"AXURL", AXURLValue{"https://in/"}}});
  b.ax.setChildren(outer, {inner});
  b.ax.setChildren(b.window, {outer, bar});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://bar.example/x");
  EXPECT_EQ(b.ax.readCount(inner, "AXURL"), 0u);
}

TEST(BrowserUrl, EveryElementIsSeenOnceWhenEachReadMakesNewHandles) {
  // As on macOS: every read of "AXChildren" makes new handles, and those of a branch already
  // searched are gone before the next branch is read.
  Browser b;
  b.ax.freshHandles = true;
  const Id left = b.ax.add({{"AXRole", text("AXGroup")}});
  const Id right = b.ax.add({{"AXRole", text("AXGroup")}});
  b.ax.setChildren(left, {b.ax.add(), b.ax.add()});
  const Id page = b.ax.add({{"AXRole", text("AXWebArea")}, {"AXURL", AXURLValue{"https://a.b/"}}});
  b.ax.setChildren(right, {b.ax.add(), page});
  b.ax.setChildren(b.window, {left, right});
  SearchBudget budget(kAddressSearchMaxVisits);
  const auto found = findWebArea(b.ax, b.ax.element(b.window), 0, budget);
  ASSERT_TRUE(found);
  EXPECT_EQ(b.ax.idOf(*found), page);
  EXPECT_EQ(budget.visits(), 7);
  b.ax.setChildren(right, {b.ax.add(), b.field("c.d/e")});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://c.d/e");

  // New handles of an element already examined are that element: a tree that leads back to
  // the window is searched once.
  b.ax.setChildren(right, {b.ax.add(), b.window});
  SearchBudget loop(kAddressSearchMaxVisits);
  EXPECT_FALSE(findWebArea(b.ax, b.ax.element(b.window), 0, loop));
  EXPECT_EQ(loop.visits(), 6);
}

TEST(BrowserUrl, AddressBarCandidates) {
  Browser b;
  const Id words = b.field("two words.example");
  const Id plain = b.field("localhost");
  const Id nested = b.ax.add({{"AXRole", text("AXTextField")}, {"AXValue", text("no")}});
  const Id inside = b.field("inside.example");  // a text field's children are searched too
  b.ax.setChildren(nested, {inside});
  const Id later = b.field("example.org/path");
  b.ax.setChildren(b.window, {words, plain, nested, later});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://inside.example");

  b.ax.setChildren(b.window, {words, plain, later});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://example.org/path");
  const Id secure = b.field("https://intranet");
  b.ax.setChildren(b.window, {plain, secure, later});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "https://intranet");
  // A bare path (a local file) is no web address.
  const Id path = b.field("/tmp/page.html");
  b.ax.setChildren(b.window, {path});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "file:///tmp/page.html");
  const Id http = b.field("http://a.b");
  b.ax.setChildren(b.window, {http});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), "http://a.b");
  // Nothing qualifies; a field at depth 13 is not seen.
  b.ax.setChildren(b.window, {words, plain});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), std::nullopt);
  const Id deep = b.chain(b.window, 12);
  b.ax.setChildren(deep, {later});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), std::nullopt);
}

TEST(BrowserUrl, SwitchOnEveryCallExceptSafari) {
  Browser b;
  browserUrl(b.ax, 10, "com.google.Chrome");
  browserUrl(b.ax, 10, "com.brave.Browser");
  ASSERT_EQ(b.ax.writes.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(b.ax.writes[i].id, b.app);
    EXPECT_EQ(b.ax.writes[i].attribute,
              i % 2 == 0 ? "AXManualAccessibility" : "AXEnhancedUserInterface");
    EXPECT_TRUE(b.ax.writes[i].value);
  }
  b.ax.writes.clear();
  browserUrl(b.ax, 10, "com.apple.Safari");
  EXPECT_TRUE(b.ax.writes.empty());
}

TEST(BrowserUrl, NoFocusedWindowOrUnreadableTree) {
  Browser b;
  b.ax.remove(b.app, "AXFocusedWindow");
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), std::nullopt);
  // A children list that holds something other than elements ends that branch.
  b.ax.set(b.app, "AXFocusedWindow", b.ax.element(b.window));
  b.ax.set(b.window, "AXChildren",
           std::vector<AXElement>{b.ax.element(b.field("a.b")), AXElement()});
  EXPECT_EQ(browserUrl(b.ax, 10, "com.google.Chrome"), std::nullopt);
}

}  // namespace
}  // namespace orvane::sensors
