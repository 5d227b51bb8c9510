// The parser against the behaviours the decoding rules rely on: capability order and data
// indices, report lengths, the value and usage operations with their status codes, and the
// refusal of descriptors we cannot use.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "base/hex_text.h"
#include "platform/hid/controller_descriptor.h"
#include "platform/hid/hid_parser.h"

namespace orb::platform {
namespace {

std::vector<HidPreparsedData> ParseOk(const char* pHex) {
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  EXPECT_TRUE(ParseHexText(pHex, &bytes, &sWhy)) << sWhy;
  std::vector<HidPreparsedData> collections;
  EXPECT_TRUE(ParseReportDescriptor(bytes.data(), bytes.size(), &collections, &sWhy)) << sWhy;
  return collections;
}

std::string Refusal(const char* pHex) {
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  EXPECT_TRUE(ParseHexText(pHex, &bytes, &sWhy)) << sWhy;
  std::vector<HidPreparsedData> collections;
  EXPECT_FALSE(ParseReportDescriptor(bytes.data(), bytes.size(), &collections, &sWhy));
  EXPECT_TRUE(collections.empty());
  return sWhy;
}

// A joystick in the shape of a known Windows test: X and Y declared in one main item, then
// eight buttons; no report ids.
const char kJoystick[] =
    "05 01 09 04 A1 01 09 30 09 31 15 80 25 7F 75 08 95 02 81 02"
    " 05 09 19 01 29 08 15 00 25 01 75 01 95 08 81 02 C0";

TEST(HidParserCaps, UsagesOfOneMainItemAreListedLastFirstWithDataIndicesInThatOrder) {
  const auto collections = ParseOk(kJoystick);
  ASSERT_EQ(collections.size(), 1u);
  const auto& g = collections[0].GroupOf(HidP_Input);
  ASSERT_EQ(g.valueCaps.size(), 2u);
  EXPECT_EQ(g.valueCaps[0].NotRange.Usage, 0x31);  // Y first
  EXPECT_EQ(g.valueCaps[0].NotRange.DataIndex, 0);
  EXPECT_EQ(g.valueCaps[1].NotRange.Usage, 0x30);
  EXPECT_EQ(g.valueCaps[1].NotRange.DataIndex, 1);
  ASSERT_EQ(g.buttonCaps.size(), 1u);
  EXPECT_EQ(g.buttonCaps[0].Range.DataIndexMin, 2);  // one counter for buttons and values
  EXPECT_EQ(g.buttonCaps[0].Range.DataIndexMax, 9);
  const HIDP_CAPS& caps = collections[0].Caps();
  EXPECT_EQ(caps.InputReportByteLength, 4);  // the id byte counts even without report ids
  EXPECT_EQ(caps.OutputReportByteLength, 0);
  EXPECT_EQ(caps.NumberInputDataIndices, 10);
  EXPECT_EQ(caps.NumberLinkCollectionNodes, 1);
  EXPECT_FALSE(collections[0].UsesReportIds());
}

TEST(HidParserCaps, FieldsGoToUsagesInOrderAndTheLastUsageTakesTheRest) {
  // Usages 0x30, 0x31 over four fields: 0x31 owns three (a value array).
  const auto c = ParseOk("05 01 09 04 A1 01 09 30 09 31 15 00 25 7F 75 08 95 04 81 02 C0");
  const auto& v = c[0].GroupOf(HidP_Input).valueCaps;
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].NotRange.Usage, 0x31);
  EXPECT_EQ(v[0].ReportCount, 3);
  EXPECT_EQ(v[1].ReportCount, 1);
  // Report count 0 and a usage with no field left: no capability, no data index.
  const auto d = ParseOk("05 01 09 04 A1 01 09 30 09 31 75 08 95 01 81 02 09 32 95 00 81 02 C0");
  EXPECT_EQ(d[0].GroupOf(HidP_Input).valueCaps.size(), 1u);
  EXPECT_EQ(d[0].Caps().NumberInputDataIndices, 1);
}

