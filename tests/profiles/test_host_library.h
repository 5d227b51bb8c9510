#pragma once
// What the test host library exports besides the five editor functions.

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kTestHostFlagOffset = 5156;

struct TestHostCounters {
  std::int32_t nZepOpen = 0;
  std::int32_t iZepOpenArgs[3] = {-1, -1, -1};
  std::int32_t nZepClose = 0;
  std::int32_t iZepCloseArg = -1;
  std::int32_t nVpOpen = 0;
  std::int32_t iVpOpenArg = -1;
  std::int32_t nVpClose = 0;
  std::int32_t nGetCommonMem = 0;
};

extern "C" {
using TestHostResetFunction = void (*)(std::int32_t iOpenResult);
using TestHostSetShuttleFunction = void (*)(std::int32_t iShuttle);
using TestHostGetCountersFunction = const TestHostCounters* (*)();
using TestHostCommonBlockFunction = const void* (*)();
}
