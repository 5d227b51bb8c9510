#include "device/device_discovery.h"

#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "base/write_log.h"

namespace orb {

using namespace platform;

namespace {

// Usage lists are sized for the most usages a report can carry; a descriptor that would
// need more than this many entries in all is not worth the memory.
constexpr std::size_t kMaxUsageListEntries = 1u << 20;

// The connection poll retries every 100 ms: say why a device is refused once per path.
void LogRefusalOnce(const std::string& sPath, const std::string& sWhy) {
  static std::mutex s_mutex;
  static std::set<std::pair<std::string, std::string>> s_logged;
  std::lock_guard lock(s_mutex);
  if (s_logged.insert({sPath, sWhy}).second) {
    WriteLog("OpenDeviceRecord: %s refused: %s\r\n", sPath.c_str(), sWhy.c_str());
  }
}

bool UsageListsFit(const HidPreparsedData& data, std::string* pWhy) {
  std::size_t nTotal = 0;
  for (int t = 0; t < kHidReportTypes; ++t) {
    const auto type = static_cast<HIDP_REPORT_TYPE>(t);
    for (const HIDP_BUTTON_CAPS& b : data.GroupOf(type).buttonCaps) {
      nTotal += HidP_MaxUsageListLength(type, b.UsagePage, data);
      if (nTotal > kMaxUsageListEntries) {
        *pWhy = "its button capabilities would need more than 1048576 usage-list entries";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool IsKnownController(std::uint16_t nVendorId, std::uint16_t nProductId) {
  return (nVendorId == 0x056D || nVendorId == 0x05E7) && (nProductId == 0x0006 || nProductId == 0x0007);
}

bool FindAndOpenController(HidDeviceRecord& record) {
  const std::vector<HidDeviceInfo> devices = CurrentHidBackend().Enumerate();
  for (const HidDeviceInfo& info : devices) {
    if (!IsKnownController(info.nVendorId, info.nProductId)) continue;
    record = HidDeviceRecord{};
    return OpenDeviceRecord(info.sPath.c_str(), true, false, true, false, true, record);
  }
  return false;
}

bool OpenDeviceRecord(const char* pPath, bool blReadAccess, bool blWriteAccess, bool blOverlapped, bool blExclusive,
                      bool blReadDeviceInfo, HidDeviceRecord& record) {
  record.sDevicePath = pPath;
  HidOpenMode mode;
  mode.blRead = blReadAccess;
  mode.blWrite = blWriteAccess;
  mode.blNonBlocking = blOverlapped;
  mode.blExclusive = blExclusive;
  record.pDevice = CurrentHidBackend().Open(record.sDevicePath, mode);
  if (!record.pDevice) {
    record = HidDeviceRecord{};
    return false;
  }
  record.blReadAccess = blReadAccess;
  record.blWriteAccess = blWriteAccess;
  record.blOverlapped = blOverlapped;
  record.blExclusive = blExclusive;
  if (blReadDeviceInfo) {
    const std::vector<std::uint8_t>& descriptor = record.pDevice->ReportDescriptor();
    std::vector<HidPreparsedData> collections;
    std::string sWhy;
    bool blOk = ParseReportDescriptor(descriptor.data(), descriptor.size(), &collections, &sWhy);
    // With several top-level collections the first one stands for the device, as the
    // first of its interfaces would.
    if (blOk) blOk = UsageListsFit(collections.front(), &sWhy);
    if (!blOk) {
      LogRefusalOnce(record.sDevicePath, "report descriptor: " + sWhy);
      record = HidDeviceRecord{};
      return false;
    }
    record.pPreparsedData = std::make_unique<HidPreparsedData>(std::move(collections.front()));
    const HidDeviceInfo& info = record.pDevice->Info();
    record.attributes.Size = sizeof(HIDD_ATTRIBUTES);
    record.attributes.VendorID = info.nVendorId;
    record.attributes.ProductID = info.nProductId;
    record.attributes.VersionNumber = info.nVersion;
    HidP_GetCaps(*record.pPreparsedData, &record.caps);
    BuildDataItems(record);
  }
  return true;
}

void CloseDeviceRecord(HidDeviceRecord& record, bool blFreeAll) {
  record.sDevicePath.clear();
  record.sDevicePath.shrink_to_fit();
  record.pDevice.reset();
  if (blFreeAll) {
    record.pPreparsedData.reset();
    record.input = HidReportGroup{};
    record.output = HidReportGroup{};
    record.feature = HidReportGroup{};
  }
}

}  // namespace orb
