#include "platform/process/app_info.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "base/unique_fd.h"
#include "base/write_log.h"
#include "platform/process/app_name.h"
#include "platform/process/maps_text.h"
#include "platform/process/pe_version.h"
#include "platform/process/script_name.h"

namespace orb::platform {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
// A maps line holds at most a PATH_MAX path, its fields and the " (deleted)" mark; a
// longer one is no line of the kernel's and is skipped.
constexpr std::size_t kMaxMapsLine = 16 * 1024;
// The script comes among the first arguments; the rest of a long command line is not read.
constexpr std::size_t kMaxCmdlineBytes = 64 * 1024;
constexpr std::size_t kMaxLinkBytes = 64 * 1024;

UniqueFd OpenForReading(const std::string& sPath) {
  return UniqueFd(::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
}

ssize_t ReadSome(int nFd, char* pBuffer, std::size_t nSize) {
  for (;;) {
    const ssize_t nRead = ::read(nFd, pBuffer, nSize);
    if (nRead >= 0 || errno != EINTR) return nRead;
  }
}

enum class MapsResult { Found, NotFound, Unreadable };

// Reads the maps a chunk at a time and stops at the first Windows module: a large process
// need not be read to its end, and nothing in it is held whole.
MapsResult FindWindowsModuleIn(const std::string& sPath, std::string* pModule, bool* pblDeleted) {
  UniqueFd file = OpenForReading(sPath);
  if (!file.Valid()) return MapsResult::Unreadable;
  std::string sLine;
  bool blSkipping = false;  // inside an over-long line
  const auto Take = [&]() {
    MapsModule module{};
    if (blSkipping || !WindowsModuleOfLine(sLine, &module)) return false;
    pModule->assign(module.sPath);
    *pblDeleted = module.blDeleted;
    return true;
  };
  char buffer[kReadChunk];
  for (;;) {
    const ssize_t nRead = ReadSome(file.Get(), buffer, sizeof(buffer));
    if (nRead < 0) return MapsResult::Unreadable;
    if (nRead == 0) break;
    std::string_view sChunk(buffer, static_cast<std::size_t>(nRead));
    while (!sChunk.empty()) {
      const std::size_t nEnd = sChunk.find('\n');
      if (!blSkipping) sLine.append(sChunk.substr(0, nEnd));
      if (sLine.size() > kMaxMapsLine) {
        sLine.clear();
        blSkipping = true;
      }
      if (nEnd == std::string_view::npos) break;
      if (Take()) return MapsResult::Found;
      sLine.clear();
      blSkipping = false;
      sChunk.remove_prefix(nEnd + 1);
    }
  }
  return Take() ? MapsResult::Found : MapsResult::NotFound;
}

bool ReadLinkText(const std::string& sPath, std::string* pTarget) {
  std::string sBuffer(4096, '\0');
  for (;;) {
    const ssize_t nLength = ::readlink(sPath.c_str(), sBuffer.data(), sBuffer.size());
    if (nLength < 0) return false;
    if (static_cast<std::size_t>(nLength) < sBuffer.size()) {
      sBuffer.resize(static_cast<std::size_t>(nLength));
      *pTarget = std::move(sBuffer);
      return true;
    }
    if (sBuffer.size() >= kMaxLinkBytes) return false;
    sBuffer.resize(sBuffer.size() * 2);
  }
}

// The command line up to kMaxCmdlineBytes. When it is longer, the word the limit cuts is
// dropped rather than taken for a shorter name.
bool ReadCmdline(const std::string& sPath, std::string* pText) {
  UniqueFd file = OpenForReading(sPath);
  if (!file.Valid()) return false;
  pText->clear();
  char buffer[kReadChunk];
  while (pText->size() <= kMaxCmdlineBytes) {
    const ssize_t nRead = ReadSome(file.Get(), buffer, sizeof(buffer));
    if (nRead < 0) return false;
    if (nRead == 0) return true;
    pText->append(buffer, static_cast<std::size_t>(nRead));
  }
  pText->resize(kMaxCmdlineBytes);
  const std::size_t nLastEnd = pText->rfind('\0');
  pText->resize(nLastEnd == std::string::npos ? 0 : nLastEnd + 1);
  return true;
}

}  // namespace

bool GetAppInfo(int nPid, AppInfo* pInfo) { return GetAppInfo(nPid, "/proc", pInfo); }

bool GetAppInfo(int nPid, const std::string& sProcRoot, AppInfo* pInfo) {
  *pInfo = AppInfo{};
  if (nPid <= 0) return false;
  const std::string sDir = sProcRoot + "/" + std::to_string(nPid);

  std::string sModule;
  bool blDeleted = false;
  switch (FindWindowsModuleIn(sDir + "/maps", &sModule, &blDeleted)) {
    case MapsResult::Unreadable:
      WriteLog("GetAppInfo: cannot read %s/maps: %s\r\n", sDir.c_str(), std::strerror(errno));
      return false;
    case MapsResult::Found:
      pInfo->sExeName = AppNameOf(FileNameOf(sModule));
      // The path of a deleted file names nothing now, or the newer file that replaced it:
      // a version read from it would be wrong, so there is none.
      if (!blDeleted) {
        pInfo->blHasVersion =
            ReadPeFileVersionOfFile(sDir + "/root" + sModule, &pInfo->dwVersionMS, &pInfo->dwVersionLS);
      }
      return true;
    case MapsResult::NotFound:
      break;
  }

  std::string sExe;
  if (!ReadLinkText(sDir + "/exe", &sExe)) {
    // A zombie or a kernel thread has no executable.
    WriteLog("GetAppInfo: cannot read %s/exe: %s\r\n", sDir.c_str(), std::strerror(errno));
    return false;
  }
  // An upgraded program keeps running from its deleted file; it is still that program.
  bool blExeDeleted = false;
  std::string_view sName = FileNameOf(StripDeletedSuffix(sExe, &blExeDeleted));
  std::string sCmdline;  // sName may come to point into it
  if (IsInterpreter(sName) && ReadCmdline(sDir + "/cmdline", &sCmdline)) {
    const std::string_view sScript = FileNameOf(ChooseScript(sName, SplitCmdline(sCmdline)));
    if (!sScript.empty()) sName = sScript;
  }
  pInfo->sExeName = AppNameOf(sName);
  return !pInfo->sExeName.empty();
}

}  // namespace orb::platform