TEST(HidParserCaps, ConstantFieldsWithUsagesHaveCapabilitiesAndUnnamedOnesArePadding) {
  const auto c = ParseOk("05 09 09 01 A1 01 19 01 29 04 15 00 25 01 75 01 95 04 81 03 95 04 81 03 C0");
  const auto& b = c[0].GroupOf(HidP_Input).buttonCaps;
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].BitField, 3);
  EXPECT_EQ(c[0].Caps().InputReportByteLength, 2);
}

TEST(HidParserCaps, AConstantArrayNamesNothingButItsBitsStayInTheReport) {
  // Buttons 1..4; usages 5..8 on a constant array; X; Y on a constant variable item.
  const auto c = ParseOk(
      "05 01 09 05 A1 01 05 09 19 01 29 04 15 00 25 01 75 01 95 04 81 02 19 05 29 08 95 04 81 01"
      " 05 01 09 30 15 81 25 7F 75 08 95 01 81 02 09 31 81 03 C0");
  const auto& g = c[0].GroupOf(HidP_Input);
  ASSERT_EQ(g.buttonCaps.size(), 1u);
  EXPECT_EQ(g.buttonCaps[0].Range.UsageMax, 4);
  ASSERT_EQ(g.valueCaps.size(), 2u);
  EXPECT_EQ(g.valueCaps[0].NotRange.DataIndex, 4);  // right after the buttons
  EXPECT_EQ(c[0].Caps().NumberInputDataIndices, 6);
  EXPECT_EQ(c[0].Caps().InputReportByteLength, 4);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, HID_USAGE_PAGE_BUTTON, c[0]), 4u);

  std::uint8_t report[4] = {0, 0xF5, 0x7F, 0x81};  // buttons 1 and 3; the constant nibble all set
  USAGE usages[4] = {};
  std::uint32_t nLength = 4;
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages, &nLength, c[0], report, 4), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(nLength, 2u);
  EXPECT_EQ(usages[0], 1);
  EXPECT_EQ(usages[1], 3);
  std::int32_t nX = 0;
  std::int32_t nY = 0;
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x30, &nX, c[0], report, 4), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x31, &nY, c[0], report, 4), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nX, 127);
  EXPECT_EQ(nY, -127);
  USAGE hidden[1] = {6};
  nLength = 1;
  EXPECT_EQ(HidP_SetUsages(HidP_Input, 9, 0, hidden, &nLength, c[0], report, 4), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(HidParserCaps, ReportIdsLengthsAndLinkCollections) {
  const auto c = ParseOk(
      "05 01 09 05 A1 01 85 01 09 01 A1 00 09 30 75 08 95 01 15 00 25 7F 81 02 C0"
      " 85 02 09 31 75 10 95 02 81 02 85 03 09 32 B1 02 C0");
  const HIDP_CAPS& caps = c[0].Caps();
  EXPECT_TRUE(c[0].UsesReportIds());
  EXPECT_EQ(caps.InputReportByteLength, 5);  // report 2: id + 2 x 16 bits
  EXPECT_EQ(caps.FeatureReportByteLength, 5);  // the globals carry over: 2 x 16 bits
  EXPECT_EQ(caps.NumberLinkCollectionNodes, 2);
  const auto& v = c[0].GroupOf(HidP_Input).valueCaps;
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].LinkCollection, 1);
  EXPECT_EQ(v[0].LinkUsage, 0x01);
  EXPECT_EQ(v[1].LinkCollection, 0);
  EXPECT_EQ(v[1].ReportID, 2);
}

TEST(HidParserCaps, SpecificCapsFilterAndReportShortBuffers) {
  const auto c = ParseOk(kJoystick);
  HIDP_VALUE_CAPS caps[4];
  std::uint16_t nLength = 0;
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, caps, &nLength, c[0]), HIDP_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(nLength, 2);
  nLength = 4;
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 1, 0, 0x30, caps, &nLength, c[0]), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nLength, 1);
  EXPECT_EQ(caps[0].NotRange.Usage, 0x30);
  nLength = 4;
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0xFFFE, 0, 0, caps, &nLength, c[0]), HIDP_STATUS_USAGE_NOT_FOUND);
  EXPECT_EQ(nLength, 0);
  nLength = 4;
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Output, 0, 0, 0, caps, &nLength, c[0]), HIDP_STATUS_USAGE_NOT_FOUND);
  EXPECT_EQ(HidP_GetSpecificValueCaps(static_cast<HIDP_REPORT_TYPE>(3), 0, 0, 0, caps, &nLength, c[0]),
            HIDP_STATUS_INVALID_REPORT_TYPE);
}

