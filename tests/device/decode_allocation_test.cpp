// Reading and decoding a report allocates nothing: this binary replaces the global
// operator new with one that counts, and counts around the decode path.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "device/device_discovery.h"
#include "device/hid_device_record.h"
#include "platform/hid/sim_hid_backend.h"

namespace {
std::atomic<long> g_nAllocations{0};
}  // namespace

// The replacements pair malloc with free on purpose; GCC cannot see that they match.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t nSize) {
  g_nAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(nSize == 0 ? 1 : nSize)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t nSize) { return operator new(nSize); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace orb {
namespace {

TEST(DecodeAllocation, ReadingAndDecodingReportsAllocatesNothing) {
  platform::SimulatedHidBackend sim;
  platform::SetCurrentHidBackend(&sim);
  const std::string sPath = sim.AddController();
  HidDeviceRecord record;
  ASSERT_TRUE(FindAndOpenController(record));
  const std::vector<std::vector<std::uint8_t>> reports = {{1, 0x04, 0x00}, {1, 0x04, 0x01}, {1, 0, 0}, {2, 0xFF}, {2, 0x01}};
  for (const auto& report : reports) ASSERT_TRUE(sim.QueueInputReport(sPath, report));

  int nEvents = 0;
  const long nBefore = g_nAllocations.load();
  for (std::size_t i = 0; i < reports.size(); ++i) {
    if (ReadInputReport(record, -1) != ReadResult::Report) break;
    ControlEvent event{};
    if (GetControlEvent(record, &event)) ++nEvents;
  }
  const long nAfter = g_nAllocations.load();
  EXPECT_EQ(nAfter - nBefore, 0);
  EXPECT_EQ(nEvents, 3);  // button 3, wheel -1, wheel 1
  CloseDeviceRecord(record, true);
  platform::SetCurrentHidBackend(nullptr);
}

}  // namespace
}  // namespace orb
