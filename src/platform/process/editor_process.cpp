#include "platform/process/editor_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <vector>

#include "base/ascii_text.h"

namespace orb::platform {

namespace {

std::string_view WithoutExtension(std::string_view sName) {
  const std::size_t nDot = sName.rfind('.');
  return nDot == std::string_view::npos || nDot == 0 ? sName : sName.substr(0, nDot);
}

std::vector<int> ProcessIds(const std::string& sProcRoot) {
  std::vector<int> pids;
  DIR* pDir = ::opendir(sProcRoot.c_str());
  if (pDir == nullptr) {
    return pids;
  }
  while (const dirent* pEntry = ::readdir(pDir)) {
    const std::string_view name = pEntry->d_name;
    int nPid = 0;
    const auto [pEnd, error] = std::from_chars(name.data(), name.data() + name.size(), nPid);
    if (error == std::errc{} && pEnd == name.data() + name.size() && nPid > 0) {
      pids.push_back(nPid);
    }
  }
  ::closedir(pDir);
  std::sort(pids.begin(), pids.end());
  return pids;
}

// An editor talks to us over the link, which only the same user may use; and a kernel
// thread (an empty command line) runs no program at all. Passing over both spares a
// look at their executables, which would fail and fill the log with one line each.
bool CouldBeEditor(const std::string& sProcRoot, int nPid) {
  const std::string sDir = sProcRoot + "/" + std::to_string(nPid);
  struct stat status {};
  if (::stat(sDir.c_str(), &status) != 0 || status.st_uid != ::geteuid()) {
    return false;
  }
  const int fd = ::open((sDir + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  char c = 0;
  const ssize_t nRead = ::read(fd, &c, 1);
  ::close(fd);
  return nRead == 1;
}

}  // namespace

bool IsEditorName(std::string_view sAppName, std::span<const std::string_view> names) {
  if (sAppName.empty()) {
    return false;
  }
  for (const std::string_view name : names) {
    if (EqualsIgnoringCase(sAppName, name) || EqualsIgnoringCase(sAppName, WithoutExtension(name))) {
      return true;
    }
  }
  return false;
}

int FindEditorProcess(std::span<const std::string_view> names, int nOwnPid, const std::string& sProcRoot,
                      const AppInfoReader& read) {
  for (const int nPid : ProcessIds(sProcRoot)) {
    if (nPid == nOwnPid || !CouldBeEditor(sProcRoot, nPid)) {
      continue;
    }
    AppInfo info;
    const bool blRead = read ? read(nPid, &info) : GetAppInfo(nPid, sProcRoot, &info);
    if (blRead && IsEditorName(info.sExeName, names)) {
      return nPid;
    }
  }
  return 0;
}

}  // namespace orb::platform
