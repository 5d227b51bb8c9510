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
using Reports = std::vector<std::vector<std::uint8_t>>;

std::vector<std::uint8_t> Descriptor(const char* pHex) {
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  EXPECT_TRUE(ParseHexText(pHex, &bytes, &sWhy)) << sWhy;
  return bytes;
}

// Input report 1 for the wheel; feature reports 3 and 4 both carry usage 1 as a value.
const char kSameUsageTwice[] =
    "06 00 FF 09 01 A1 01 85 01 09 05 15 00 25 7F 75 08 95 01 81 02"
    " 85 03 09 01 B1 02 85 04 09 01 B1 02 C0";

// Feature report 3: buttons 1..3, padding, then usage 1 as a value; feature report 4:
// buttons 4..5 only.
const char kButtonsFirst[] =
    "06 00 FF 09 01 A1 01 85 01 09 05 15 00 25 7F 75 08 95 01 81 02"
    " 85 03 05 09 19 01 29 03 15 00 25 01 75 01 95 03 B1 02 95 05 B1 03"
    " 06 00 FF 09 01 15 00 25 7F 75 08 95 01 B1 02"
    " 85 04 05 09 19 04 29 05 15 00 25 01 75 01 95 02 B1 02 95 06 B1 03 C0";

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

TEST_F(DeviceOutput, EachReportGoesOutUnderItsOwnIdWhenTwoShareAUsage) {
  OpenWith(Descriptor(kSameUsageTwice));
  HidReportGroup& feature = m_record.feature;
  ASSERT_EQ(feature.nItemCount, 2u);
  ASSERT_EQ(feature.items[0].nReportId, 3u);
  ASSERT_EQ(feature.items[1].nReportId, 4u);
  feature.items[1].nRawValue = 9;
  SendModeBits(m_record, 5);
  EXPECT_EQ(m_sim.FeatureReports(m_sPath), (Reports{{3, 5}, {4, 9}}));
  // The bits stay with report 3; report 4 keeps its own value.
  SendModeBits(m_record, 0);
  EXPECT_EQ(m_sim.FeatureReports(m_sPath), (Reports{{3, 5}, {4, 9}, {3, 0}, {4, 9}}));
  EXPECT_EQ(feature.items[0].nRawValue, 0u);
  EXPECT_TRUE(feature.items[0].blIsSet && feature.items[1].blIsSet);
}

TEST_F(DeviceOutput, ModeBitsPassOverLeadingButtonsAndEmptyButtonReportsKeepTheirId) {
  OpenWith(Descriptor(kButtonsFirst));
  HidReportGroup& feature = m_record.feature;
  ASSERT_EQ(feature.nItemCount, 3u);
  ASSERT_TRUE(feature.items[0].blIsButton && feature.items[1].blIsButton);
  ASSERT_EQ(feature.items[1].nReportId, 4u);
  SendModeBits(m_record, 5);
  // Report 4 has no button down and still goes out as report 4.
  EXPECT_EQ(m_sim.FeatureReports(m_sPath), (Reports{{3, 0, 5}, {4, 0, 0}}));
  EXPECT_EQ(feature.items[2].nRawValue, 5u);
  feature.items[0].usageList[0] = 3;
  feature.items[1].usageList[0] = 5;
  SendModeBits(m_record, 2);
  EXPECT_EQ(m_sim.FeatureReports(m_sPath), (Reports{{3, 0, 5}, {4, 0, 0}, {3, 0x04, 2}, {4, 0x02, 0}}));
}

TEST_F(DeviceOutput, NoFeatureValueItemNoModeBits) {
  OpenWith(Descriptor(
      "06 00 FF 09 01 A1 01 85 01 09 05 15 00 25 7F 75 08 95 01 81 02"
      " 85 03 05 09 19 01 29 03 15 00 25 01 75 01 95 03 B1 02 95 05 B1 03 C0"));
  ASSERT_EQ(m_record.feature.nItemCount, 1u);
  SendModeBits(m_record, 5);
  EXPECT_TRUE(m_sim.FeatureReports(m_sPath).empty());
  EXPECT_TRUE(SendFeatureReports(m_record));  // the buttons alone do go out, when asked
  EXPECT_EQ(m_sim.FeatureReports(m_sPath), (Reports{{3, 0}}));
}

TEST_F(DeviceOutput, AFailedPackSendsItsIdAndTheNextItemOfThatIdSendsAgain) {
  // Feature report 3 with usages 1 and 2 (listed 2, 1), feature report 4 with usage 3.
  OpenWith(Descriptor(
      "06 00 FF 09 01 A1 01 85 01 09 05 75 08 95 01 81 02"
      " 85 03 09 01 09 02 15 00 25 7F 95 02 B1 02 85 04 09 03 95 01 B1 02 C0"));
  HidReportGroup& feature = m_record.feature;
  ASSERT_EQ(feature.nItemCount, 3u);
  feature.items[0].nUsage = 0x77;  // the parser refuses it
  feature.items[1].nRawValue = 8;
  feature.items[2].nRawValue = 9;
  EXPECT_TRUE(SendFeatureReports(m_record));  // every send succeeded
  EXPECT_EQ(m_sim.FeatureReports(m_sPath), (Reports{{3, 0, 0}, {3, 8, 0}, {4, 9, 0}}));
  EXPECT_EQ(feature.items[0].nStatus, platform::HIDP_STATUS_USAGE_NOT_FOUND);
  EXPECT_FALSE(feature.items[0].blIsSet);
  EXPECT_TRUE(feature.items[1].blIsSet && feature.items[2].blIsSet);
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
