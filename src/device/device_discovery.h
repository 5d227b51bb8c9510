#pragma once
// Finding the controller among the HID devices present, opening it into the device record
// and closing it again. Main thread only.

#include <cstdint>

#include "device/hid_device_record.h"

namespace orb {

// Vendor 0x056D or 0x05E7 with product 0x0006 or 0x0007; the version is not looked at.
bool IsKnownController(std::uint16_t nVendorId, std::uint16_t nProductId);

// Opens the first supported device the backend lists (only that one is tried) with read
// access, shared, non-blocking. The record must be empty; on failure it stays empty.
bool FindAndOpenController(HidDeviceRecord& record);

// Opens sPath into the record: path, node, the four flags and, with blReadDeviceInfo, the
// parsed descriptor, attributes, capabilities and data items. A descriptor that cannot be
// used is refused with one log line per device path. Any failure leaves the record empty.
bool OpenDeviceRecord(const char* pPath, bool blReadAccess, bool blWriteAccess, bool blOverlapped, bool blExclusive,
                      bool blReadDeviceInfo, HidDeviceRecord& record);

// Forgets the path and closes the node (if any); with blFreeAll also drops the parse result
// and every buffer, caps array, item and usage list. The caller empties the record
// afterwards (record = {}) when the program goes on.
void CloseDeviceRecord(HidDeviceRecord& record, bool blFreeAll);

}  // namespace orb
