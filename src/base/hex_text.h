#pragma once
// Hex text as people write captured descriptors and reports: pairs of hex digits, any
// white space between them, an optional 0x before a group, and '#' comments to the end
// of the line ("05 01  # Usage Page (Generic Desktop)").

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

// False, with the reason in *pError, when the text holds anything else or an odd digit.
bool ParseHexText(std::string_view text, std::vector<std::uint8_t>* pBytes, std::string* pError);

// "05 01 A1" style, upper case, one space between bytes.
std::string FormatHex(const std::uint8_t* pBytes, std::size_t nSize);

}  // namespace orb
