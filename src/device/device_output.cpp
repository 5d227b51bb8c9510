#include "device/device_output.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace orb {

using namespace platform;

std::uint8_t ModeBitsFromFlags(std::uint32_t dwFlags) {
  std::uint8_t nBits = (dwFlags & PF_DECK) != 0 ? 1 : 0;
  if ((dwFlags & (PF_JOGSHUTTLE | PF_HOSTMODE)) != 0) nBits |= (dwFlags & PF_JOG) != 0 ? 2 : 4;
  return nBits;
}

std::uint8_t ModeBits(const ProfileRecord* pProfile) {
  if (pProfile == nullptr) return 0;
  // The live record's flags are shared with the device thread: read them atomically.
  auto* pFlags = reinterpret_cast<std::uint32_t*>(
      const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(pProfile)) + offsetof(ProfileRecord, dwFlags));
  return ModeBitsFromFlags(std::atomic_ref<std::uint32_t>(*pFlags).load());
}

bool PackReport(std::uint8_t* pBuffer, std::uint32_t nBufferLength, HIDP_REPORT_TYPE type, HidDataItem* pItems,
                std::uint32_t nItemCount, const HidPreparsedData& data) {
  if (nBufferLength == 0 || nItemCount == 0) return false;
  std::memset(pBuffer, 0, nBufferLength);
  const std::uint32_t nReportId = pItems[0].nReportId;
  // The id goes in first: with byte 0 still 0 the parser would pick the first report that
  // has the usage, and a report of buttons none of which is down would go out as report 0.
  pBuffer[0] = static_cast<std::uint8_t>(nReportId);
  for (std::uint32_t i = 0; i < nItemCount; ++i) {
    HidDataItem& item = pItems[i];
    if (item.nReportId != nReportId) continue;
    if (item.blIsButton) {
      std::uint32_t nLength = item.nUsageListLength;
      item.nStatus = HidP_SetUsages(type, item.nUsagePage, 0, item.usageList.data(), &nLength, data, pBuffer,
                                    nBufferLength);
    } else {
      item.nStatus =
          HidP_SetUsageValue(type, item.nUsagePage, 0, item.nUsage, item.nRawValue, data, pBuffer, nBufferLength);
    }
    if (item.nStatus != HIDP_STATUS_SUCCESS) return false;
  }
  for (std::uint32_t i = 0; i < nItemCount; ++i) {
    if (pItems[i].nReportId == nReportId) pItems[i].blIsSet = true;
  }
  return true;
}

bool SendFeatureReports(HidDeviceRecord& record) {
  if (!record.pDevice || !record.pPreparsedData) return false;
  HidReportGroup& feature = record.feature;
  for (std::uint32_t i = 0; i < feature.nItemCount; ++i) feature.items[i].blIsSet = false;
  bool blAllSent = true;
  const auto nLength = static_cast<std::uint32_t>(feature.report.size());
  for (std::uint32_t i = 0; i < feature.nItemCount; ++i) {
    if (feature.items[i].blIsSet) continue;
    PackReport(feature.report.data(), nLength, HidP_Feature, &feature.items[i], feature.nItemCount - i,
               *record.pPreparsedData);
    // A failed pack leaves its items unset: the next item of the same id packs and sends
    // the report again. Send failures are not retried; the modes show at the next change.
    if (!record.pDevice->SetFeature(feature.report.data(), feature.report.size())) blAllSent = false;
  }
  return blAllSent;
}

void SendModeBits(HidDeviceRecord& record, std::uint8_t nValue) {
  if (record.sDevicePath.empty()) return;
  HidReportGroup& feature = record.feature;
  // Button items come first; the bits belong to the first value.
  for (std::uint32_t i = 0; i < feature.nItemCount; ++i) {
    if (feature.items[i].blIsButton) continue;
    feature.items[i].nRawValue = nValue;
    SendFeatureReports(record);
    return;
  }
}

}  // namespace orb
