#include "platform/process/process_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace orb::platform {

std::uint64_t StartTimeFromStat(const std::string& stat) {
  const std::size_t nNameEnd = stat.rfind(')');
  if (nNameEnd == std::string::npos) {
    return 0;
  }
  // After the name: field 3 (state) onwards, single spaces between them.
  std::size_t nPos = nNameEnd + 1;
  for (int nField = 3; nField <= 22; ++nField) {
    if (nPos >= stat.size() || stat[nPos] != ' ') {
      return 0;
    }
    ++nPos;
    if (nField == 22) {
      break;
    }
    nPos = stat.find(' ', nPos);
  }
  if (nPos >= stat.size() || stat[nPos] < '0' || stat[nPos] > '9') {
    return 0;
  }
  return std::strtoull(stat.c_str() + nPos, nullptr, 10);
}

std::uint64_t ProcessStartTime(int nPid) {
  if (nPid <= 0) {
    return 0;
  }
  const std::string path = "/proc/" + std::to_string(nPid) + "/stat";
  const int nFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (nFd < 0) {
    return 0;
  }
  // The whole line fits easily: 52 numbers and a name of at most 64 bytes.
  char buffer[1024];
  const ssize_t nRead = ::read(nFd, buffer, sizeof buffer);
  ::close(nFd);
  return nRead > 0 ? StartTimeFromStat(std::string(buffer, static_cast<std::size_t>(nRead))) : 0;
}

}  // namespace orb::platform
