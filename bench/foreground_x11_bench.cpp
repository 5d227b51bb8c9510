// The profile following the window in front under a real X server and window manager:
// from a pager's _NET_ACTIVE_WINDOW request to the root window, through the window
// manager's property change and the X11 tracker's Dispatch, to the core having the new
// application's profile current. The windows belong to two child processes (this same
// program started as "--window-owner"), so that the server reports two pids. Needs
// DISPLAY and a window manager that publishes _NET_ACTIVE_WINDOW (scripts/with-x11).
#include <benchmark/benchmark.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core_rig.h"
#include "samples.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/foreground_tracker_x11.h"
#include "spawned_program.h"

namespace orb::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(5);

int MillisecondsLeft(Clock::time_point deadline) {
  const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return nLeft > 0 ? static_cast<int>(nLeft) : 0;
}

bool Readable(int nFd, Clock::time_point deadline) {
  pollfd item{nFd, POLLIN, 0};
  return ::poll(&item, 1, MillisecondsLeft(deadline)) == 1;
}

// The child's side: one mapped top-level window, its id on standard output, events read
// (and dropped) until standard input closes.
int RunWindowOwner() {
  Display* pDisplay = XOpenDisplay(nullptr);
  if (pDisplay == nullptr) {
    return 1;
  }
  const Window nWindow = XCreateSimpleWindow(pDisplay, DefaultRootWindow(pDisplay), 10, 10, 200, 100, 0, 0, 0);
  const long nPid = ::getpid();
  XChangeProperty(pDisplay, nWindow, XInternAtom(pDisplay, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&nPid), 1);
  XSelectInput(pDisplay, nWindow, StructureNotifyMask);
  XMapWindow(pDisplay, nWindow);
  for (;;) {
    XEvent event;
    XNextEvent(pDisplay, &event);
    if (event.type == MapNotify) break;
  }
  std::printf("window %lu\n", static_cast<unsigned long>(nWindow));
  std::fflush(stdout);
  pollfd items[2] = {{STDIN_FILENO, POLLIN, 0}, {ConnectionNumber(pDisplay), POLLIN, 0}};
  for (;;) {
    while (XPending(pDisplay) > 0) {
      XEvent event;
      XNextEvent(pDisplay, &event);
    }
    if (::poll(items, 2, -1) < 0 || (items[0].revents & (POLLIN | POLLHUP)) != 0) break;
  }
  XCloseDisplay(pDisplay);
  return 0;
}

// The benchmark's own connection, acting as a pager.
class Pager final {
 public:
  Pager() : m_pDisplay(XOpenDisplay(nullptr)) {
    if (m_pDisplay != nullptr) {
      m_nRoot = DefaultRootWindow(m_pDisplay);
      m_nActive = XInternAtom(m_pDisplay, "_NET_ACTIVE_WINDOW", False);
      m_nState = XInternAtom(m_pDisplay, "_NET_WM_STATE", False);
      m_nAttention = XInternAtom(m_pDisplay, "_NET_WM_STATE_DEMANDS_ATTENTION", False);
    }
  }
  ~Pager() {
    if (m_pDisplay != nullptr) XCloseDisplay(m_pDisplay);
  }
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  bool Open() const { return m_pDisplay != nullptr; }

  // Source 2: a pager's request, which window managers do not refuse as focus stealing.
  void RequestActive(Window nWindow) { Send(nWindow, m_nActive, {2, CurrentTime, 0}); }

  // Waits until the window manager is through with the last activation: openbox names
  // the window, clears and names it again as the focus events reach it. A state change
  // that changes nothing (removing a state the window lacks) is answered by a rewrite of
  // the property, after everything asked before it.
  bool WaitUntilWindowManagerIsDone(Window nWindow, Clock::time_point deadline) {
    XSelectInput(m_pDisplay, nWindow, PropertyChangeMask);
    Send(nWindow, m_nState, {0, static_cast<long>(m_nAttention), 0, 2});
    bool blDone = false;
    while (!blDone) {
      while (!blDone && XPending(m_pDisplay) > 0) {
        XEvent event;
        XNextEvent(m_pDisplay, &event);
        blDone = event.type == PropertyNotify && event.xproperty.window == nWindow && event.xproperty.atom == m_nState;
      }
      if (!blDone && !Readable(ConnectionNumber(m_pDisplay), deadline)) break;
    }
    XSelectInput(m_pDisplay, nWindow, NoEventMask);
    XSync(m_pDisplay, False);
    return blDone;
  }

