#pragma once
// Learning that a process has ended without asking it: a pidfd becomes readable when its
// process ends, so the window's event loop can wait on it as on any other fd. A companion
// editor that crashes sends no farewell; this is how the program notices.

#include "base/unique_fd.h"

namespace orb::platform {

// A pidfd for nPid; invalid (with errno) when the process is gone already (ESRCH) or the
// kernel has no pidfds (ENOSYS, before Linux 5.3).
UniqueFd WatchProcess(int nPid);

// True when the watched process has ended (the fd is readable), without waiting.
bool WatchedProcessEnded(int nWatchFd);

}  // namespace orb::platform
