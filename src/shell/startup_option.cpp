#include "shell/startup_option.h"

#include <cstring>

#include "base/string_table.h"
#include "base/write_log.h"

namespace orb {

namespace {
constexpr int kIdsSilentSwitch = 10;
}  // namespace

bool CheckStartupOption(const char* pszUpperCommandLine, bool* pblSilent, SettingReader pReadSetting) {
  WriteLog("On CheckStartupOption\r\n");
  *pblSilent = std::strstr(pszUpperCommandLine, LoadString(kIdsSilentSwitch)) != nullptr;
  if (!*pblSilent) {
    return true;
  }
  std::uint32_t dwStartup = 1;
  pReadSetting(&dwStartup, "Startup");
  return dwStartup != 0;
}

}  // namespace orb
