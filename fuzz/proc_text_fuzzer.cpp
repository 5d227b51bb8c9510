// /proc texts: the same bytes as a maps file and as a command line for each interpreter
// family. What comes back must point into the input and make a name within its limit.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/process/app_name.h"
#include "platform/process/maps_text.h"
#include "platform/process/script_name.h"

using namespace orb::platform;

namespace {

bool Within(std::string_view sPart, std::string_view sWhole) {
  return sPart.empty() ||
         (sPart.data() >= sWhole.data() && sPart.data() + sPart.size() <= sWhole.data() + sWhole.size());
}

void CheckName(std::string_view sPath) {
  if (AppNameOf(FileNameOf(sPath)).size() > kMaxAppName) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  const std::string_view sText(reinterpret_cast<const char*>(pData), nSize);
  MapsModule module{};
  if (FindWindowsModule(sText, &module)) {
    if (!Within(module.sPath, sText) || !IsWindowsModulePath(module.sPath)) __builtin_trap();
    CheckName(module.sPath);
  }
  const auto args = SplitCmdline(sText);
  for (const char* pExe : {"python3.11", "perl", "ruby", "bash", "fish", "node", "lua5.4", "tclsh"}) {
    const std::string_view sScript = ChooseScript(pExe, args);
    if (!Within(sScript, sText)) __builtin_trap();
    CheckName(sScript);
  }
  return 0;
}
