#pragma once
// Telling the controller its modes: DECK (bit 0), JOG (bit 1), SHUTTLE (bit 2), sent as
// the value of the first feature value item. Main thread only; the output report is built,
// never sent.

#include <cstdint>

#include "device/hid_device_record.h"
#include "profiles/profile_record.h"

namespace orb {

// The mode bits of a profile's flags: DECK from PF_DECK; JOG and SHUTTLE from PF_JOG, lit
// only when the profile has PF_JOGSHUTTLE or PF_HOSTMODE. No profile: 0, all off.
std::uint8_t ModeBitsFromFlags(std::uint32_t dwFlags);
std::uint8_t ModeBits(const ProfileRecord* pProfile);

// With a connected controller that has a feature value item: stores nValue as the raw
// value of the first one (button items, listed first, are passed over) and sends the
// feature reports. Otherwise nothing.
void SendModeBits(HidDeviceRecord& record, std::uint8_t nValue);

// Packs and sends one feature report per report id among the feature items, each under
// its own id. A report whose pack failed leaves its items unset, so the next item of that
// id packs and sends it again. True when every send succeeded; a failed send is not retried.
bool SendFeatureReports(HidDeviceRecord& record);

// Zeroes the buffer, writes the first item's report id into byte 0, then packs every given
// item of that id into it; on success those items are marked set. False as soon as the
// parser refuses an item (its status is kept in the item; none of the id is marked set).
bool PackReport(std::uint8_t* pBuffer, std::uint32_t nBufferLength, HIDP_REPORT_TYPE type, HidDataItem* pItems,
                std::uint32_t nItemCount, const platform::HidPreparsedData& data);

}  // namespace orb
