#pragma once
// Telling one process from a later one that got the same pid: the pid together with the
// process's start time (clock ticks after boot, /proc/PID/stat field 22) names one process
// for the life of the system.

#include <cstdint>
#include <string>

namespace orb::platform {

// 0 when the process is gone or its stat cannot be read.
std::uint64_t ProcessStartTime(int nPid);

// The start time in the text of a /proc/PID/stat; 0 when the text is not one. The name
// (field 2) may hold any byte, ')' and spaces included, so fields are counted from its end.
std::uint64_t StartTimeFromStat(const std::string& stat);

}  // namespace orb::platform
