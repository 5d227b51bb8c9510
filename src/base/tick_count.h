#pragma once
// The tick count the log lines print with "%d": milliseconds of the monotonic clock (the
// one the real Clock runs on), cut to 32 bits.

namespace orb {

int TickCount();

}  // namespace orb
