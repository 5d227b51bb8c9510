// The profile following the window in front in a real sway session: from a focus command
// on sway's IPC socket, through sway's window event and the sway tracker's Dispatch, to the
// core having the new application's profile current. The two windows are native Wayland
// clients (wev) started by this benchmark, so sway reports two pids. Needs SWAYSOCK and
// WAYLAND_DISPLAY: run it under scripts/with-sway.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core_rig.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/sway_ipc.h"
#include "samples.h"
#include "scratch_dir.h"
#include "spawned_program.h"

namespace orb::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(5);
constexpr std::uint32_t kRunCommand = 0;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return nLeft > 0 ? static_cast<int>(nLeft) : 0;
}

bool Readable(int nFd, Clock::time_point deadline) {
  pollfd item{nFd, POLLIN, 0};
  return ::poll(&item, 1, MillisecondsLeft(deadline)) == 1;
}

// The benchmark's own IPC connection, as swaymsg would use it: one request, one reply.
class SwayControl final {
 public:
  explicit SwayControl(const char* pPath) {
    m_nFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_nFd < 0 || std::strlen(pPath) >= sizeof address.sun_path) return;
    std::strcpy(address.sun_path, pPath);
    if (::connect(m_nFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      ::close(m_nFd);
      m_nFd = -1;
    }
  }
  ~SwayControl() {
    if (m_nFd >= 0) ::close(m_nFd);
  }
  SwayControl(const SwayControl&) = delete;
  SwayControl& operator=(const SwayControl&) = delete;

  bool Open() const { return m_nFd >= 0; }

  std::optional<std::string> Ask(std::uint32_t nType, std::string_view payload) {
    const std::vector<std::uint8_t> message = platform::sway::EncodeMessage(nType, payload);
    if (::send(m_nFd, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> header(platform::sway::kHeaderBytes);
    if (!ReadExactly(header.data(), header.size())) return std::nullopt;
    std::string sReason;
    const auto parsed = platform::sway::ParseHeader(header, &sReason);
    if (!parsed) return std::nullopt;
    std::string sPayload(parsed->nLength, '\0');
    if (!ReadExactly(sPayload.data(), sPayload.size())) return std::nullopt;
    return sPayload;
  }

 private:
  bool ReadExactly(void* pBuffer, std::size_t nBytes) {
    auto* pBytes = static_cast<char*>(pBuffer);
    std::size_t nDone = 0;
    while (nDone < nBytes) {
      if (!Readable(m_nFd, Clock::now() + kWait)) return false;
      const ssize_t n = ::recv(m_nFd, pBytes + nDone, nBytes - nDone, 0);
      if (n <= 0) return false;
      nDone += static_cast<std::size_t>(n);
    }
    return true;
  }

  int m_nFd = -1;
};

// True once sway's tree holds a window of process `nPid`.
bool WaitForWindowOf(SwayControl& sway, int nPid) {
  const std::string sNeedle = "\"pid\": " + std::to_string(nPid);
  const std::string sCompact = "\"pid\":" + std::to_string(nPid);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    const auto tree = sway.Ask(platform::sway::kGetTree, "");
    if (!tree) return false;
    if (tree->find(sNeedle) != std::string::npos || tree->find(sCompact) != std::string::npos) return true;
    ::usleep(50 * 1000);
  }
  return false;
}

// Target: under 20 ms.
void BM_SwayFocusToProfile(benchmark::State& state) {
  const char* pSocket = std::getenv("SWAYSOCK");
  if (pSocket == nullptr || std::getenv("WAYLAND_DISPLAY") == nullptr) {
    state.SkipWithError("needs a sway session (scripts/with-sway)");
    return;
  }
  std::string sError;
  std::unique_ptr<platform::ForegroundTracker> pTracker = platform::CreateSwayForegroundTracker(pSocket, &sError);
  if (!pTracker) {
    state.SkipWithError(sError.c_str());
    return;
  }
  SwayControl sway(pSocket);
  if (!sway.Open()) {
    state.SkipWithError("no IPC connection of our own to sway");
    return;
  }
  ScratchDir dirs[2];
  SpawnedProgram owners[2] = {{{"/usr/bin/wev"}, dirs[0].Path(), {}}, {{"/usr/bin/wev"}, dirs[1].Path(), {}}};
  for (const SpawnedProgram& owner : owners) {
    if (!owner.Started() || !WaitForWindowOf(sway, owner.Pid())) {
      state.SkipWithError("a wev window did not appear in sway's tree");
      return;
    }
  }
  CoreRig rig(TwoApplicationTable(&sError));
  const std::string names[2] = {"APP_A", "APP_B"};
  rig.NameApplication(owners[0].Pid(), names[0]);
  rig.NameApplication(owners[1].Pid(), names[1]);
  ProfileRecord* const pProfiles[2] = {rig.RecordOf(names[0]), rig.RecordOf(names[1])};
  if (pProfiles[0] == nullptr || pProfiles[1] == nullptr) {
    state.SkipWithError("no table");
    return;
  }
  pTracker->SetListener([&rig](const platform::ForegroundWindow& front) {
    rig.Core().CheckForegroundWindow(front.nWindow, front.nPid, front.nStartTime);
  });
  pTracker->Current();

  // Focuses window `nTurn`; true once its profile is current. The command's reply is
  // awaited first: that round trip is inside what is measured, so the figure is an upper
  // bound.
  const auto activate = [&](int nTurn, Clock::time_point deadline) {
    const std::string sCommand = "[pid=" + std::to_string(owners[nTurn].Pid()) + "] focus";
    if (!sway.Ask(kRunCommand, sCommand)) return false;
    while (rig.Core().CurrentProfile() != pProfiles[nTurn]) {
      if (!rig.HandleNext(std::chrono::milliseconds(0))) {
        if (!Readable(pTracker->Fd(), deadline)) return false;
        pTracker->Dispatch();
      }
    }
    return true;
  };
  int nTurn = 0;
  if (!activate(nTurn, Clock::now() + kWait)) {
    state.SkipWithError("the first window never came to the front");
    return;
  }
  Samples samples;
  for (auto _ : state) {
    nTurn ^= 1;
    const auto start = Clock::now();
    if (!activate(nTurn, start + kWait)) {
      state.SkipWithError("the profile did not follow the focused window");
      break;
    }
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(dSeconds);
    samples.Add(dSeconds * 1e6);
  }
  ReportMicroseconds(state, samples);
  for (SpawnedProgram& owner : owners) owner.Stop();
}
BENCHMARK(BM_SwayFocusToProfile)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);

}  // namespace
}  // namespace orb::bench

BENCHMARK_MAIN();