TEST(HidParserCaps, ExtendedUsagesCarryTheirPageAndSignedExtentsAreSigned) {
  const auto c = ParseOk("05 01 09 04 A1 01 0B 38 00 01 00 15 00 25 FF 75 08 95 01 81 02 C0");
  const auto& v = c[0].GroupOf(HidP_Input).valueCaps;
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].UsagePage, 1);
  EXPECT_EQ(v[0].NotRange.Usage, 0x38);
  EXPECT_EQ(v[0].LogicalMax, -1);  // one byte 0xFF is -1, as Windows reads it
}

TEST(HidParserValues, ScaledValueIsTheLogicalValueWithoutAPhysicalRange) {
  const auto c = ParseOk(kJoystick);
  std::uint8_t report[4] = {0, 0x80, 0x7F, 0};
  std::int32_t nScaled = 1;
  std::uint32_t nRaw = 0;
  EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, 0x30, &nRaw, c[0], report, 4), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nRaw, 0x80u);  // raw: neither sign-extended nor scaled
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x30, &nScaled, c[0], report, 4), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nScaled, -128);
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x31, &nScaled, c[0], report, 4), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nScaled, 127);
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x31, &nScaled, c[0], report, 3),
            HIDP_STATUS_INVALID_REPORT_LENGTH);
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x32, &nScaled, c[0], report, 4), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(HidParserValues, ScalingUsesTheFullThirtyTwoBitSpans) {
  // Z: logical 0..0x3FFFFFFF, physical INT32_MIN..INT32_MAX.
  const auto c = ParseOk(
      "05 01 09 04 A1 01 09 32 17 00 00 00 00 27 FF FF FF 3F 37 00 00 00 80 47 FF FF FF 7F"
      " 75 20 95 01 81 02 C0");
  std::uint8_t report[5] = {0, 0xFF, 0xFF, 0xFF, 0x3F};
  std::int32_t nScaled = 0;
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x32, &nScaled, c[0], report, 5), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nScaled, 0x7FFFFFFF);
  std::uint8_t zero[5] = {};
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x32, &nScaled, c[0], zero, 5), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nScaled, static_cast<std::int32_t>(0x80000000u));
  std::uint8_t above[5] = {0, 0xFF, 0xFF, 0xFF, 0x7F};
  nScaled = 5;
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x32, &nScaled, c[0], above, 5),
            HIDP_STATUS_VALUE_OUT_OF_RANGE);
  EXPECT_EQ(nScaled, 0);
}

TEST(HidParserValues, BadRangesAndNullStates) {
  // Logical range backwards: no scaling possible.
  const auto bad = ParseOk("05 01 09 04 A1 01 09 33 15 7F 25 00 35 00 45 7F 75 08 95 01 81 02 C0");
  std::uint8_t report[2] = {0, 5};
  std::int32_t nScaled = 9;
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x33, &nScaled, bad[0], report, 2),
            HIDP_STATUS_BAD_LOG_PHY_VALUES);
  EXPECT_EQ(nScaled, 0);
  // A hat switch with a null state: 8 is outside 0..7 and means "centred".
  const auto hat = ParseOk("05 01 09 04 A1 01 09 39 15 00 25 07 35 00 46 3B 01 75 04 95 01 81 42 75 04 81 03 C0");
  std::uint8_t centred[2] = {0, 8};
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x39, &nScaled, hat[0], centred, 2), HIDP_STATUS_NULL);
  std::uint8_t east[2] = {0, 2};
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x39, &nScaled, hat[0], east, 2), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(nScaled, 90);
}

