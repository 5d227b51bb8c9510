#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/hid_device_record.h"

namespace orb {

using namespace platform;

namespace {

void BuildGroup(HidDeviceRecord& record, HIDP_REPORT_TYPE type, std::uint16_t nLength, std::uint16_t nButtonCaps,
                std::uint16_t nValueCaps) {
  const HidPreparsedData& data = *record.pPreparsedData;
  HidReportGroup& group = record.Group(type);
  group.report.assign(nLength, 0);
  group.buttonCaps.assign(nButtonCaps, HIDP_BUTTON_CAPS{});
  group.valueCaps.assign(nValueCaps, HIDP_VALUE_CAPS{});
  std::uint16_t nCount = nButtonCaps;
  if (nCount != 0) HidP_GetSpecificButtonCaps(type, 0, 0, 0, group.buttonCaps.data(), &nCount, data);
  nCount = nValueCaps;
  if (nCount != 0) HidP_GetSpecificValueCaps(type, 0, 0, 0, group.valueCaps.data(), &nCount, data);

  std::uint32_t nValues = 0;
  for (const HIDP_VALUE_CAPS& v : group.valueCaps) {
    nValues += v.IsRange ? std::uint32_t{v.Range.UsageMax} - v.Range.UsageMin + 1 : 1;
  }
  group.nItemCount = nButtonCaps + nValues;
  group.items.assign(group.nItemCount, HidDataItem{});

  std::size_t nItem = 0;
  for (const HIDP_BUTTON_CAPS& b : group.buttonCaps) {
    HidDataItem& item = group.items[nItem++];
    item.blIsButton = true;
    item.nStatus = HIDP_STATUS_SUCCESS;
    item.nUsagePage = b.UsagePage;
    item.nUsageMin = b.IsRange ? b.Range.UsageMin : b.NotRange.Usage;
    item.nUsageMax = b.IsRange ? b.Range.UsageMax : b.NotRange.Usage;
    item.nUsageListLength = HidP_MaxUsageListLength(type, b.UsagePage, data);
    item.usageList.assign(item.nUsageListLength, 0);
    item.nReportId = b.ReportID;
  }
  for (const HIDP_VALUE_CAPS& v : group.valueCaps) {
    const std::uint32_t nFirst = v.IsRange ? v.Range.UsageMin : v.NotRange.Usage;
    const std::uint32_t nLast = v.IsRange ? v.Range.UsageMax : v.NotRange.Usage;
    for (std::uint32_t nUsage = nFirst; nUsage <= nLast; ++nUsage) {
      HidDataItem& item = group.items[nItem++];
      item.blIsButton = false;
      item.nStatus = HIDP_STATUS_SUCCESS;
      item.nUsagePage = v.UsagePage;
      item.nUsage = static_cast<USAGE>(nUsage);
      item.nReportId = v.ReportID;
    }
  }
}

}  // namespace

void BuildDataItems(HidDeviceRecord& record) {
  const HIDP_CAPS& c = record.caps;
  BuildGroup(record, HidP_Input, c.InputReportByteLength, c.NumberInputButtonCaps, c.NumberInputValueCaps);
  BuildGroup(record, HidP_Output, c.OutputReportByteLength, c.NumberOutputButtonCaps, c.NumberOutputValueCaps);
  BuildGroup(record, HidP_Feature, c.FeatureReportByteLength, c.NumberFeatureButtonCaps, c.NumberFeatureValueCaps);
}

bool UnpackReport(const std::uint8_t* pBuffer, std::uint32_t nBufferLength, HIDP_REPORT_TYPE type,
                  HidDataItem* pItems, std::uint32_t nItemCount, const HidPreparsedData& data) {
  if (nBufferLength == 0) return true;
  const std::uint8_t nReportId = pBuffer[0];
  for (std::uint32_t i = 0; i < nItemCount; ++i) {
    HidDataItem& item = pItems[i];
    if (item.nReportId != nReportId) continue;
    if (item.blIsButton) {
      std::uint32_t nLength = item.nUsageListLength;
      item.nStatus = HidP_GetUsages(type, item.nUsagePage, 0, item.usageList.data(), &nLength, data, pBuffer,
                                    nBufferLength);
      // A failed call leaves the list as it was. Otherwise keep only this item's own usages
      // (the call answers for the whole page) and end the list with 0. Only the entries
      // this call wrote are walked: what lies behind them is from an earlier report.
      if (item.nStatus == HIDP_STATUS_SUCCESS || item.nStatus == HIDP_STATUS_BUFFER_TOO_SMALL) {
        const std::uint32_t nWritten = std::min(nLength, item.nUsageListLength);
        std::uint32_t nKept = 0;
        for (std::uint32_t k = 0; k < nWritten; ++k) {
          const USAGE nUsage = item.usageList[k];
          if (nUsage >= item.nUsageMin && nUsage <= item.nUsageMax) item.usageList[nKept++] = nUsage;
        }
        if (nKept < item.nUsageListLength) item.usageList[nKept] = 0;
      }
    } else {
      std::uint32_t nRaw = 0;
      if (HidP_GetUsageValue(type, item.nUsagePage, 0, item.nUsage, &nRaw, data, pBuffer, nBufferLength) ==
          HIDP_STATUS_SUCCESS) {
        item.nRawValue = nRaw;
      }
      std::int32_t nScaled = 0;
      item.nStatus =
          HidP_GetScaledUsageValue(type, item.nUsagePage, 0, item.nUsage, &nScaled, data, pBuffer, nBufferLength);
      item.nScaledValue = nScaled;
    }
    item.blIsSet = true;
  }
  return true;
}

ReadResult ReadInputReport(HidDeviceRecord& record, int nWakeFd, int nTimeoutMs) {
  if (!record.pDevice || !record.pPreparsedData) return ReadResult::Gone;
  std::vector<std::uint8_t>& report = record.input.report;
  // hidraw puts no id byte in front of the reports of a device that numbers none; the
  // buffer keeps one (0) so that every report looks the same from here on.
  const bool blNoIds = !record.pPreparsedData->UsesReportIds();
  const std::size_t nSkip = blNoIds ? 1 : 0;
  std::uint8_t scratch[64];  // for a device without input reports: read and dropped
  const bool blHaveBuffer = report.size() > nSkip;
  std::uint8_t* pTarget = blHaveBuffer ? report.data() + nSkip : scratch;
  const std::size_t nRoom = blHaveBuffer ? report.size() - nSkip : sizeof scratch;

  pollfd fds[2] = {{record.pDevice->Fd(), POLLIN, 0}, {nWakeFd, POLLIN, 0}};
  for (;;) {
    const int nReady = ::poll(fds, 2, nTimeoutMs);
    if (nReady < 0) {
      if (errno == EINTR) continue;
      return ReadResult::Gone;
    }
    if (nReady == 0) return ReadResult::Woken;
    if (nWakeFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return ReadResult::Woken;
    const short nDevice = fds[0].revents;
    if ((nDevice & POLLIN) != 0) {
      const long nRead = record.pDevice->ReadReport(pTarget, nRoom);
      if (nRead < 0) return ReadResult::Gone;
      if (nRead == 0 || !blHaveBuffer) continue;
      if (blNoIds) report[0] = 0;
      const std::size_t nFilled = nSkip + static_cast<std::size_t>(nRead);
      // A shorter report (another report id) must not show the rest of a longer one.
      if (nFilled < report.size()) std::memset(report.data() + nFilled, 0, report.size() - nFilled);
      return ReadResult::Report;
    }
    if ((nDevice & (POLLHUP | POLLERR | POLLNVAL)) != 0) return ReadResult::Gone;
  }
}

bool GetControlEvent(HidDeviceRecord& record, ControlEvent* pEvent) {
  if (record.sDevicePath.empty() || !record.pPreparsedData) return false;
  HidReportGroup& in = record.input;
  if (in.report.empty()) return false;
  UnpackReport(in.report.data(), static_cast<std::uint32_t>(in.report.size()), HidP_Input, in.items.data(),
               in.nItemCount, *record.pPreparsedData);
  const std::uint8_t nKind = in.report[0];
  if (nKind == kReportButtons) {
    // Only the first button item counts, and only when this report filled it: a list left
    // from a report of another id would replay an old press.
    if (in.nItemCount == 0 || !in.items[0].blIsButton || in.items[0].nReportId != nKind) return false;
    const HidDataItem& item = in.items[0];
    std::uint32_t nDown = 0;
    USAGE nUsage = 0;
    for (std::uint32_t k = 0; k < item.nUsageListLength && item.usageList[k] != 0; ++k) {
      nUsage = item.usageList[k];
      ++nDown;
    }
    if (nDown != 1) return false;  // a release, or a chord of two or more buttons
    pEvent->nKind = nKind;
    pEvent->nValue = static_cast<std::int16_t>(nUsage);
    return true;
  }
  // The wheel of this very report; a wheel item of another report id holds an old value.
  for (std::uint32_t i = 0; i < in.nItemCount; ++i) {
    const HidDataItem& item = in.items[i];
    if (item.blIsButton || item.nUsagePage != HID_USAGE_PAGE_GENERIC || item.nUsage != HID_USAGE_GENERIC_WHEEL) {
      continue;
    }
    if (item.nReportId != nKind) continue;
    pEvent->nKind = nKind;
    pEvent->nValue = static_cast<std::int16_t>(static_cast<std::uint16_t>(item.nScaledValue & 0xFFFF));
    return true;
  }
  return false;
}

}  // namespace orb