 private:
  void Send(Window nWindow, Atom nMessage, std::initializer_list<long> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = nWindow;
    event.xclient.message_type = nMessage;
    event.xclient.format = 32;
    int i = 0;
    for (const long nValue : data) event.xclient.data.l[i++] = nValue;
    XSendEvent(m_pDisplay, m_nRoot, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(m_pDisplay);
  }

  Display* m_pDisplay;
  Window m_nRoot = None;
  Atom m_nActive = None;
  Atom m_nState = None;
  Atom m_nAttention = None;
};

std::string g_sSelf;  // this program, for the window owners

Window ReadWindowId(const SpawnedProgram& owner) {
  if (!WaitForFileText(owner.StdoutFile(), "\n", std::chrono::seconds(20))) return None;
  const std::string sLine = ReadWholeFile(owner.StdoutFile());
  return sLine.rfind("window ", 0) == 0 ? static_cast<Window>(std::strtoul(sLine.c_str() + 7, nullptr, 10)) : None;
}

// Target: under 5 ms.
void BM_X11ActivationToProfile(benchmark::State& state) {
  if (std::getenv("DISPLAY") == nullptr) {
    state.SkipWithError("needs DISPLAY");
    return;
  }
  std::string sError;
  std::unique_ptr<platform::ForegroundTracker> pTracker = platform::CreateX11ForegroundTracker(&sError);
  if (!pTracker) {
    state.SkipWithError(sError.c_str());
    return;
  }
  ScratchDir dirs[2];
  SpawnedProgram owners[2] = {{{g_sSelf, "--window-owner"}, dirs[0].Path(), {}},
                              {{g_sSelf, "--window-owner"}, dirs[1].Path(), {}}};
  const Window nWindows[2] = {ReadWindowId(owners[0]), ReadWindowId(owners[1])};
  if (nWindows[0] == None || nWindows[1] == None) {
    state.SkipWithError("the window owners did not map their windows");
    return;
  }
  CoreRig rig(TwoApplicationTable(&sError));
  const std::string names[2] = {"APP_A", "APP_B"};
  rig.NameApplication(owners[0].Pid(), names[0]);
  rig.NameApplication(owners[1].Pid(), names[1]);
  ProfileRecord* const pProfiles[2] = {rig.RecordOf(names[0]), rig.RecordOf(names[1])};
  pTracker->SetListener([&rig](const platform::ForegroundWindow& front) {
    rig.Core().CheckForegroundWindow(front.nWindow, front.nPid, front.nStartTime);
  });
  pTracker->Current();
  Pager pager;
  if (!pager.Open() || pProfiles[0] == nullptr || pProfiles[1] == nullptr) {
    state.SkipWithError("no pager connection or no table");
    return;
  }

  // Brings window `nTurn` to the front; true once its profile is current.
  const auto activate = [&](int nTurn, Clock::time_point deadline) {
    pager.RequestActive(nWindows[nTurn]);
    while (rig.Core().CurrentProfile() != pProfiles[nTurn]) {
      if (!rig.HandleNext(std::chrono::milliseconds(0))) {
        if (!Readable(pTracker->Fd(), deadline)) return false;
        pTracker->Dispatch();
      }
    }
    return true;
  };
  // Untimed: the window manager's late notifies are read and found to change nothing.
  const auto settle = [&](int nTurn) {
    const bool blDone = pager.WaitUntilWindowManagerIsDone(nWindows[nTurn], Clock::now() + kWait);
    pTracker->Dispatch();
    while (rig.HandleNext(std::chrono::milliseconds(0))) {
    }
    return blDone && rig.Core().CurrentProfile() == pProfiles[nTurn];
  };

  // The window manager may still be placing and focusing the new windows: let it finish
  // with both, then ask again until the first one is in front for good.
  for (const Window nWindow : nWindows) {
    pager.WaitUntilWindowManagerIsDone(nWindow, Clock::now() + kWait);
  }
  int nTurn = 0;
  bool blFront = false;
  for (int nTry = 0; nTry < 5 && !blFront; ++nTry) {
    blFront = activate(nTurn, Clock::now() + std::chrono::seconds(1)) && settle(nTurn);
  }
  if (!blFront) {
    state.SkipWithError("the first window never came to the front");
    return;
  }
  Samples samples;
  for (auto _ : state) {
    nTurn ^= 1;
    const auto start = Clock::now();
    if (!activate(nTurn, start + kWait)) {
      state.SkipWithError("the profile did not follow the activated window");
      break;
    }
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(dSeconds);
    samples.Add(dSeconds * 1e6);
    if (!settle(nTurn)) {
      state.SkipWithError("the window manager did not settle on the window");
      break;
    }
  }
  ReportMicroseconds(state, samples);
  for (SpawnedProgram& owner : owners) {
    owner.CloseStdin();
    owner.WaitForExit(std::chrono::seconds(5));
  }
}
BENCHMARK(BM_X11ActivationToProfile)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);

}  // namespace
}  // namespace orb::bench

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--window-owner") == 0) {
    return orb::bench::RunWindowOwner();
  }
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  orb::bench::g_sSelf = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string(argv[0]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
