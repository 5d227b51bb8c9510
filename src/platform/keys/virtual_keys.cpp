#include "platform/keys/virtual_keys.h"

#include "base/ascii_text.h"
#include "platform/keys/virtual_keys_table.h"

namespace orb::platform {
namespace {

}  // namespace

const VirtualKeyInfo* FindVirtualKey(std::uint16_t nVk) {
  if (nVk > 0xFF) {
    return nullptr;
  }
  const std::uint8_t nSlot = detail::kVirtualKeyIndex[nVk];
  return nSlot == 0 ? nullptr : &detail::kVirtualKeyRows[nSlot - 1];
}

const VirtualKeyInfo* FindVirtualKeyByName(std::string_view name) {
  // A linear scan of ~150 short names: called when text profiles are parsed, not per key.
  for (const VirtualKeyInfo& info : AllVirtualKeys()) {
    if (EqualsIgnoringCase(info.pName, name)) {
      return &info;
    }
  }
  return nullptr;
}

std::span<const VirtualKeyInfo> AllVirtualKeys() {
  return {detail::kVirtualKeyRows, detail::kVirtualKeyRowCount};
}

std::uint8_t MapVirtualKeyToScanCode(std::uint16_t nVk) {
  const VirtualKeyInfo* pInfo = FindVirtualKey(nVk & 0xFF);
  return pInfo == nullptr ? 0 : pInfo->nScanCode;
}

char MapVirtualKeyToChar(std::uint16_t nVk) {
  const VirtualKeyInfo* pInfo = FindVirtualKey(nVk & 0xFF);
  return pInfo == nullptr ? 0 : pInfo->chMapped;
}

}  // namespace orb::platform
