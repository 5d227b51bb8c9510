// Finding, opening and closing the controller over the simulated backend.
#include <filesystem>
#include <mutex>

#include "base/write_log.h"
#include "device_fixture.h"

namespace orb::test {
namespace {

TEST(IsKnownController, TheFourPairsAndNothingElse) {
  EXPECT_TRUE(IsKnownController(0x056D, 0x0006));
  EXPECT_TRUE(IsKnownController(0x056D, 0x0007));
  EXPECT_TRUE(IsKnownController(0x05E7, 0x0006));
  EXPECT_TRUE(IsKnownController(0x05E7, 0x0007));
  EXPECT_FALSE(IsKnownController(0x056D, 0x0008));
  EXPECT_FALSE(IsKnownController(0x1234, 0x0006));
}

using DeviceDiscovery = SimulatedDeviceTest;

TEST_F(DeviceDiscovery, NothingPresentOrNothingSupported) {
  EXPECT_FALSE(FindAndOpenController(m_record));
  m_sim.AddDevice({"", 0x1234, 0x0006, 1, "keyboard"}, {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0});
  EXPECT_FALSE(FindAndOpenController(m_record));
  EXPECT_TRUE(m_record.sDevicePath.empty());
}

TEST_F(DeviceDiscovery, TheFirstSupportedDeviceIsOpenedWithItsInfo) {
  m_sim.AddDevice({"", 0x1234, 0x0007, 1, "other"}, {});
  const std::string sFirst = m_sim.AddController(0x05E7, 0x0006);
  const std::string sSecond = m_sim.AddController();
  ASSERT_TRUE(FindAndOpenController(m_record));
  EXPECT_EQ(m_record.sDevicePath, sFirst);
  EXPECT_EQ(m_sim.OpenCount(sSecond), 0);
  EXPECT_TRUE(m_record.blReadAccess);
  EXPECT_FALSE(m_record.blWriteAccess);
  EXPECT_TRUE(m_record.blOverlapped);
  EXPECT_FALSE(m_record.blExclusive);
  EXPECT_EQ(m_record.attributes.VendorID, 0x05E7);
  EXPECT_EQ(m_record.attributes.ProductID, 0x0006);
  EXPECT_EQ(m_record.caps.InputReportByteLength, 3);
  EXPECT_EQ(m_record.input.report.size(), 3u);
  EXPECT_EQ(m_record.feature.report.size(), 2u);
  EXPECT_EQ(m_record.output.report.size(), 2u);
  ASSERT_EQ(m_record.input.nItemCount, 2u);
  EXPECT_EQ(m_record.input.items[0].nUsageListLength, 14u);
}

TEST_F(DeviceDiscovery, AFailedOpenOfTheFirstDoesNotTryTheSecond) {
  const std::string sFirst = m_sim.AddController();
  const std::string sSecond = m_sim.AddController();
  m_sim.SetOpenFails(sFirst, true);
  EXPECT_FALSE(FindAndOpenController(m_record));
  EXPECT_TRUE(m_record.sDevicePath.empty());
  EXPECT_EQ(m_record.pDevice, nullptr);
  EXPECT_EQ(m_sim.OpenCount(sSecond), 0);
}

struct LogLines {
  std::mutex mutex;
  std::vector<std::string> lines;
  static void Observe(void* pContext, const char* pLine, std::size_t nLength) {
    auto* pSelf = static_cast<LogLines*>(pContext);
    std::lock_guard lock(pSelf->mutex);
    pSelf->lines.emplace_back(pLine, nLength);
  }
};

TEST_F(DeviceDiscovery, AnUnusableDescriptorIsRefusedWithOneLogLinePerDevice) {
  LogLines log;
  SetLogObserver(&LogLines::Observe, &log);
  StartLog((std::filesystem::current_path() / "ORB.LOG").c_str());
  m_sim.AddDevice({"", 0x056D, 0x0006, 1, "broken"}, {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x26, 0xFF});
  EXPECT_FALSE(FindAndOpenController(m_record));
  EXPECT_FALSE(FindAndOpenController(m_record));  // the next poll says nothing new
  StopLog();
  SetLogObserver(nullptr, nullptr);
  EXPECT_TRUE(m_record.sDevicePath.empty());
  std::size_t nRefusals = 0;
  for (const std::string& sLine : log.lines) {
    if (sLine.find("refused") != std::string::npos) {
      ++nRefusals;
      EXPECT_NE(sLine.find("cut off"), std::string::npos) << sLine;
    }
  }
  EXPECT_EQ(nRefusals, 1u);
}

TEST_F(DeviceDiscovery, UnplugReadsGoneCloseEmptiesAndPlugFindsItAgain) {
  const std::string sPath = m_sim.AddController();
  ASSERT_TRUE(FindAndOpenController(m_record));
  m_sim.Unplug(sPath);
  EXPECT_EQ(ReadInputReport(m_record, -1), ReadResult::Gone);
  CloseDeviceRecord(m_record, true);
  m_record = HidDeviceRecord{};
  EXPECT_FALSE(FindAndOpenController(m_record));
  m_sim.Plug(sPath);
  ASSERT_TRUE(FindAndOpenController(m_record));
  ASSERT_TRUE(m_sim.QueueInputReport(sPath, {1, 0x00, 0x20}));
  ASSERT_EQ(ReadInputReport(m_record, -1), ReadResult::Report);
  ControlEvent event{};
  ASSERT_TRUE(GetControlEvent(m_record, &event));
  EXPECT_EQ(event.nValue, 14);
  EXPECT_EQ(m_sim.OpenCount(sPath), 2);
}

TEST_F(DeviceDiscovery, CloseWithoutAnOpenNodeStillFreesEverything) {
  m_sim.AddController();
  ASSERT_TRUE(FindAndOpenController(m_record));
  m_record.pDevice.reset();  // as if the handle were invalid
  CloseDeviceRecord(m_record, true);
  EXPECT_TRUE(m_record.sDevicePath.empty());
  EXPECT_EQ(m_record.pPreparsedData, nullptr);
  EXPECT_TRUE(m_record.input.items.empty());
  EXPECT_TRUE(m_record.feature.report.empty());
}

}  // namespace
}  // namespace orb::test
