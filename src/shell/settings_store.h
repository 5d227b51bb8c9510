#pragma once
// The two on/off settings "Startup" and "ShowStay": 32-bit values in an INI file,
// $XDG_CONFIG_HOME/TARN/ORB.conf (~/.config/TARN/ORB.conf when XDG_CONFIG_HOME is unset).
// Window thread only; each call opens and closes the store itself.

#include <cstdint>
#include <string>

namespace orb {

// Status codes in the log lines of MX8RegSetValue, the numbers of the matching system
// errors: the store is not writable, or its file cannot be parsed.
inline constexpr std::uint32_t kSettingsSuccess = 0;
inline constexpr std::uint32_t kSettingsAccessDenied = 5;
inline constexpr std::uint32_t kSettingsInvalidData = 13;

// The file both functions use; empty when neither XDG_CONFIG_HOME nor HOME says where.
std::string SettingsFilePath();

// *pValue keeps the caller's preset unless the value exists and reads as a 32-bit number
// (decimal, or hex with "0x"; negative numbers down to -2^31 wrap as stored). Creates
// the store on first use. False, with "MX8RegGetValue: RegCreateKeyEx failed", only when
// the store cannot be opened or created.
bool MX8RegGetValue(std::uint32_t* pValue, const char* pName);

// Writes the value and flushes the store, logging the status of each step. False when
// the store cannot be opened (nothing logged) or the flush failed; a write that failed
// but is followed by a successful flush still returns true.
bool MX8RegSetValue(std::uint32_t value, const char* pName);

}  // namespace orb
