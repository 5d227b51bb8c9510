#pragma once
// The open controller as the program sees it: how it was opened, what its descriptor
// offers per report type, one buffer and one list of data items per type; and the decoding
// of each input report into at most one ControlEvent.
//
// Everything here is allocated when the device is opened (OpenDeviceRecord builds the data
// items); reading, unpacking and decoding a report allocate nothing.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/control_event.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_parser.h"
#include "platform/hid/hid_types.h"

namespace orb {

using platform::HIDD_ATTRIBUTES;
using platform::HIDP_BUTTON_CAPS;
using platform::HIDP_CAPS;
using platform::HIDP_REPORT_TYPE;
using platform::HIDP_VALUE_CAPS;
using platform::NTSTATUS;
using platform::USAGE;

// One button capability (its usages that are down) or one value usage (its value), as the
// last report of its id left it.
struct HidDataItem {
  bool blIsButton = false;
  USAGE nUsagePage = 0;
  NTSTATUS nStatus = 0;        // the parser's last answer for this item
  std::uint32_t nReportId = 0;
  bool blIsSet = false;        // filled from (input) or packed into (output, feature) the report
  // buttons
  std::uint32_t nUsageMin = 0;
  std::uint32_t nUsageMax = 0;
  std::uint32_t nUsageListLength = 0;  // capacity
  std::vector<USAGE> usageList;        // a 0 entry ends the list when it is shorter
  // values
  USAGE nUsage = 0;
  std::uint32_t nRawValue = 0;
  std::int32_t nScaledValue = 0;
};

struct HidReportGroup {
  std::vector<std::uint8_t> report;  // the type's byte length; byte 0 is the report id
  std::vector<HidDataItem> items;    // button items first, then one per value usage
  std::uint32_t nItemCount = 0;
  std::vector<HIDP_BUTTON_CAPS> buttonCaps;
  std::vector<HIDP_VALUE_CAPS> valueCaps;
};

struct HidDeviceRecord {
  std::string sDevicePath;  // empty: no controller is connected
  std::unique_ptr<platform::HidDevice> pDevice;  // the open node; null stands for an invalid handle
  bool blReadAccess = false;
  bool blWriteAccess = false;
  bool blOverlapped = false;
  bool blExclusive = false;
  std::unique_ptr<platform::HidPreparsedData> pPreparsedData;
  HIDP_CAPS caps{};
  HIDD_ATTRIBUTES attributes{};
  HidReportGroup input;
  HidReportGroup output;
  HidReportGroup feature;

  HidReportGroup& Group(HIDP_REPORT_TYPE type) {
    return type == platform::HidP_Input ? input : type == platform::HidP_Output ? output : feature;
  }
};

// Fills the three groups from the preparsed data and the capabilities. Called once, by
// OpenDeviceRecord.
void BuildDataItems(HidDeviceRecord& record);

// Fills the items of the buffer's report id (its first byte). Always true.
bool UnpackReport(const std::uint8_t* pBuffer, std::uint32_t nBufferLength, HIDP_REPORT_TYPE type,
                  HidDataItem* pItems, std::uint32_t nItemCount, const platform::HidPreparsedData& data);

// Reading one input report. On Linux the read is a poll on the device plus a wake-up fd
// (standing where the overlapped read and its completion event stood): it blocks, without
// any periodic wake-up, until
//   Report  one input report was read into record.input.report (shorter reports are
//           zero-filled to the buffer's length; a device without report ids gets id 0),
//   Woken   nWakeFd became readable (the caller's stop request; it is not consumed), or
//           nTimeoutMs (when not -1) passed without a report, or
//   Gone    the device is gone (ENODEV, POLLHUP, POLLERR) or the record holds none.
// A caller without a wake-up fd (-1) that must notice a stop passes a time-out instead.
enum class ReadResult { Report, Woken, Gone };
ReadResult ReadInputReport(HidDeviceRecord& record, int nWakeFd, int nTimeoutMs = -1);

// Unpacks the report just read and reduces it to at most one event: kind 1 with the one
// button usage down, or any other kind with the wheel's scaled value. False: no event.
bool GetControlEvent(HidDeviceRecord& record, ControlEvent* pEvent);

}  // namespace orb
