// The resident core's two reactions that the user waits for, run in this process as the
// window's loop runs them: the profile following the window in front, and the controller
// connecting when it is plugged in.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "core_rig.h"
#include "samples.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_monitor.h"
#include "platform/hid/sim_hid_backend.h"

namespace orb::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(5);

bool Readable(int nFd, std::chrono::milliseconds timeout) {
  pollfd item{nFd, POLLIN, 0};
  return ::poll(&item, 1, static_cast<int>(timeout.count())) == 1;
}

// From the tracker hearing of a new window in front (the fake tracker's fd becoming
// readable) to the new application's profile being current: Dispatch, the listener's
// CheckForegroundWindow, the posted WM_SELECTPROFILE and OnSelectProfile, with the real
// /proc read of the application. Two processes take turns in front, each with a window
// never seen before. Target: under 5 ms.
void BM_ForegroundChangeToProfile(benchmark::State& state) {
  std::string sError;
  CoreRig rig(TwoApplicationTable(&sError));
  const int nPids[2] = {static_cast<int>(::getpid()), static_cast<int>(::getppid())};
  const std::string names[2] = {"APP_A", "APP_B"};
  rig.NameApplication(nPids[0], names[0]);
  rig.NameApplication(nPids[1], names[1]);
  ProfileRecord* const pProfiles[2] = {rig.RecordOf(names[0]), rig.RecordOf(names[1])};
  if (pProfiles[0] == nullptr || pProfiles[1] == nullptr) {
    state.SkipWithError(("no table: " + sError).c_str());
    return;
  }
  platform::FakeForegroundTracker tracker;
  tracker.SetListener([&rig](const platform::ForegroundWindow& front) {
    rig.Core().CheckForegroundWindow(front.nWindow, front.nPid, front.nStartTime);
  });

  std::uint64_t nWindow = 0x1000;
  int nTurn = 0;
  Samples samples;
  for (auto _ : state) {
    nTurn ^= 1;
    const auto start = Clock::now();
    tracker.SetForeground({++nWindow, nPids[nTurn]});
    if (!Readable(tracker.Fd(), kWait)) {
      state.SkipWithError("the tracker's fd never became readable");
      return;
    }
    tracker.Dispatch();
    std::uint32_t nMsg = 0;
    while (rig.Core().CurrentProfile() != pProfiles[nTurn]) {
      if (!rig.HandleNext(kWait, &nMsg)) {
        state.SkipWithError("the profile did not follow the window");
        return;
      }
    }
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(dSeconds);
    samples.Add(dSeconds * 1e6);
    // The rest of the choice (the mode bits and the tray tip) is not what is waited for.
    while (rig.HandleNext(std::chrono::milliseconds(0))) {
    }
  }
  ReportMicroseconds(state, samples);
}
BENCHMARK(BM_ForegroundChangeToProfile)->UseManualTime()->Unit(benchmark::kMicrosecond);

// From the simulated controller's plug to ConnectController returning true: the monitor's
// fd readable, Dispatch, and the look for the controller that opens it, sends its mode
// bits and starts the device threads. Unplugging (and the device thread's WM_DEVICEREMOVED
// being handled) between changes is not timed. Target: under 20 ms.
void BM_ArrivalToConnected(benchmark::State& state) {
  platform::SimulatedHidBackend backend;
  platform::SetCurrentHidBackend(&backend);
  const std::string sPath = backend.AddController();
  backend.Unplug(sPath);
  std::string sError;
  {
    CoreRig rig(TwoApplicationTable(&sError));
    std::unique_ptr<platform::HidMonitor> pMonitor = platform::CreateHidMonitor();
    if (!pMonitor) {
      state.SkipWithError("the simulated backend made no monitor");
      platform::SetCurrentHidBackend(nullptr);
      return;
    }
    while (Readable(pMonitor->Fd(), std::chrono::milliseconds(0))) pMonitor->Dispatch();

    Samples samples;
    for (auto _ : state) {
      const auto start = Clock::now();
      backend.Plug(sPath);
      if (!Readable(pMonitor->Fd(), kWait) || !pMonitor->Dispatch() || !rig.Core().ConnectController()) {
        state.SkipWithError("the plugged controller did not connect");
        break;
      }
      const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(dSeconds);
    samples.Add(dSeconds * 1e6);

      backend.Unplug(sPath);
      std::uint32_t nMsg = 0;
      while (nMsg != WM_DEVICEREMOVED) {
        if (!rig.HandleNext(kWait, &nMsg)) {
          state.SkipWithError("the device thread did not report the unplug");
          break;
        }
      }
      while (rig.HandleNext(std::chrono::milliseconds(0))) {
      }
      while (Readable(pMonitor->Fd(), std::chrono::milliseconds(0))) pMonitor->Dispatch();
      if (rig.Core().Connected()) {
        state.SkipWithError("still connected after the unplug");
        break;
      }
    }
    ReportMicroseconds(state, samples);
  }
  platform::SetCurrentHidBackend(nullptr);
}
BENCHMARK(BM_ArrivalToConnected)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace
}  // namespace orb::bench

BENCHMARK_MAIN();
