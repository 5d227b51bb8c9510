// GetControlEvent on the controller's button and wheel reports: the work done per report
// on the device thread once it has been read.
#include <benchmark/benchmark.h>

#include <cstring>

#include "device/hid_device_record.h"
#include "platform/hid/controller_descriptor.h"
#include "platform/hid/hid_parser.h"

namespace {

orb::HidDeviceRecord MakeRecord() {
  orb::HidDeviceRecord record;
  std::vector<orb::platform::HidPreparsedData> collections;
  std::string sWhy;
  orb::platform::ParseReportDescriptor(orb::platform::kControllerDescriptor, orb::platform::kControllerDescriptorSize,
                                       &collections, &sWhy);
  record.sDevicePath = "bench";
  record.pPreparsedData = std::make_unique<orb::platform::HidPreparsedData>(std::move(collections.front()));
  orb::platform::HidP_GetCaps(*record.pPreparsedData, &record.caps);
  orb::BuildDataItems(record);
  return record;
}

void Decode(benchmark::State& state, std::vector<std::uint8_t> report) {
  orb::HidDeviceRecord record = MakeRecord();
  std::memcpy(record.input.report.data(), report.data(), report.size());
  orb::ControlEvent event{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(orb::GetControlEvent(record, &event));
    benchmark::DoNotOptimize(event);
  }
}

void BM_GetControlEventButton(benchmark::State& state) { Decode(state, {1, 0x04, 0x00}); }
void BM_GetControlEventChord(benchmark::State& state) { Decode(state, {1, 0x04, 0x01}); }
void BM_GetControlEventWheel(benchmark::State& state) { Decode(state, {2, 0xFF, 0x00}); }

BENCHMARK(BM_GetControlEventButton);
BENCHMARK(BM_GetControlEventChord);
BENCHMARK(BM_GetControlEventWheel);

}  // namespace

BENCHMARK_MAIN();
