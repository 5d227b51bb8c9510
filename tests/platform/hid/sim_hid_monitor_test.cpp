// The in-process simulation's monitor: its fd wakes a waiting poll on each real change of
// the device list, Dispatch takes the notice, and nothing else makes it readable.
#include <gtest/gtest.h>

#include <poll.h>

#include <thread>

#include "platform/hid/hid_monitor.h"
#include "platform/hid/sim_hid_backend.h"

namespace orb::platform {
namespace {

bool ReadableWithin(int nFd, int nTimeoutMs) {
  pollfd p{nFd, POLLIN, 0};
  return ::poll(&p, 1, nTimeoutMs) == 1 && (p.revents & POLLIN) != 0;
}

TEST(SimulatedHidMonitor, EachChangeOfTheListIsOneNoticeAndNoChangeIsNone) {
  SimulatedHidBackend sim;
  std::unique_ptr<HidMonitor> pMonitor = sim.CreateMonitor();
  ASSERT_NE(pMonitor, nullptr);
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0));
  EXPECT_FALSE(pMonitor->Dispatch()) << "nothing happened yet";

  const std::string sPath = sim.AddController();
  ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 0)) << "a device was added";
  EXPECT_TRUE(pMonitor->Dispatch());
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0)) << "Dispatch takes every notice";
  EXPECT_FALSE(pMonitor->Dispatch());

  sim.Unplug(sPath);
  ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 0));
  EXPECT_TRUE(pMonitor->Dispatch());
  sim.Unplug(sPath);  // already out
  sim.Unplug("sim:unknown");
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0));

  sim.Plug(sPath);
  ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 0));
  EXPECT_TRUE(pMonitor->Dispatch());
  sim.Plug(sPath);  // already in
  ASSERT_TRUE(sim.QueueInputReport(sPath, {1, 0, 4}));
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0)) << "reports are no concern of the monitor";

  // Two changes before a Dispatch are still one "look again".
  sim.Unplug(sPath);
  sim.Plug(sPath);
  EXPECT_TRUE(pMonitor->Dispatch());
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0));
}

TEST(SimulatedHidMonitor, EveryMonitorHearsAndAGoneOneIsForgotten) {
  SimulatedHidBackend sim;
  const std::string sPath = sim.AddController();
  auto pFirst = sim.CreateMonitor();
  auto pSecond = sim.CreateMonitor();
  ASSERT_NE(pFirst, nullptr);
  ASSERT_NE(pSecond, nullptr);
  EXPECT_NE(pFirst->Fd(), pSecond->Fd());
  sim.Unplug(sPath);
  EXPECT_TRUE(pFirst->Dispatch());
  EXPECT_TRUE(pSecond->Dispatch());
  pFirst.reset();
  sim.Plug(sPath);  // must not touch the destroyed monitor
  EXPECT_TRUE(pSecond->Dispatch());
}

TEST(SimulatedHidMonitor, AnUnplugOnAnotherThreadWakesAWaitingPoll) {
  SimulatedHidBackend sim;
  const std::string sPath = sim.AddController();
  auto pMonitor = sim.CreateMonitor();
  ASSERT_NE(pMonitor, nullptr);
  std::thread unplugger([&] { sim.Unplug(sPath); });
  const bool blWoken = ReadableWithin(pMonitor->Fd(), 10000);
  unplugger.join();
  ASSERT_TRUE(blWoken);
  EXPECT_TRUE(pMonitor->Dispatch());
}

TEST(SimulatedHidMonitor, MayOutliveTheBackend) {
  std::unique_ptr<HidMonitor> pMonitor;
  {
    SimulatedHidBackend sim;
    pMonitor = sim.CreateMonitor();
    ASSERT_NE(pMonitor, nullptr);
  }
  EXPECT_FALSE(pMonitor->Dispatch());
}

TEST(SimulatedHidMonitor, CreateHidMonitorFollowsTheCurrentBackend) {
  SimulatedHidBackend sim;
  SetCurrentHidBackend(&sim);
  std::unique_ptr<HidMonitor> pMonitor = CreateHidMonitor();
  SetCurrentHidBackend(nullptr);
  ASSERT_NE(pMonitor, nullptr);
  EXPECT_EQ(pMonitor->Name(), "simulated");
  sim.AddController();
  EXPECT_TRUE(pMonitor->Dispatch());
}

}  // namespace
}  // namespace orb::platform
