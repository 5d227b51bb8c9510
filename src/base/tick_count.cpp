#include "base/tick_count.h"

#include <time.h>

#include <cstdint>

namespace orb {

int TickCount() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::uint64_t nMs = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<int>(static_cast<std::uint32_t>(nMs));
}

}  // namespace orb
