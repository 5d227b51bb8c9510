#include "shell/runtime_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "base/write_log.h"

namespace orb {

bool EnsurePrivateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    WriteLog("EnsurePrivateDirectory: mkdir %s failed, errno = %d\r\n", path.c_str(), errno);
    return false;
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    WriteLog("EnsurePrivateDirectory: lstat %s failed, errno = %d\r\n", path.c_str(), errno);
    return false;
  }
  // Another user could have made the name first in a shared /tmp: never trust it then.
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
    WriteLog("EnsurePrivateDirectory: %s is not a private directory of uid %u\r\n", path.c_str(),
             static_cast<unsigned>(::getuid()));
    return false;
  }
  return true;
}

std::string RuntimeDirectory() {
  const char* pRuntime = std::getenv("XDG_RUNTIME_DIR");
  if (pRuntime != nullptr && pRuntime[0] == '/') {
    return pRuntime;
  }
  std::string fallback = "/tmp/orb-" + std::to_string(::getuid());
  return EnsurePrivateDirectory(fallback) ? fallback : std::string();
}

}  // namespace orb
