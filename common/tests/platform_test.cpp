#include "platform.hpp"

#include <gtest/gtest.h>

namespace orvane {
namespace {

constexpr PlatformId kLinux[] = {PlatformId::x11, PlatformId::wayland};
constexpr PlatformId kX11Only[] = {PlatformId::x11};

PlatformEnvironment session(bool wayland, std::optional<std::string> ipc,
                            std::optional<std::string> forced = std::nullopt) {
  PlatformEnvironment e;
  e.waylandSession = wayland;
  e.compositorIpc = std::move(ipc);
  e.forced = std::move(forced);
  return e;
}

TEST(PlatformChoice, WaylandOnlyWithACompositorThatHasAnAdapter) {
  auto sway = choosePlatform(session(true, "/run/user/1000/sway-ipc.sock"), kLinux);
  EXPECT_EQ(sway.id, PlatformId::wayland);
  EXPECT_EQ(sway.compositorIpc, "/run/user/1000/sway-ipc.sock");
  EXPECT_TRUE(sway.problem.empty());
  // GNOME or KDE: no adapter yet, so X11 through XWayland.
  EXPECT_EQ(choosePlatform(session(true, std::nullopt), kLinux).id, PlatformId::x11);
  // A sway socket outside a Wayland session (a nested X11 sway client) is not a session.
  EXPECT_EQ(choosePlatform(session(false, "/tmp/s.sock"), kLinux).id, PlatformId::x11);
  // A build without the Wayland backend never picks it.
  EXPECT_EQ(choosePlatform(session(true, "/tmp/s.sock"), kX11Only).id, PlatformId::x11);
}

TEST(PlatformChoice, ForcedChoiceWinsEvenWhenItCannotStart) {
  auto x11 = choosePlatform(session(true, "/tmp/s.sock", "x11"), kLinux);
  EXPECT_EQ(x11.id, PlatformId::x11);
  EXPECT_TRUE(x11.compositorIpc.empty());
  // Wayland forced with no compositor to talk to: chosen, and its backend reports that it
  // cannot reach the window server.
  auto wayland = choosePlatform(session(false, std::nullopt, "wayland"), kLinux);
  EXPECT_EQ(wayland.id, PlatformId::wayland);
  EXPECT_TRUE(wayland.compositorIpc.empty());
  EXPECT_TRUE(wayland.problem.empty());
}

TEST(PlatformChoice, UnknownOrUnbuiltNameIsReportedAndIgnored) {
  auto typo = choosePlatform(session(true, "/tmp/s.sock", "X11"), kLinux);
  EXPECT_EQ(typo.id, PlatformId::wayland);
  EXPECT_EQ(typo.problem,
            "ORVANE_PLATFORM=X11 is not a platform of this build (x11, wayland); choosing as if "
            "unset");
  auto unbuilt = choosePlatform(session(false, std::nullopt, "wayland"), kX11Only);
  EXPECT_EQ(unbuilt.id, PlatformId::x11);
  EXPECT_FALSE(unbuilt.problem.empty());
}

}  // namespace
}  // namespace orvane
