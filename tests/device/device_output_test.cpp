// Mode bits: from a profile's flags to the feature report on the device.
#include <cstring>

#include "base/hex_text.h"
#include "device/device_output.h"
#include "device_fixture.h"

namespace orb::test {
namespace {

TEST(ModeBits, FollowTheProfileFlags) {
  EXPECT_EQ(ModeBitsFromFlags(PF_DECK), 1);
  EXPECT_EQ(ModeBitsFromFlags(PF_DECK | PF_DECKFILE), 1);
  EXPECT_EQ(ModeBitsFromFlags(PF_DECKFILE), 0);  // FILE mode
  EXPECT_EQ(ModeBitsFromFlags(PF_JOGSHUTTLE | PF_JOG), 2);
  EXPECT_EQ(ModeBitsFromFlags(PF_JOGSHUTTLE), 4);
  EXPECT_EQ(ModeBitsFromFlags(PF_HOSTMODE | PF_JOG), 2);
  EXPECT_EQ(ModeBitsFromFlags(PF_HOSTMODE), 4);
  EXPECT_EQ(ModeBitsFromFlags(PF_JOG), 0);  // neither JOGSHUTTLE nor HOSTMODE: unlit
  EXPECT_EQ(ModeBitsFromFlags(PF_DECK | PF_JOGSHUTTLE | PF_JOG), 3);
  EXPECT_EQ(ModeBits(nullptr), 0);
  auto pProfile = std::make_unique<ProfileRecord>();
  std::memset(pProfile.get(), 0, sizeof(ProfileRecord));
  pProfile->dwFlags = PF_DECK | PF_JOGSHUTTLE;
  EXPECT_EQ(ModeBits(pProfile.get()), 5);
}

using DeviceOutput = SimulatedDeviceTest;

TEST_F(DeviceOutput, ModeBitsTravelInTheFeatureReport) {
  OpenWith();
  SendModeBits(m_record, 5);
  SendModeBits(m_record, 0);  // all off, as at program end
  const auto sent = m_sim.FeatureReports(m_sPath);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], (std::vector<std::uint8_t>{3, 5}));
  EXPECT_EQ(sent[1], (std::vector<std::uint8_t>{3, 0}));
  EXPECT_TRUE(m_record.feature.items[0].blIsSet);
}

TEST_F(DeviceOutput, NothingIsSentWithoutAController) {
  HidDeviceRecord empty;
  SendModeBits(empty, 3);  // no path, no feature item: nothing happens
  OpenWith();
  CloseDeviceRecord(m_record, true);
  m_record = HidDeviceRecord{};
  SendModeBits(m_record, 3);
  EXPECT_TRUE(m_sim.FeatureReports(m_sPath).empty());
}

TEST_F(DeviceOutput, OneSendPerReportIdAndFailuresAreReported) {
  std::vector<std::uint8_t> descriptor;
  std::string sWhy;
  // Feature report 3 with two values, feature report 4 with one.
  ASSERT_TRUE(ParseHexText("06 00 FF 09 01 A1 01 85 01 09 05 75 08 95 01 81 02"
                                     " 85 03 09 01 09 02 15 00 25 7F 95 02 B1 02 85 04 09 03 95 01 B1 02 C0",
                                     &descriptor, &sWhy));
  OpenWith(descriptor);
  HidReportGroup& feature = m_record.feature;
  ASSERT_EQ(feature.nItemCount, 3u);
  feature.items[0].nRawValue = 7;   // usage 2 (listed first)
  feature.items[1].nRawValue = 8;   // usage 1
  feature.items[2].nRawValue = 9;   // report 4
  EXPECT_TRUE(SendFeatureReports(m_record));
  auto sent = m_sim.FeatureReports(m_sPath);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], (std::vector<std::uint8_t>{3, 8, 7}));
  EXPECT_EQ(sent[1], (std::vector<std::uint8_t>{4, 9, 0}));
  m_sim.SetFeatureFails(m_sPath, true);
  EXPECT_FALSE(SendFeatureReports(m_record));
}

TEST_F(DeviceOutput, AFailedPackLeavesItsItemsUnsetAndStopsAtOnce) {
  OpenWith();
  HidDataItem items[2];
  items[0].nUsagePage = 0xFF00;
  items[0].nUsage = 1;
  items[0].nReportId = 3;
  items[1] = items[0];
  items[1].nUsage = 0x77;  // no such usage
  std::uint8_t buffer[2] = {0xAA, 0xAA};
  EXPECT_FALSE(PackReport(buffer, 2, platform::HidP_Feature, items, 2, *m_record.pPreparsedData));
  EXPECT_EQ(items[1].nStatus, platform::HIDP_STATUS_USAGE_NOT_FOUND);
  EXPECT_FALSE(items[0].blIsSet);
  EXPECT_EQ(buffer[0], 3);  // zeroed, then the first value's report id
}

}  // namespace
}  // namespace orb::test