TEST(HidParserUsages, ButtonsDownReportIdsAndShortLists) {
  std::vector<std::uint8_t> desc(kControllerDescriptor, kControllerDescriptor + kControllerDescriptorSize);
  std::vector<HidPreparsedData> c;
  std::string sWhy;
  ASSERT_TRUE(ParseReportDescriptor(desc.data(), desc.size(), &c, &sWhy)) << sWhy;
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, HID_USAGE_PAGE_BUTTON, c[0]), 14u);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0x0C, c[0]), 0u);
  EXPECT_EQ(HidP_MaxUsageListLength(static_cast<HIDP_REPORT_TYPE>(7), 0, c[0]), 0u);
  std::uint8_t report[3] = {1, 0x04 | 0x01, 0x01};  // usages 1, 3 and 9
  USAGE usages[14] = {};
  std::uint32_t nLength = 14;
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages, &nLength, c[0], report, 3), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(nLength, 3u);
  EXPECT_EQ(usages[0], 1);
  EXPECT_EQ(usages[1], 3);
  EXPECT_EQ(usages[2], 9);
  nLength = 1;
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages, &nLength, c[0], report, 3), HIDP_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(nLength, 3u);  // how many are down
  std::uint8_t wheel[3] = {2, 0xFF, 0};
  nLength = 14;
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages, &nLength, c[0], wheel, 3), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
  nLength = 14;
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 7, 0, usages, &nLength, c[0], report, 3), HIDP_STATUS_USAGE_NOT_FOUND);
  std::uint32_t nRaw = 0;
  EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, 0x38, &nRaw, c[0], report, 3), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
}

const char kKeyboard[] =
    "05 01 09 06 A1 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02 95 01 75 08 81 01"
    " 95 03 75 08 15 00 25 65 05 07 19 00 29 65 81 00 C0";

TEST(HidParserUsages, ArraysNameTheirUsagesByIndexAndCountTheirFieldsOnce) {
  const auto c = ParseOk(kKeyboard);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 7, c[0]), 8u + 3u);
  std::uint8_t report[6] = {0, 0x02, 0, 0x04, 0x00, 0x66};  // left shift, A, empty, out of range
  USAGE usages[11] = {};
  std::uint32_t nLength = 11;
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 7, 0, usages, &nLength, c[0], report, 6), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(nLength, 2u);
  EXPECT_EQ(usages[0], 0xE1);
  EXPECT_EQ(usages[1], 0x04);

  std::uint8_t out[6] = {};
  USAGE set[4] = {0x05, 0x06, 0x07, 0x08};
  nLength = 4;
  EXPECT_EQ(HidP_SetUsages(HidP_Input, 7, 0, set, &nLength, c[0], out, 6), HIDP_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(nLength, 3u);  // the fourth key found no free slot
  EXPECT_EQ(out[3], 0x05);
  EXPECT_EQ(out[5], 0x07);
}

TEST(HidParserUsages, AnArrayNumberedInDeclarationOrderStillSelectsByDeclaration) {
  // Usages 0x82, 0x81, 0x83 in a 2-bit array (logical 1..3), then 6 bits of padding.
  const auto c = ParseOk("05 01 09 80 A1 01 09 82 09 81 09 83 15 01 25 03 75 02 95 01 81 00 75 06 81 03 C0");
  const auto& b = c[0].GroupOf(HidP_Input).buttonCaps;
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[0].NotRange.Usage, 0x83);
  EXPECT_EQ(b[0].NotRange.DataIndex, 2);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 1, c[0]), 1u);
  const USAGE declared[3] = {0x82, 0x81, 0x83};
  for (std::uint8_t nValue = 0; nValue < 4; ++nValue) {
    std::uint8_t report[2] = {0, static_cast<std::uint8_t>(0xFC | nValue)};  // padding bits set
    USAGE usages[1] = {};
    std::uint32_t nLength = 1;
    EXPECT_EQ(HidP_GetUsages(HidP_Input, 1, 0, usages, &nLength, c[0], report, 2), HIDP_STATUS_SUCCESS);
    if (nValue == 0) {
      EXPECT_EQ(nLength, 0u) << "0 is below the logical minimum: nothing";
      continue;
    }
    ASSERT_EQ(nLength, 1u) << int{nValue};
    EXPECT_EQ(usages[0], declared[nValue - 1]);

    std::uint8_t out[2] = {};
    USAGE set[1] = {declared[nValue - 1]};
    nLength = 1;
    EXPECT_EQ(HidP_SetUsages(HidP_Input, 1, 0, set, &nLength, c[0], out, 2), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(out[1], nValue);
  }
}

