// Looking up a virtual key happens for every key stroke played; by name for every key
// token of a text profile.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "platform/keys/virtual_keys.h"

namespace {

void BM_FindVirtualKey(benchmark::State& state) {
  std::uint16_t nVk = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(orb::platform::FindVirtualKey(nVk));
    nVk = static_cast<std::uint16_t>((nVk + 1) & 0xFF);
  }
}
BENCHMARK(BM_FindVirtualKey);

void BM_FindVirtualKeyByName(benchmark::State& state) {
  const char* const pNames[] = {"a", "Comma", "num7", "F24", "LaunchApp2", "NoSuchKey"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(orb::platform::FindVirtualKeyByName(pNames[i]));
    i = (i + 1) % std::size(pNames);
  }
}
BENCHMARK(BM_FindVirtualKeyByName);

}  // namespace

BENCHMARK_MAIN();
