#pragma once
// What the kernel counts for another process: its threads' context switches and its
// resident memory, read from /proc.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

namespace orb::bench {

struct ThreadSwitches {
  std::string sName;  // the thread's comm
  std::uint64_t nVoluntary = 0;
  std::uint64_t nInvoluntary = 0;
};

// Every thread of the process now, by thread id (from /proc/PID/task/*/status). Empty
// when the process is gone.
std::map<pid_t, ThreadSwitches> ReadThreadSwitches(pid_t pid);

struct SwitchesOver {
  std::uint64_t nVoluntary = 0;
  std::uint64_t nInvoluntary = 0;
  int nThreadsBefore = 0;
  int nThreadsAfter = 0;
  std::string sByThread;  // "name=N name=N ..." for the threads that switched at all

  std::uint64_t Total() const { return nVoluntary + nInvoluntary; }
};

// What happened between two readings. A thread that started meanwhile counts from 0; one
// that ended meanwhile cannot be counted (its figures went with it), which the thread
// numbers show.
SwitchesOver Difference(const std::map<pid_t, ThreadSwitches>& before, const std::map<pid_t, ThreadSwitches>& after);

// VmRSS in KiB; -1 when it cannot be read.
long ResidentKiB(pid_t pid);

}  // namespace orb::bench