TEST(HidParserUsages, SettingTakesTheReportIdOfAZeroedReportAndRefusesOthers) {
  std::vector<HidPreparsedData> c;
  std::string sWhy;
  ASSERT_TRUE(ParseReportDescriptor(kControllerDescriptor, kControllerDescriptorSize, &c, &sWhy));
  std::uint8_t report[3] = {};
  USAGE set[3] = {3, 0, 9};  // a 0 entry (a zero-padded list) is skipped
  std::uint32_t nLength = 3;
  EXPECT_EQ(HidP_SetUsages(HidP_Input, 9, 0, set, &nLength, c[0], report, 3), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report[0], 1);
  EXPECT_EQ(report[1], 0x04);
  EXPECT_EQ(report[2], 0x01);
  EXPECT_EQ(HidP_SetUsageValue(HidP_Input, 1, 0, 0x38, 5, c[0], report, 3), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
  USAGE missing[1] = {15};
  nLength = 1;
  EXPECT_EQ(HidP_SetUsages(HidP_Input, 9, 0, missing, &nLength, c[0], report, 3), HIDP_STATUS_USAGE_NOT_FOUND);
  EXPECT_EQ(nLength, 0u);
  std::uint8_t feature[2] = {};
  EXPECT_EQ(HidP_SetUsageValue(HidP_Feature, 0xFF00, 0, 1, 0x105, c[0], feature, 2), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(feature[0], 3);
  EXPECT_EQ(feature[1], 0x05);  // only the field's 8 bits
}

TEST(HidParserRefusal, DescriptorsWeCannotUseAreRefusedWithAReason) {
  EXPECT_NE(Refusal("05 01 09 02 A1 01 26 FF").find("cut off"), std::string::npos);
  EXPECT_NE(Refusal("05 01 09 00 A1 01 FE 02 00 00 00 C0").find("long item"), std::string::npos);
  EXPECT_NE(Refusal("05 01 09 00 A1 01 75 08 96 20 4E 09 01 81 02 C0").find("longer than"), std::string::npos);
  EXPECT_NE(Refusal("05 01 09 00 A1 01 75 08 97 00 00 01 00 C0").find("report count"), std::string::npos);
  EXPECT_NE(Refusal("75 08 95 01 09 01 81 02").find("outside any collection"), std::string::npos);
  EXPECT_NE(Refusal("05 01 09 00 A1 01").find("not closed"), std::string::npos);
  EXPECT_NE(Refusal("C0").find("without Collection"), std::string::npos);
  EXPECT_NE(Refusal("05 01").find("no top-level collection"), std::string::npos);
  EXPECT_NE(Refusal("05 01 09 00 A1 01 85 00 C0").find("report id 0"), std::string::npos);
  EXPECT_NE(Refusal("05 01 09 00 A1 01 75 08 95 01 09 01 81 02 85 01 09 02 81 02 C0").find("without a report id"),
            std::string::npos);
  EXPECT_NE(Refusal("B4").find("Pop"), std::string::npos);
  std::string sDeep = "05 01 09 00";
  for (int i = 0; i < 33; ++i) sDeep += " A1 00";
  EXPECT_NE(Refusal(sDeep.c_str()).find("deeper"), std::string::npos);
  std::vector<HidPreparsedData> c;
  std::string sWhy;
  EXPECT_FALSE(ParseReportDescriptor(nullptr, 0, &c, &sWhy));
  std::vector<std::uint8_t> huge(kHidMaxDescriptorBytes + 1, 0x00);
  EXPECT_FALSE(ParseReportDescriptor(huge.data(), huge.size(), &c, &sWhy));
}

TEST(HidParserControllerDescriptor, CompiledInBytesEqualTheResourceFile) {
  std::ifstream in(ORB_CONTROLLER_HEX);
  const std::string sText{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  ASSERT_TRUE(ParseHexText(sText, &bytes, &sWhy)) << sWhy;
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(kControllerDescriptor, kControllerDescriptor + kControllerDescriptorSize));
}

}  // namespace
}  // namespace orb::platform
