#include "platform/process/app_name.h"

#include "base/ascii_text.h"

namespace orb::platform {

std::string_view StripDeletedSuffix(std::string_view sPath, bool* pblDeleted) {
  *pblDeleted = sPath.size() > kDeletedSuffix.size() && sPath.ends_with(kDeletedSuffix);
  return *pblDeleted ? sPath.substr(0, sPath.size() - kDeletedSuffix.size()) : sPath;
}

std::string_view FileNameOf(std::string_view sPath) {
  while (!sPath.empty() && sPath.back() == '/') sPath.remove_suffix(1);
  const std::size_t nSlash = sPath.rfind('/');
  const std::string_view sName = nSlash == std::string_view::npos ? sPath : sPath.substr(nSlash + 1);
  if (sName == "." || sName == "..") return {};
  return sName;
}

std::string AppNameOf(std::string_view sFileName) {
  std::size_t nLength = sFileName.size();
  if (nLength > kMaxAppName) {
    // Cut before the lead byte of a sequence the limit falls inside. Bytes that are no
    // UTF-8 (more than three continuation bytes in a row) are cut at the limit.
    const auto IsContinuation = [&](std::size_t i) {
      return (static_cast<unsigned char>(sFileName[i]) & 0xC0) == 0x80;
    };
    nLength = kMaxAppName;
    std::size_t nCut = nLength;
    while (nCut > kMaxAppName - 3 && IsContinuation(nCut)) --nCut;
    if (!IsContinuation(nCut)) nLength = nCut;
  }
  return AsciiUpperCopy(sFileName.substr(0, nLength));
}

}  // namespace orb::platform
