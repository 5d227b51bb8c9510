// Input report decoding against the controller's descriptor and a few shaped ones.
#include <sys/eventfd.h>
#include <unistd.h>

#include "base/hex_text.h"
#include "device/control_code.h"
#include "device_fixture.h"

namespace orb::test {
namespace {

using namespace platform;

std::vector<std::uint8_t> Hex(const char* pText) {
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  EXPECT_TRUE(ParseHexText(pText, &bytes, &sWhy)) << sWhy;
  return bytes;
}

using ReportDecoding = SimulatedDeviceTest;

TEST_F(ReportDecoding, OneButtonDownIsAnEventChordsAndReleasesAreNot) {
  OpenWith();
  ControlEvent event{};
  ASSERT_TRUE(Feed({1, 0x04, 0x00}, &event));  // usage 3
  EXPECT_EQ(event.nKind, 1);
  EXPECT_EQ(event.nValue, 3);
  EXPECT_EQ(ControlCodeForUsage(static_cast<std::uint32_t>(event.nValue)), 601);
  EXPECT_FALSE(Feed({1, 0x04, 0x01}, &event));  // usages 3 and 9 together
  ASSERT_TRUE(Feed({1, 0x00, 0x01}, &event));   // then only 9: no leftover 3 or 9 behind it
  EXPECT_EQ(event.nValue, 9);
  EXPECT_EQ(ControlCodeForUsage(9), 602);
  EXPECT_FALSE(Feed({1, 0x00, 0x00}, &event));  // a release
  ASSERT_TRUE(Feed({1, 0x00, 0x20}, &event));   // usage 14, the last one
  EXPECT_EQ(ControlCodeForUsage(static_cast<std::uint32_t>(event.nValue)), 614);
}

TEST_F(ReportDecoding, WheelValuesAreSignedAndZeroStillCounts) {
  OpenWith();
  ControlEvent event{};
  ASSERT_TRUE(Feed({2, 0xFF}, &event));
  EXPECT_EQ(event.nKind, 2);
  EXPECT_EQ(event.nValue, -1);
  ASSERT_TRUE(Feed({2, 0x00}, &event));
  EXPECT_EQ(event.nValue, 0);
  ASSERT_TRUE(Feed({2, 0x81}, &event));
  EXPECT_EQ(event.nValue, -127);
  // The shorter wheel report must not read the button byte a longer report left behind.
  ASSERT_FALSE(Feed({1, 0xFF, 0x3F}, &event));
  ASSERT_TRUE(Feed({2, 0x05}, &event));
  EXPECT_EQ(m_record.input.report[2], 0);
}

TEST_F(ReportDecoding, AReportOfAnotherKindWithAWheelIsPassedOnWithItsKind) {
  // Buttons in report 1, wheels in reports 2 and 3.
  OpenWith(Hex("05 01 09 08 A1 01 85 01 05 09 19 01 29 0E 15 00 25 01 75 01 95 10 81 02"
               " 85 02 05 01 09 38 15 81 25 7F 75 08 95 01 81 06"
               " 85 03 09 38 81 06 C0"));
  ControlEvent event{};
  ASSERT_TRUE(Feed({2, 0x07}, &event));
  ASSERT_TRUE(Feed({3, 0xFE}, &event));
  EXPECT_EQ(event.nKind, 3);
  EXPECT_EQ(event.nValue, -2);  // report 3's own wheel, not report 2's 7
}

TEST_F(ReportDecoding, UsagesOutsideTheFirstButtonItemAreDroppedBeforeCounting) {
  // Report 1 holds buttons 1-14 and, in a second item, buttons 15-16 of the same page.
  OpenWith(Hex("05 01 09 08 A1 01 85 01 05 09 19 01 29 0E 15 00 25 01 75 01 95 0E 81 02"
               " 19 0F 29 10 95 02 81 02 C0"));
  ControlEvent event{};
  ASSERT_TRUE(Feed({1, 0x04, 0xC0}, &event));  // 3 with 15 and 16: only 3 is this item's
  EXPECT_EQ(event.nValue, 3);
  const HidDataItem& second = m_record.input.items[1];
  EXPECT_EQ(second.usageList[0], 15);
  EXPECT_EQ(second.usageList[1], 16);
  EXPECT_EQ(second.usageList[2], 0);
}

TEST_F(ReportDecoding, ValueRangesBecomeOneItemPerUsageInCapabilityOrder) {
  OpenWith(Hex("06 00 FF 09 01 A1 01 85 01 19 10 29 12 15 00 25 7F 75 08 95 03 81 02"
               " 09 20 81 02 05 09 19 01 29 02 25 01 75 01 95 02 81 02 75 06 95 01 81 03 C0"));
  const HidReportGroup& in = m_record.input;
  ASSERT_EQ(in.nItemCount, 1u + 4u);
  EXPECT_TRUE(in.items[0].blIsButton);
  EXPECT_EQ(in.items[1].nUsage, 0x10);
  EXPECT_EQ(in.items[2].nUsage, 0x11);
  EXPECT_EQ(in.items[3].nUsage, 0x12);
  EXPECT_EQ(in.items[4].nUsage, 0x20);
  ControlEvent event{};
  EXPECT_FALSE(Feed({1, 10, 11, 12, 99, 0}, &event));  // kind 1, no button down
  EXPECT_EQ(in.items[2].nRawValue, 11u);
  EXPECT_EQ(in.items[4].nScaledValue, 99);
  EXPECT_TRUE(in.items[4].blIsSet);
}

TEST_F(ReportDecoding, DevicesWithoutReportIdsGetIdZeroInFront) {
  OpenWith(Hex("05 01 09 08 A1 01 05 09 19 01 29 0E 15 00 25 01 75 01 95 10 81 02 C0"));
  EXPECT_EQ(m_record.input.report.size(), 3u);
  ControlEvent event{};
  EXPECT_FALSE(Feed({0x04, 0x00}, &event));  // kind 0 with no wheel: no event
  EXPECT_EQ(m_record.input.report[0], 0);
  EXPECT_EQ(m_record.input.report[1], 0x04);
  EXPECT_EQ(m_record.input.items[0].usageList[0], 3);
}

TEST_F(ReportDecoding, ReadReturnsWokenOnTheWakeFdAndGoneOnUnplug) {
  OpenWith();
  const int nWake = ::eventfd(1, EFD_CLOEXEC);
  ASSERT_GE(nWake, 0);
  EXPECT_EQ(ReadInputReport(m_record, nWake), ReadResult::Woken);
  EXPECT_EQ(ReadInputReport(m_record, nWake), ReadResult::Woken);  // not consumed
  ::close(nWake);
  m_sim.Unplug(m_sPath);
  EXPECT_EQ(ReadInputReport(m_record, -1), ReadResult::Gone);
  HidDeviceRecord empty;
  EXPECT_EQ(ReadInputReport(empty, -1), ReadResult::Gone);
  ControlEvent event{};
  EXPECT_FALSE(GetControlEvent(empty, &event));
}

TEST(ControlCodes, UsagesMapToCodesAndTheRestToNothing) {
  const int kExpected[16] = {0, 605, 603, 601, 607, 609, 611, 613, 604, 602, 606, 608, 612, 610, 614, 0};
  for (std::uint32_t u = 0; u < 16; ++u) EXPECT_EQ(ControlCodeForUsage(u), kExpected[u]) << u;
  EXPECT_EQ(ControlCodeForUsage(16), 0);
  EXPECT_EQ(ControlCodeForUsage(0xFFFF), 0);
  EXPECT_STREQ(ControlCaption(606), "DECK");
  EXPECT_EQ(ControlCaption(615), nullptr);
}

}  // namespace
}  // namespace orb::test
