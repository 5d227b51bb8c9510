#include "platform/process/maps_text.h"

#include <algorithm>

#include "base/ascii_text.h"
#include "platform/process/app_name.h"

namespace orb::platform {
namespace {

bool IsHexDigit(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'); }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

bool AllOf(std::string_view sText, bool (*pTest)(char)) {
  if (sText.empty()) return false;
  for (const char ch : sText) {
    if (!pTest(ch)) return false;
  }
  return true;
}

// "HEX<sep>HEX", as the address range and the device are written.
bool IsHexPair(std::string_view sField, char chSeparator) {
  const std::size_t nAt = sField.find(chSeparator);
  return nAt != std::string_view::npos && AllOf(sField.substr(0, nAt), IsHexDigit) &&
         AllOf(sField.substr(nAt + 1), IsHexDigit);
}

// The next field, up to a space; the spaces after it are skipped.
std::string_view NextField(std::string_view* pRest) {
  const std::size_t nEnd = std::min(pRest->find(' '), pRest->size());
  const std::string_view sField = pRest->substr(0, nEnd);
  pRest->remove_prefix(nEnd);
  while (!pRest->empty() && pRest->front() == ' ') pRest->remove_prefix(1);
  return sField;
}

}  // namespace

bool ParseMapsPath(std::string_view sLine, std::string_view* pPath) {
  std::string_view sRest = sLine;
  const std::string_view sRange = NextField(&sRest);
  const std::string_view sPerms = NextField(&sRest);
  const std::string_view sOffset = NextField(&sRest);
  const std::string_view sDevice = NextField(&sRest);
  const std::string_view sInode = NextField(&sRest);
  if (!IsHexPair(sRange, '-') || sPerms.size() != 4 || !AllOf(sOffset, IsHexDigit) || !IsHexPair(sDevice, ':') ||
      !AllOf(sInode, IsDigit)) {
    return false;
  }
  // What is left is the path, spaces and all. Files have absolute paths; "[heap]",
  // "[anon:...]" and the empty path of an anonymous mapping do not.
  if (sRest.empty() || sRest.front() != '/') return false;
  *pPath = sRest;
  return true;
}

bool IsWindowsModulePath(std::string_view sPath) {
  const std::string_view sName = FileNameOf(sPath);
  if (sName.size() < 4) return false;
  const std::string_view sExtension = sName.substr(sName.size() - 4);
  return EqualsIgnoringCase(sExtension, ".exe") || EqualsIgnoringCase(sExtension, ".com");
}

bool WindowsModuleOfLine(std::string_view sLine, MapsModule* pModule) {
  std::string_view sPath;
  if (!ParseMapsPath(sLine, &sPath)) return false;
  bool blDeleted = false;
  sPath = StripDeletedSuffix(sPath, &blDeleted);
  // A trailing slash cannot end a mapped file's path; FileNameOf would look past it.
  if (sPath.ends_with('/') || !IsWindowsModulePath(sPath)) return false;
  *pModule = {sPath, blDeleted};
  return true;
}

bool FindWindowsModule(std::string_view sMaps, MapsModule* pModule) {
  while (!sMaps.empty()) {
    const std::size_t nEnd = std::min(sMaps.find('\n'), sMaps.size());
    if (WindowsModuleOfLine(sMaps.substr(0, nEnd), pModule)) return true;
    sMaps.remove_prefix(std::min(nEnd + 1, sMaps.size()));
  }
  return false;
}

}  // namespace orb::platform
