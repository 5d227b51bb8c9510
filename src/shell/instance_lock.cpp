#include "shell/instance_lock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "base/write_log.h"

namespace orb {

CInstanceLock::~CInstanceLock() {
  if (m_hFile >= 0) {
    ::close(m_hFile);
  }
}

CInstanceLock::Result CInstanceLock::Acquire(const std::string& path) {
  if (m_hFile >= 0) {
    return Result::Acquired;
  }
  const int hFile = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (hFile < 0) {
    WriteLog("CInstanceLock: open %s failed, errno = %d\r\n", path.c_str(), errno);
    return Result::Failed;
  }
  if (::flock(hFile, LOCK_EX | LOCK_NB) != 0) {
    const int nError = errno;
    ::close(hFile);
    if (nError == EWOULDBLOCK) {
      return Result::AlreadyRunning;
    }
    WriteLog("CInstanceLock: flock %s failed, errno = %d\r\n", path.c_str(), nError);
    return Result::Failed;
  }
  m_hFile = hFile;
  return Result::Acquired;
}

}  // namespace orb
