#pragma once
// Windows virtual-key codes are the stored unit of every key stroke; this is what each
// code means on Linux. The rows are generated from resources/keys/virtual_keys.tsv.

#include <cstdint>
#include <span>
#include <string_view>

namespace orb::platform {

struct VirtualKeyInfo {
  std::uint8_t nVk;          // the virtual-key code
  const char* pName;         // unique readable token ("Comma", "Num7", "F4")
  const char* pWinName;      // "VK_OEM_COMMA"
  std::uint32_t nKeysym;     // X keysym, 0 when none
  std::uint16_t nEvdevCode;  // Linux KEY_* code, 0 when none
  std::uint8_t nScanCode;    // US set-1 scan code as MapVirtualKeyA(vk, 0) gives it, 0 when none
  char chMapped;             // MapVirtualKeyA(vk, 2) on a US layout, 0 when none
};

// Null when the code has no row (mouse buttons, reserved codes, values above 0xFF).
// Constant time: the key-synthesis path calls it for every key.
const VirtualKeyInfo* FindVirtualKey(std::uint16_t nVk);

// ASCII case-insensitive; null when no row has that name.
const VirtualKeyInfo* FindVirtualKeyByName(std::string_view name);

// Every row, ascending by code.
std::span<const VirtualKeyInfo> AllVirtualKeys();

// Only the low byte of the code counts, as with the stored key strokes' 16-bit field
// passed to the Windows call. 0 when there is no scan code.
std::uint8_t MapVirtualKeyToScanCode(std::uint16_t nVk);

// The unshifted US character, 0 when the key types none.
char MapVirtualKeyToChar(std::uint16_t nVk);

}  // namespace orb::platform
