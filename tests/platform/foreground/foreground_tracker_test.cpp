// The fake foreground tracker (what the profile choice's tests drive) and the start-up
// choice of a backend.
#include <gtest/gtest.h>

#include <poll.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/log_capture.h"
#include "platform/foreground/foreground_tracker.h"
#include "support/scoped_env.h"

namespace orb::platform {

// Failures name the window and the pid, not the bytes.
void PrintTo(const ForegroundWindow& window, std::ostream* pOut) {
  *pOut << "{window 0x" << std::hex << window.nWindow << std::dec << ", pid " << window.nPid << "}";
}

namespace {

using test::ScopedEnv;

bool Readable(int nFd, int nTimeoutMs = 0) {
  pollfd fd{nFd, POLLIN, 0};
  return ::poll(&fd, 1, nTimeoutMs) == 1 && (fd.revents & POLLIN) != 0;
}

class FakeForegroundTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(m_tracker.Fd(), 0);
    m_tracker.SetListener([this](const ForegroundWindow& window) { m_reports.push_back(window); });
  }

  FakeForegroundTracker m_tracker;
  std::vector<ForegroundWindow> m_reports;
};

TEST_F(FakeForegroundTrackerTest, EachChangeWakesThePollAndIsReportedInOrderOnce) {
  EXPECT_FALSE(Readable(m_tracker.Fd()));
  m_tracker.SetForeground({0x400001, 100});
  m_tracker.SetForeground({0x400001, 100});  // the same window again: no change
  m_tracker.SetForeground({0x600001, 0});
  m_tracker.SetForeground({0, 0});
  EXPECT_TRUE(Readable(m_tracker.Fd()));
  m_tracker.Dispatch();
  const std::vector<ForegroundWindow> expected = {{0x400001, 100}, {0x600001, 0}, {0, 0}};
  EXPECT_EQ(m_reports, expected);
  EXPECT_FALSE(Readable(m_tracker.Fd())) << "nothing is pending after Dispatch";
  m_tracker.Dispatch();
  EXPECT_EQ(m_reports.size(), expected.size());
}

TEST_F(FakeForegroundTrackerTest, CurrentIsTheWindowInFrontAndSettlesWhatWasPending) {
  EXPECT_EQ(m_tracker.Current(), ForegroundWindow{});
  m_tracker.SetForeground({0x400001, 100});
  m_tracker.SetForeground({0x600001, 200});
  EXPECT_EQ(m_tracker.Current(), (ForegroundWindow{0x600001, 200}));
  m_tracker.Dispatch();
  EXPECT_TRUE(m_reports.empty()) << "the caller learnt the window from Current already";
  m_tracker.SetForeground({0x600001, 200});
  m_tracker.SetForeground({0x400001, 100});
  m_tracker.Dispatch();
  EXPECT_EQ(m_reports, (std::vector<ForegroundWindow>{{0x400001, 100}}));
}

TEST_F(FakeForegroundTrackerTest, AChangeMadeByTheListenerComesWithTheNextDispatch) {
  m_tracker.SetListener([this](const ForegroundWindow& window) {
    m_reports.push_back(window);
    if (window.nWindow == 1) {
      m_tracker.SetForeground({2, 20});
    }
  });
  m_tracker.SetForeground({1, 10});
  m_tracker.Dispatch();
  EXPECT_EQ(m_reports, (std::vector<ForegroundWindow>{{1, 10}}));
  ASSERT_TRUE(Readable(m_tracker.Fd()));
  m_tracker.Dispatch();
  EXPECT_EQ(m_reports, (std::vector<ForegroundWindow>{{1, 10}, {2, 20}}));
}

TEST_F(FakeForegroundTrackerTest, AChangeFromAnotherThreadWakesAWaitingPoll) {
  std::thread setter([this] { m_tracker.SetForeground({0x800001, 300}); });
  const bool blWoken = Readable(m_tracker.Fd(), 10000);
  setter.join();
  ASSERT_TRUE(blWoken);
  m_tracker.Dispatch();
  EXPECT_EQ(m_reports, (std::vector<ForegroundWindow>{{0x800001, 300}}));
}

void ExpectNone(const std::unique_ptr<ForegroundTracker>& pTracker) {
  ASSERT_NE(pTracker, nullptr);
  EXPECT_EQ(pTracker->Name(), "none");
  EXPECT_EQ(pTracker->Fd(), -1);
  EXPECT_EQ(pTracker->Current(), ForegroundWindow{});
}

TEST(SelectForegroundTrackerTest, OrbForegroundNoneIsObeyedEvenWithADisplay) {
  ScopedEnv forced("ORB_FOREGROUND", "none");
  ScopedEnv display("DISPLAY", ":0");
  test::LogCapture log;
  ExpectNone(SelectForegroundTracker());
  EXPECT_EQ(log.Text(), "Foreground: none (ORB_FOREGROUND=none)\r\nForegroundTracker: no application is known\r\n");
}

TEST(SelectForegroundTrackerTest, WithoutADisplayThereIsNoneAndTheLogSaysWhy) {
  ScopedEnv forced("ORB_FOREGROUND", nullptr);
  ScopedEnv session("XDG_SESSION_TYPE", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  ScopedEnv display("DISPLAY", nullptr);
  test::LogCapture log;
  ExpectNone(SelectForegroundTracker());
  EXPECT_EQ(log.Text(), "Foreground: none (no X display (DISPLAY is not set))\r\nForegroundTracker: no application is known\r\n");
}

TEST(SelectForegroundTrackerTest, AnUnknownOverrideIsLoggedAndTheUsualChoiceMade) {
  ScopedEnv forced("ORB_FOREGROUND", "wayland");
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv session("XDG_SESSION_TYPE", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  test::LogCapture log;
  ExpectNone(SelectForegroundTracker());
  EXPECT_EQ(log.Text(),
            "Foreground: ORB_FOREGROUND=\"wayland\" is none of x11, kwin, gnome, hyprland, sway, wlr, none; choosing as usual\r\n"
            "Foreground: none (no X display (DISPLAY is not set))\r\n"
            "ForegroundTracker: no application is known\r\n");
}

TEST(SelectForegroundTrackerTest, ForcedX11WithoutItsServerFallsBackToNoneWithTheReason) {
  ScopedEnv forced("ORB_FOREGROUND", "x11");
  ScopedEnv display("DISPLAY", ":65000");  // no server listens there
  test::LogCapture log;
  ExpectNone(SelectForegroundTracker());
  const std::string reason = X11ForegroundTrackerBuilt() ? "cannot open the X display \":65000\""
                                                         : "this build has no X11 foreground tracker";
  EXPECT_EQ(log.Text(),
            "Foreground: none (ORB_FOREGROUND=x11: " + reason + ")\r\nForegroundTracker: no application is known\r\n");
}

}  // namespace
}  // namespace orb::platform
