// Any bytes as a report descriptor, then any report through every operation of the parser
// and through the device layer's decoding. Input: 2 bytes descriptor length, the
// descriptor, then report bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/hid_device_record.h"
#include "platform/hid/hid_parser.h"

using namespace orb;
using namespace orb::platform;

namespace {

void Exercise(const HidPreparsedData& data, HIDP_REPORT_TYPE type, const std::uint8_t* pReport, std::size_t nReport) {
  const std::uint16_t nLength = data.ReportByteLength(type);
  if (nLength == 0) return;
  std::vector<std::uint8_t> report(nLength, 0);
  for (std::size_t i = 0; i < nLength && nReport != 0; ++i) report[i] = pReport[i % nReport];
  const auto& g = data.GroupOf(type);
  std::vector<USAGE> usages(HidP_MaxUsageListLength(type, 0, data) + 1);
  for (const HIDP_BUTTON_CAPS& b : g.buttonCaps) {
    std::uint32_t nCount = static_cast<std::uint32_t>(usages.size());
    HidP_GetUsages(type, b.UsagePage, 0, usages.data(), &nCount, data, report.data(), nLength);
    nCount = 1;
    HidP_GetUsages(type, b.UsagePage, b.LinkCollection, usages.data(), &nCount, data, report.data(), nLength);
    std::vector<std::uint8_t> out(nLength, 0);
    USAGE set[3] = {b.Range.UsageMin, 0, b.Range.UsageMax};
    std::uint32_t nSet = 3;
    HidP_SetUsages(type, b.UsagePage, 0, set, &nSet, data, out.data(), nLength);
    nSet = 3;
    HidP_SetUsages(type, b.UsagePage, 0, set, &nSet, data, report.data(), nLength);
  }
  for (const HIDP_VALUE_CAPS& v : g.valueCaps) {
    std::uint32_t nRaw = 0;
    std::int32_t nScaled = 0;
    HidP_GetUsageValue(type, v.UsagePage, 0, v.Range.UsageMax, &nRaw, data, report.data(), nLength);
    HidP_GetScaledUsageValue(type, v.UsagePage, 0, v.Range.UsageMin, &nScaled, data, report.data(), nLength);
    HidP_SetUsageValue(type, v.UsagePage, 0, v.Range.UsageMax, nRaw ^ 0xA5A5A5A5u, data, report.data(), nLength);
  }
  HIDP_BUTTON_CAPS buttons[4];
  HIDP_VALUE_CAPS values[4];
  std::uint16_t nCaps = 4;
  HidP_GetSpecificButtonCaps(type, 0, 0, 0, buttons, &nCaps, data);
  nCaps = 4;
  HidP_GetSpecificValueCaps(type, 0, 0, 0, values, &nCaps, data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize < 2) return 0;
  std::size_t nDescriptor = pData[0] | (std::size_t{pData[1]} << 8);
  if (nDescriptor > nSize - 2) nDescriptor = nSize - 2;
  const std::uint8_t* pDescriptor = pData + 2;
  const std::uint8_t* pReport = pDescriptor + nDescriptor;
  const std::size_t nReport = nSize - 2 - nDescriptor;

  std::vector<HidPreparsedData> collections;
  std::string sWhy;
  if (!ParseReportDescriptor(pDescriptor, nDescriptor, &collections, &sWhy)) return 0;
  for (const HidPreparsedData& data : collections) {
    for (int t = 0; t < kHidReportTypes; ++t) Exercise(data, static_cast<HIDP_REPORT_TYPE>(t), pReport, nReport);
  }

  // The device layer over the first collection, when its usage lists stay reasonable.
  std::size_t nLists = 0;
  for (int t = 0; t < kHidReportTypes; ++t) {
    const auto type = static_cast<HIDP_REPORT_TYPE>(t);
    for (const auto& b : collections[0].GroupOf(type).buttonCaps) nLists += HidP_MaxUsageListLength(type, b.UsagePage, collections[0]);
  }
  if (nLists > 100000) return 0;
  HidDeviceRecord record;
  record.sDevicePath = "fuzz";
  record.pPreparsedData = std::make_unique<HidPreparsedData>(collections[0]);
  HidP_GetCaps(*record.pPreparsedData, &record.caps);
  BuildDataItems(record);
  std::vector<std::uint8_t>& in = record.input.report;
  for (std::size_t i = 0; i < in.size() && nReport != 0; ++i) in[i] = pReport[i % nReport];
  ControlEvent event{};
  GetControlEvent(record, &event);
  return 0;
}
