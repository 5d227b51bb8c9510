// The command engine's speed: translating one event, the time from an input report to
// its first key event, and how often the worker threads wake while the controller idles.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "base/message_target.h"
#include "device/device_discovery.h"
#include "engine/command_buffer.h"
#include "engine/device_thread.h"
#include "engine/translation.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/sim_hid_backend.h"
#include "platform/keys/key_sink.h"
#include "platform/time/clock.h"
#include "platform/time/sync.h"

namespace orb {
namespace {

class NullWindow final : public MessageTarget {
 public:
  void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
};

std::unique_ptr<ProfileRecord> Profile(std::uint32_t dwFlags) {
  auto pProfile = std::make_unique<ProfileRecord>();
  pProfile->dwFlags = dwFlags;
  const KeyStroke keys[kKeysPerCommand] = {'A' | KS_CTRL, 0, 0, 0, 0};
  for (ControlEntry& entry : pProfile->entries) {
    std::memcpy(reinterpret_cast<char*>(&entry.deck) + offsetof(KeyCommand, keys), keys, sizeof keys);
    std::memcpy(reinterpret_cast<char*>(&entry.file) + offsetof(KeyCommand, keys), keys, sizeof keys);
  }
  return pProfile;
}

// One button press: flush under the lock, choose the command, reset the wheel.
void BM_GetCommandButton(benchmark::State& state) {
  auto pProfile = Profile(0);
  NullWindow window;
  std::atomic<bool> blSelf{false};
  std::atomic<bool> blRepeat{false};
  platform::Mutex lock(platform::RealClock());
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetCommand(1, 3, &blSelf, pProfile.get(), &window, &blRepeat, &lock));
  }
}
BENCHMARK(BM_GetCommandButton);

// A wheel movement below the shuttle threshold: the most frequent event of all.
void BM_GetCommandWheelNoStep(benchmark::State& state) {
  auto pProfile = Profile(15u << PF_SHTLRES_SHIFT);
  NullWindow window;
  std::atomic<bool> blSelf{false};
  std::atomic<bool> blRepeat{false};
  platform::Mutex lock(platform::RealClock());
  std::int16_t nValue = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetCommand(2, nValue, &blSelf, pProfile.get(), &window, &blRepeat, &lock));
    nValue = static_cast<std::int16_t>(-nValue);  // direction changes keep it below the threshold
  }
}
BENCHMARK(BM_GetCommandWheelNoStep);

// A jog step on every report.
void BM_GetCommandJogStep(benchmark::State& state) {
  auto pProfile = Profile(PF_JOG);
  NullWindow window;
  std::atomic<bool> blSelf{false};
  std::atomic<bool> blRepeat{false};
  platform::Mutex lock(platform::RealClock());
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetCommand(2, 1, &blSelf, pProfile.get(), &window, &blRepeat, &lock));
  }
}
BENCHMARK(BM_GetCommandJogStep);

// The real threads on the real clock over the simulated controller.
class Rig {
 public:
  Rig() : m_pProfile(Profile(0)), m_sink(platform::RealClock()) {
    platform::SetCurrentHidBackend(&m_backend);
    m_sPath = m_backend.AddController();
    FindAndOpenController(m_record);
    m_pCurProfile = m_pProfile.get();
    m_params.pWindow = &m_window;
    m_params.pDevice = &m_record;
    m_params.pblRepeat = &g_blRepeatCommand;
    m_params.pblSelf = &m_blSelf;
    m_params.pKeySink = &m_sink;
    m_params.ppProfile = &m_pCurProfile;
    m_params.pClock = &platform::RealClock();
    m_control.Start(m_params);
  }
  ~Rig() {
    m_control.Stop();
    CloseDeviceRecord(m_record, true);
    platform::SetCurrentHidBackend(nullptr);
  }

  platform::SimulatedHidBackend m_backend;
  std::string m_sPath;
  HidDeviceRecord m_record;
  std::unique_ptr<ProfileRecord> m_pProfile;
  std::atomic<ProfileRecord*> m_pCurProfile{nullptr};
  std::atomic<bool> m_blSelf{false};
  NullWindow m_window;
  platform::RecordingKeySink m_sink;
  DeviceThreadParams m_params;
  DeviceThreadControl m_control;
};

struct FirstKey {
  platform::Event down{platform::RealClock()};
  platform::Event up{platform::RealClock()};
  std::chrono::steady_clock::time_point at;
};

// From the report becoming readable (queued on the simulated device) to the first key
// event at the sink. Each press plays a 100 ms hold, so few iterations are enough.
void BM_ReportToFirstKey(benchmark::State& state) {
  Rig rig;
  FirstKey first;
  rig.m_sink.SetObserver(
      [](void* pContext, const platform::RecordingKeySink::Record& record) {
        auto* pFirst = static_cast<FirstKey*>(pContext);
        if (!record.blUp && record.nVk == 0x11) {  // Ctrl, the first event of Ctrl+A
          pFirst->at = std::chrono::steady_clock::now();
          pFirst->down.Set();
        } else if (record.blUp && record.nVk == 0x11) {
          pFirst->up.Set();
        }
      },
      &first);
  const std::vector<std::uint8_t> press{1, 0x04, 0};  // usage 3: programmable button 1
  for (auto _ : state) {
    first.down.Reset();
    first.up.Reset();
    const auto start = std::chrono::steady_clock::now();
    rig.m_backend.QueueInputReport(rig.m_sPath, press);
    first.down.Wait();
    state.SetIterationTime(std::chrono::duration<double>(first.at - start).count());
    first.up.Wait();  // the play ends before the next report
    rig.m_backend.WaitUntilDrained(rig.m_sPath, std::chrono::seconds(10));
  }
  rig.m_sink.SetObserver(nullptr, nullptr);
}
BENCHMARK(BM_ReportToFirstKey)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(10)->Repetitions(5);

// Voluntary context switches of every thread of the process but the calling one.
long OtherThreadsSwitches() {
  const pid_t nSelf = static_cast<pid_t>(::gettid());
  long nTotal = 0;
  DIR* pDir = ::opendir("/proc/self/task");
  if (pDir == nullptr) {
    return -1;
  }
  while (dirent* pEntry = ::readdir(pDir)) {
    const long nTid = std::strtol(pEntry->d_name, nullptr, 10);
    if (nTid <= 0 || nTid == nSelf) {
      continue;
    }
    std::ifstream status(std::string("/proc/self/task/") + pEntry->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        nTotal += std::strtol(line.c_str() + 24, nullptr, 10);
      }
    }
  }
  ::closedir(pDir);
  return nTotal;
}

// The controller open and idle: the worker threads should not wake at all.
void BM_IdleWakeups(benchmark::State& state) {
  Rig rig;
  platform::Event never(platform::RealClock());
  never.Wait(200);  // let both threads reach their waits
  double dWakeups = 0;
  double dSeconds = 0;
  for (auto _ : state) {
    const long nBefore = OtherThreadsSwitches();
    const auto start = std::chrono::steady_clock::now();
    never.Wait(3000);
    const long nAfter = OtherThreadsSwitches();
    dSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    dWakeups += static_cast<double>(nAfter - nBefore);
  }
  state.counters["wakeups_per_s"] = dWakeups / dSeconds;
}
BENCHMARK(BM_IdleWakeups)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orb

BENCHMARK_MAIN();
