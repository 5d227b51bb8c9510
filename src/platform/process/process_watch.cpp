#include "platform/process/process_watch.h"

#include <poll.h>
#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

namespace orb::platform {

UniqueFd WatchProcess(int nPid) {
#ifdef SYS_pidfd_open
  // Close-on-exec is the pidfd's default.
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, nPid, 0)));
#else
  (void)nPid;
  errno = ENOSYS;
  return UniqueFd();
#endif
}

bool WatchedProcessEnded(int nWatchFd) {
  pollfd item{nWatchFd, POLLIN, 0};
  return ::poll(&item, 1, 0) == 1 && (item.revents & (POLLIN | POLLHUP)) != 0;
}

}  // namespace orb::platform
