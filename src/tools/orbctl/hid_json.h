#pragma once
// JSON renderings of a parse result and of decoded data items, with the Windows field names.

#include <string>

#include "device/hid_device_record.h"
#include "platform/hid/hid_parser.h"

namespace orb::orbctl {

std::string CapsJson(const platform::HidPreparsedData& data, std::size_t nCollection, std::size_t nCollections);
std::string DecodeJson(const HidDeviceRecord& record, bool blHaveEvent, const ControlEvent& event);

}  // namespace orb::orbctl
