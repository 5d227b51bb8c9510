// A host library of our own, standing in for an editor's: the five exports with the
// behaviour the link relies on, plus controls and counters for the tests. Built twice;
// ORB_TEST_HOST_NO_MEM leaves out VPOpen and QlnGetCommonMem.

#include <cstdint>
#include <cstring>

#include "test_host_library.h"

namespace {

TestHostCounters g_counters;
std::int32_t g_iOpenResult = 1;
std::int32_t g_iCloseResult = 3;
// Larger than the flag's offset; the first word is a marker the tests can see in the log.
unsigned char g_commonBlock[8192];

}  // namespace

extern "C" {

__attribute__((visibility("default"))) std::int32_t ZEPOpen(std::int32_t a, std::int32_t b, std::int32_t c) {
  ++g_counters.nZepOpen;
  g_counters.iZepOpenArgs[0] = a;
  g_counters.iZepOpenArgs[1] = b;
  g_counters.iZepOpenArgs[2] = c;
  return g_iOpenResult;
}

__attribute__((visibility("default"))) std::int32_t ZEPClose(std::int32_t a) {
  ++g_counters.nZepClose;
  g_counters.iZepCloseArg = a;
  return 1;
}

#ifndef ORB_TEST_HOST_NO_MEM
__attribute__((visibility("default"))) std::int32_t VPOpen(std::int32_t a) {
  ++g_counters.nVpOpen;
  g_counters.iVpOpenArg = a;
  return g_iOpenResult;
}
#endif

__attribute__((visibility("default"))) std::int32_t VPClose(void) {
  ++g_counters.nVpClose;
  return g_iCloseResult;
}

#ifndef ORB_TEST_HOST_NO_MEM
__attribute__((visibility("default"))) void* QlnGetCommonMem(void) {
  ++g_counters.nGetCommonMem;
  return g_commonBlock;
}
#endif

__attribute__((visibility("default"))) void TestHostReset(std::int32_t iOpenResult) {
  g_counters = TestHostCounters{};
  g_iOpenResult = iOpenResult;
  std::memset(g_commonBlock, 0, sizeof g_commonBlock);
  const std::uint32_t dwMarker = 0x1234;
  std::memcpy(g_commonBlock, &dwMarker, sizeof dwMarker);
}

__attribute__((visibility("default"))) void TestHostSetShuttle(std::int32_t iShuttle) {
  // Only bit 0 carries the mode; the other bits are set to show they are ignored.
  g_commonBlock[kTestHostFlagOffset] = static_cast<unsigned char>(iShuttle != 0 ? 0xF1 : 0xF0);
}

__attribute__((visibility("default"))) const TestHostCounters* TestHostGetCounters(void) { return &g_counters; }

__attribute__((visibility("default"))) const void* TestHostCommonBlock(void) { return g_commonBlock; }

}  // extern "C"
