// The in-process simulation keeps the promises the device layer relies on: readiness of
// the node's fd, one report per read, unplug seen as gone for good, feature reports kept.
#include <gtest/gtest.h>

#include <poll.h>

#include <thread>

#include "platform/hid/sim_hid_backend.h"

namespace orb::platform {
namespace {

bool Readable(int nFd) {
  pollfd p{nFd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

TEST(SimulatedHidBackend, ListsPluggedDevicesInOrderAndOpensThem) {
  SimulatedHidBackend sim;
  const std::string sFirst = sim.AddDevice({"", 0x1234, 0x0006, 1, "other"}, {0x05, 0x01});
  const std::string sSecond = sim.AddController();
  auto list = sim.Enumerate();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].sPath, sFirst);
  EXPECT_EQ(list[1].nVendorId, 0x056D);
  sim.Unplug(sFirst);
  list = sim.Enumerate();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].sPath, sSecond);
  EXPECT_EQ(sim.Open(sFirst, HidOpenMode{}), nullptr);
  sim.SetOpenFails(sSecond, true);
  EXPECT_EQ(sim.Open(sSecond, HidOpenMode{}), nullptr);
  sim.SetOpenFails(sSecond, false);
  auto pNode = sim.Open(sSecond, HidOpenMode{});
  ASSERT_NE(pNode, nullptr);
  EXPECT_FALSE(pNode->ReportDescriptor().empty());
  EXPECT_EQ(sim.OpenCount(sSecond), 1);
}

TEST(SimulatedHidBackend, ReportsMakeTheFdReadableAndComeOnePerRead) {
  SimulatedHidBackend sim;
  const std::string sPath = sim.AddController();
  ASSERT_TRUE(sim.QueueInputReport(sPath, {1, 4, 0}));  // waits for the first reader
  auto pNode = sim.Open(sPath, HidOpenMode{});
  ASSERT_NE(pNode, nullptr);
  EXPECT_TRUE(Readable(pNode->Fd()));
  ASSERT_TRUE(sim.QueueInputReport(sPath, {2, 0xFF}));
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(pNode->ReadReport(buffer, sizeof buffer), 3);
  EXPECT_EQ(buffer[1], 4);
  EXPECT_EQ(pNode->ReadReport(buffer, 1), 1);  // cut to the room given
  EXPECT_EQ(buffer[0], 2);
  EXPECT_EQ(pNode->ReadReport(buffer, sizeof buffer), 0);
  EXPECT_FALSE(Readable(pNode->Fd()));
}

TEST(SimulatedHidBackend, UnplugIsGoneForGoodForNodesOpenedBefore) {
  SimulatedHidBackend sim;
  const std::string sPath = sim.AddController();
  auto pNode = sim.Open(sPath, HidOpenMode{});
  ASSERT_NE(pNode, nullptr);
  std::thread unplug([&] { sim.Unplug(sPath); });
  pollfd p{pNode->Fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 5000), 1);
  unplug.join();
  std::uint8_t buffer[4];
  EXPECT_EQ(pNode->ReadReport(buffer, sizeof buffer), -1);
  EXPECT_FALSE(sim.QueueInputReport(sPath, {1, 0, 0}));
  sim.Plug(sPath);
  EXPECT_EQ(pNode->ReadReport(buffer, sizeof buffer), -1);
  EXPECT_FALSE(pNode->SetFeature(buffer, 2));
  auto pFresh = sim.Open(sPath, HidOpenMode{});
  ASSERT_NE(pFresh, nullptr);
  EXPECT_EQ(pFresh->ReadReport(buffer, sizeof buffer), 0);
}

TEST(SimulatedHidBackend, FeatureReportsAreKeptAndCanBeMadeToFail) {
  SimulatedHidBackend sim;
  const std::string sPath = sim.AddController();
  auto pNode = sim.Open(sPath, HidOpenMode{});
  const std::uint8_t report[2] = {3, 5};
  std::thread sender([&] { EXPECT_TRUE(pNode->SetFeature(report, 2)); });
  EXPECT_TRUE(sim.WaitForFeatureReports(sPath, 1, std::chrono::seconds(5)));
  sender.join();
  sim.SetFeatureFails(sPath, true);
  EXPECT_FALSE(pNode->SetFeature(report, 2));
  const auto sent = sim.FeatureReports(sPath);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (std::vector<std::uint8_t>{3, 5}));
}

TEST(SimulatedHidBackend, NodesMayOutliveTheBackend) {
  std::unique_ptr<HidDevice> pNode;
  {
    SimulatedHidBackend sim;
    pNode = sim.Open(sim.AddController(), HidOpenMode{});
  }
  std::uint8_t buffer[4];
  EXPECT_EQ(pNode->ReadReport(buffer, sizeof buffer), 0);
}

}  // namespace
}  // namespace orb::platform
