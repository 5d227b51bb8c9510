#pragma once
// The start-up decision for "/S" (a start from the session's autostart).

#include <cstdint>

namespace orb {

// Reads one 32-bit setting into a caller-preset variable; MX8RegGetValue in the program.
using SettingReader = bool (*)(std::uint32_t* pValue, const char* pName);

// pszUpperCommandLine is the upper-cased command line. Stores into *pblSilent whether
// "/S" (string 10) occurs in it, and returns true when the program is to go on: always
// without "/S", otherwise unless the setting "Startup" reads as 0. The setting is read
// with a non-zero preset, so a missing value or an unreadable store counts as on.
bool CheckStartupOption(const char* pszUpperCommandLine, bool* pblSilent, SettingReader pReadSetting);

}  // namespace orb
