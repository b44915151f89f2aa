#include "window_activation.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "window_server_fake.hpp"

namespace orvane::windowbounds {
namespace {

RecordValue window(std::int64_t number, std::int64_t pid, std::int64_t layer) {
  WindowRecord r;
  r.emplace_back("kCGWindowNumber", number);
  r.emplace_back("kCGWindowLayer", layer);
  r.emplace_back("kCGWindowOwnerPID", pid);
  return RecordValue(std::move(r));
}

TEST(WindowActivation, TheOwnersFrontmostOrdinaryWindowTakesOverAClosedOne) {
  FakeWindowServer server;
  // Front to back: another owner's window, the owner's menu (layer 101), then two of its own.
  server.windows = std::vector<RecordValue>{window(10, 7, 0), window(11, 42, 101),
                                            window(12, 42, 0), window(13, 42, 0)};
  EXPECT_EQ(frontmostWindowOf(server, 42), 12u);
  ASSERT_EQ(server.queries.size(), 1u);
  EXPECT_EQ(server.queries[0].options, kOnScreenSnapshot);
  EXPECT_EQ(frontmostWindowOf(server, 99), std::nullopt);
  // No answer from the window server is no window, not the first one.
  server.windows = std::nullopt;
  EXPECT_EQ(frontmostWindowOf(server, 42), std::nullopt);
}

TEST(WindowActivation, OnlyProcessesThatExistAreApplications) {
  std::vector<std::int32_t> activated;
  auto activation = makeWindowActivation([&](std::int32_t pid) { activated.push_back(pid); });
  EXPECT_EQ(activation->runningApplication(0), nullptr);
  EXPECT_EQ(activation->runningApplication(-1), nullptr);
  // Beyond the kernel's pid limit no process can exist.
  EXPECT_EQ(activation->runningApplication(0x7ffffff0), nullptr);
  auto self = activation->runningApplication(getpid());
  ASSERT_NE(self, nullptr);
  self->activate();
  self->activate();
  EXPECT_EQ(activated, (std::vector<std::int32_t>{getpid(), getpid()}));
  // pid 1 runs as another user: it exists though we may not signal it.
  if (getuid() != 0) {
    EXPECT_NE(activation->runningApplication(1), nullptr);
  }
}

}  // namespace
}  // namespace orvane::windowbounds
