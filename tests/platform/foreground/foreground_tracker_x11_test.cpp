// The X11 foreground tracker under a real X server and window manager (CI: Xvfb with
// openbox): our own client windows are brought to the front as a pager would, and the
// tracker must report each with the process behind it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "base/log_capture.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/foreground_tracker_x11.h"
#include "platform/process/process_start.h"

namespace orb::platform {

// Failures name the window and the pid, not the bytes.
void PrintTo(const ForegroundWindow& window, std::ostream* pOut) {
  *pOut << "{window 0x" << std::hex << window.nWindow << std::dec << ", pid " << window.nPid << ", started "
        << window.nStartTime << "}";
}

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return nLeft > 0 ? static_cast<int>(nLeft) : 0;
}

bool WaitReadable(int nFd, Clock::time_point deadline) {
  pollfd fd{nFd, POLLIN, 0};
  return ::poll(&fd, 1, MillisecondsLeft(deadline)) == 1;
}

// x11_window_client as a child process: its window id once mapped, commands on its stdin.
class WindowClient {
 public:
  WindowClient() = default;
  WindowClient(const WindowClient&) = delete;
  WindowClient& operator=(const WindowClient&) = delete;

  ~WindowClient() {
    Stop();
    if (m_nStdout >= 0) {
      ::close(m_nStdout);
    }
  }

  // Starts it and waits until the window manager has mapped its window.
  bool Start(std::vector<std::string> args) {
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
      return false;
    }
    std::vector<char*> argv{const_cast<char*>(ORB_X11_WINDOW_CLIENT)};
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(toChild[0], STDIN_FILENO);
      ::dup2(fromChild[1], STDOUT_FILENO);
      ::execv(ORB_X11_WINDOW_CLIENT, argv.data());
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_nStdin = toChild[1];
    m_nStdout = fromChild[0];
    std::string line;
    if (m_pid <= 0 || !ReadLine(line, Clock::now() + std::chrono::seconds(30)) || line.rfind("window ", 0) != 0) {
      return false;
    }
    m_nWindow = std::stoul(line.substr(7));
    m_nStartTime = ProcessStartTime(static_cast<int>(m_pid));
    return m_nWindow != 0 && m_nStartTime != 0;
  }

  // Destroys the window; the client stays connected.
  bool DestroyWindow() {
    std::string line;
    return ::write(m_nStdin, "destroy\n", 8) == 8 && ReadLine(line, Clock::now() + std::chrono::seconds(30)) &&
           line == "destroyed";
  }

  // Ends the client (its connection closes with it) and waits until it has.
  void Stop() {
    if (m_nStdin >= 0) {
      ::close(m_nStdin);  // tells the client to end
      m_nStdin = -1;
    }
    if (m_pid > 0) {
      int nStatus = 0;
      ::waitpid(m_pid, &nStatus, 0);
      m_nExitedPid = m_pid;
      m_pid = -1;
    }
  }

  int Pid() const { return static_cast<int>(m_pid > 0 ? m_pid : m_nExitedPid); }
  Window Id() const { return m_nWindow; }
  // Its window with the process behind it, as the tracker should report it.
  ForegroundWindow Front() const { return {m_nWindow, Pid(), m_nStartTime}; }

 private:
  bool ReadLine(std::string& line, Clock::time_point deadline) {
    for (;;) {
      const std::size_t nEnd = m_buffer.find('\n');
      if (nEnd != std::string::npos) {
        line = m_buffer.substr(0, nEnd);
        m_buffer.erase(0, nEnd + 1);
        return true;
      }
      if (!WaitReadable(m_nStdout, deadline)) {
        return false;
      }
      char chunk[256];
      const ssize_t n = ::read(m_nStdout, chunk, sizeof chunk);
      if (n <= 0) {
        return false;
      }
      m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
  }

  pid_t m_pid = -1;
  pid_t m_nExitedPid = -1;
  int m_nStdin = -1;
  int m_nStdout = -1;
  Window m_nWindow = 0;
  std::uint64_t m_nStartTime = 0;
  std::string m_buffer;
};

// The test's own connection, acting as a pager: asks the window manager to bring a window
// to the front and watches for the result.
class Pager {
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
    if (m_pDisplay != nullptr) {
      XCloseDisplay(m_pDisplay);
    }
  }
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  Display* Get() const { return m_pDisplay; }

  // Writes the property as a window manager does; the value may name any window at all.
  void WriteActive(Window nWindow) {
    XChangeProperty(m_pDisplay, m_nRoot, m_nActive, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&nWindow), 1);
    XSync(m_pDisplay, False);
  }

  // Asks the window manager to bring the window to the front and waits until it has done
  // with it. openbox names the window at once, then clears and names it again as the
  // focus events reach it; so the wait is for the focus to be there and for an answer from
  // the window manager to a request sent after that, when those events are behind it.
  bool BringToFront(Window nWindow) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    XSelectInput(m_pDisplay, nWindow, FocusChangeMask | PropertyChangeMask);
    SendToWindowManager(nWindow, m_nActive, {2, CurrentTime, 0});  // 2: a pager's request
    if (!WaitUntil([&] { return HasFocus(nWindow); }, deadline)) {
      return false;
    }
    // Removing a state the window lacks changes nothing, but openbox rewrites the property.
    m_blStateWritten = false;
    SendToWindowManager(nWindow, m_nState, {0, static_cast<long>(m_nAttention), 0, 2});
    if (!WaitUntil([&] { return m_blStateWritten; }, deadline)) {
      return false;
    }
    XSelectInput(m_pDisplay, nWindow, NoEventMask);
    return ActiveWindow() == nWindow;
  }

 private:
  void SendToWindowManager(Window nWindow, Atom nMessage, std::initializer_list<long> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = nWindow;
    event.xclient.message_type = nMessage;
    event.xclient.format = 32;
    int i = 0;
    for (const long nValue : data) {
      event.xclient.data.l[i++] = nValue;
    }
    XSendEvent(m_pDisplay, m_nRoot, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(m_pDisplay);
  }

  bool HasFocus(Window nWindow) {
    Window nFocus = None;
    int nRevert = 0;
    XGetInputFocus(m_pDisplay, &nFocus, &nRevert);
    return nFocus == nWindow;
  }

  Window ActiveWindow() {
    Atom nType = None;
    int nFormat = 0;
    unsigned long nItems = 0;
    unsigned long nAfter = 0;
    unsigned char* pData = nullptr;
    Window nWindow = None;
    if (XGetWindowProperty(m_pDisplay, m_nRoot, m_nActive, 0, 1, False, XA_WINDOW, &nType, &nFormat, &nItems, &nAfter,
                           &pData) == Success &&
        pData != nullptr && nItems == 1) {
      nWindow = static_cast<Window>(reinterpret_cast<unsigned long*>(pData)[0]);
    }
    XFree(pData);
    return nWindow;
  }

  // Reads events (noting the window manager's answer) until isDone() holds.
  template <typename Done>
  bool WaitUntil(Done isDone, Clock::time_point deadline) {
    for (;;) {
      while (XPending(m_pDisplay) > 0) {
        XEvent event;
        XNextEvent(m_pDisplay, &event);
        m_blStateWritten = m_blStateWritten || (event.type == PropertyNotify && event.xproperty.atom == m_nState);
      }
      if (isDone()) {
        return true;
      }
      if (XPending(m_pDisplay) == 0 && !WaitReadable(ConnectionNumber(m_pDisplay), deadline)) {
        return false;
      }
    }
  }

  Display* m_pDisplay;
  Window m_nRoot = None;
  Atom m_nActive = None;
  Atom m_nState = None;
  Atom m_nAttention = None;
  bool m_blStateWritten = false;
};

class X11ForegroundTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* pDisplay = std::getenv("DISPLAY");
    if (pDisplay == nullptr || *pDisplay == '\0') {
      GTEST_SKIP() << "DISPLAY is not set: no X server to track";
    }
    ASSERT_NE(m_pager.Get(), nullptr);
  }

  // Starts the client and waits until the window manager, which focuses a new window, has
  // done so: what it still has to do for one window must not cross what a test asks next.
  bool Start(WindowClient& client, std::vector<std::string> args) {
    return client.Start(std::move(args)) && m_pager.BringToFront(client.Id());
  }

  // A tracker reporting into m_reports. Under the test session's window manager it must
  // work, so a failure fails the test.
  std::unique_ptr<ForegroundTracker> Track(const X11ForegroundOptions& options = {}) {
    std::string error;
    auto pTracker = CreateX11ForegroundTracker(options, &error);
    EXPECT_NE(pTracker, nullptr) << error;
    if (pTracker) {
      pTracker->SetListener([this](const ForegroundWindow& window) { m_reports.push_back(window); });
    }
    return pTracker;
  }

  // Polls and dispatches until the tracker reports nWindow, or the deadline passes.
  bool WaitForReportOf(ForegroundTracker& tracker, Window nWindow) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    const std::size_t nFrom = m_reports.size();
    for (;;) {
      for (std::size_t i = nFrom; i < m_reports.size(); ++i) {
        if (m_reports[i].nWindow == nWindow) {
          return true;
        }
      }
      if (!WaitReadable(tracker.Fd(), deadline)) {
        return false;
      }
      tracker.Dispatch();
    }
  }

  // The windows reported, in order, without the moments of none: openbox names a window
  // as soon as it is asked to, clears the property as the focus leaves the old one, then
  // names the new one again. Those are changes and reported as such (ExpectEachReportIsAChange
  // checks that each report is one); what these tests compare is which windows came, with
  // which pid, in which order.
  std::vector<ForegroundWindow> Windows() const {
    std::vector<ForegroundWindow> windows;
    for (const ForegroundWindow& window : m_reports) {
      if (window.nWindow != 0 && (windows.empty() || windows.back() != window)) {
        windows.push_back(window);
      }
    }
    return windows;
  }

  void ExpectEachReportIsAChange(const ForegroundWindow& start) const {
    ForegroundWindow previous = start;
    for (const ForegroundWindow& window : m_reports) {
      EXPECT_NE(window, previous) << "reported again without a change";
      EXPECT_TRUE(window.nWindow != 0 || window.nPid == 0) << "a pid for no window";
      previous = window;
    }
  }

  Pager m_pager;
  std::vector<ForegroundWindow> m_reports;
};

TEST_F(X11ForegroundTrackerTest, ReportsEachWindowBroughtToFrontWithItsOwnersPidOncePerChange) {
  WindowClient withPid;
  WindowClient withoutPid;
  ASSERT_TRUE(Start(withPid, {"--net-wm-pid"}));
  ASSERT_TRUE(Start(withoutPid, {}));
  ASSERT_TRUE(m_pager.BringToFront(withPid.Id()));
  auto pTracker = Track();
  ASSERT_NE(pTracker, nullptr);
  const ForegroundWindow first = withPid.Front();
  // The server knows a local client's pid, whether or not its window says it.
  const ForegroundWindow second = withoutPid.Front();
  ASSERT_EQ(pTracker->Current(), first);

  ASSERT_TRUE(m_pager.BringToFront(second.nWindow));
  ASSERT_TRUE(WaitForReportOf(*pTracker, second.nWindow));
  ASSERT_TRUE(m_pager.BringToFront(first.nWindow));
  ASSERT_TRUE(WaitForReportOf(*pTracker, first.nWindow));
  // The same value written again is no change: the notify comes, no report.
  const std::size_t nBefore = m_reports.size();
  m_pager.WriteActive(first.nWindow);
  ASSERT_TRUE(WaitReadable(pTracker->Fd(), Clock::now() + std::chrono::seconds(20)));
  pTracker->Dispatch();
  EXPECT_EQ(m_reports.size(), nBefore);
  ASSERT_TRUE(m_pager.BringToFront(second.nWindow));
  ASSERT_TRUE(WaitForReportOf(*pTracker, second.nWindow));

  EXPECT_EQ(Windows(), (std::vector<ForegroundWindow>{second, first, second}));
  ExpectEachReportIsAChange(first);
}

TEST_F(X11ForegroundTrackerTest, WithoutXResOnlyAWindowMadeOnThisMachineNamesItsPid) {
  WindowClient local;
  WindowClient silent;
  WindowClient remote;
  ASSERT_TRUE(Start(local, {"--net-wm-pid"}));
  ASSERT_TRUE(Start(silent, {}));
  ASSERT_TRUE(Start(remote, {"--net-wm-pid", "--client-machine", "elsewhere.invalid"}));
  ASSERT_TRUE(m_pager.BringToFront(remote.Id()));
  auto pTracker = Track(X11ForegroundOptions{.blAskXRes = false});
  ASSERT_NE(pTracker, nullptr);
  const ForegroundWindow start = pTracker->Current();
  EXPECT_EQ(start, (ForegroundWindow{remote.Id(), 0})) << "its _NET_WM_PID is another machine's";

  for (const WindowClient* pClient : {&local, &silent, &remote}) {
    ASSERT_TRUE(m_pager.BringToFront(pClient->Id()));
    ASSERT_TRUE(WaitForReportOf(*pTracker, pClient->Id()));
  }
  EXPECT_EQ(Windows(), (std::vector<ForegroundWindow>{local.Front(), {silent.Id(), 0}, {remote.Id(), 0}}));
  ExpectEachReportIsAChange(start);
}

int g_nTestErrors = 0;
int CountTestError(Display*, XErrorEvent*) {
  ++g_nTestErrors;
  return 0;
}

TEST_F(X11ForegroundTrackerTest, AWindowGoneBeforeTheQueryIsReportedWithoutAPidAndTheProcessLives) {
  WindowClient client;
  WindowClient next;
  ASSERT_TRUE(Start(client, {"--net-wm-pid"}));
  ASSERT_TRUE(Start(next, {"--net-wm-pid"}));
  ASSERT_TRUE(m_pager.BringToFront(client.Id()));
  // Without XRes the pid can only come from the window itself, which is gone: BadWindow.
  // Xlib's default handler would end the process here.
  const XErrorHandler pBefore = XSetErrorHandler(&CountTestError);
  g_nTestErrors = 0;
  auto pTracker = Track(X11ForegroundOptions{.blAskXRes = false});
  ASSERT_NE(pTracker, nullptr);
  const Window nGone = XCreateSimpleWindow(m_pager.Get(), DefaultRootWindow(m_pager.Get()), 0, 0, 10, 10, 0, 0, 0);
  XDestroyWindow(m_pager.Get(), nGone);
  m_pager.WriteActive(nGone);
  ASSERT_TRUE(WaitForReportOf(*pTracker, nGone));
  EXPECT_EQ(m_reports.back(), (ForegroundWindow{nGone, 0}));
  EXPECT_EQ(g_nTestErrors, 0) << "the tracker's own errors are its own";

  // The handler it found is back in place, and still gets this connection's errors.
  EXPECT_EQ(XSetErrorHandler(&CountTestError), &CountTestError);
  XMapWindow(m_pager.Get(), nGone);
  XSync(m_pager.Get(), False);
  EXPECT_EQ(g_nTestErrors, 1);
  XSetErrorHandler(pBefore);

  // Tracking goes on.
  ASSERT_TRUE(m_pager.BringToFront(next.Id()));
  ASSERT_TRUE(WaitForReportOf(*pTracker, next.Id()));
  EXPECT_EQ(m_reports.back(), next.Front());
}

TEST_F(X11ForegroundTrackerTest, WhenTheWindowInFrontGoesTheNextOneIsReported) {
  WindowClient stays;
  WindowClient destroyed;
  WindowClient quits;
  ASSERT_TRUE(Start(stays, {}));
  ASSERT_TRUE(Start(destroyed, {"--net-wm-pid"}));
  ASSERT_TRUE(m_pager.BringToFront(destroyed.Id()));
  auto pTracker = Track();
  ASSERT_NE(pTracker, nullptr);
  const ForegroundWindow start = pTracker->Current();
  ASSERT_EQ(start, destroyed.Front());

  // openbox gives the focus back to the window that had it before.
  ASSERT_TRUE(destroyed.DestroyWindow());
  ASSERT_TRUE(WaitForReportOf(*pTracker, stays.Id()));

  // A client that ends with its window in front: its connection, and so its pid, is gone
  // by the time anyone could ask.
  ASSERT_TRUE(Start(quits, {}));
  ASSERT_TRUE(WaitForReportOf(*pTracker, quits.Id()));
  quits.Stop();
  ASSERT_TRUE(WaitForReportOf(*pTracker, stays.Id()));

  EXPECT_EQ(Windows(), (std::vector<ForegroundWindow>{stays.Front(), quits.Front(), stays.Front()}));
  ExpectEachReportIsAChange(start);
}

TEST_F(X11ForegroundTrackerTest, AWindowIdHandedToANewClientIsANewFront) {
  // The server gives a new client the lowest free slot, and with it the ids of the client
  // that last had it: one that ends, then one alike, make the same window.
  WindowClient old;
  ASSERT_TRUE(Start(old, {}));
  auto pTracker = Track();
  ASSERT_NE(pTracker, nullptr);
  const ForegroundWindow closed = pTracker->Current();
  ASSERT_EQ(closed, old.Front());
  old.Stop();
  WindowClient next;
  ASSERT_TRUE(Start(next, {}));
  ASSERT_EQ(next.Id(), closed.nWindow) << "the server did not hand the id on; nothing to test";
  ASSERT_NE(next.Front(), closed);

  // The window manager named the same id before and after (openbox may keep naming a
  // closed window until the next comes). Read in one go, the property says what it said.
  ASSERT_TRUE(WaitReadable(pTracker->Fd(), Clock::now() + std::chrono::seconds(20)));
  pTracker->Dispatch();
  ASSERT_FALSE(m_reports.empty()) << "the new client's window was taken for the old one";
  EXPECT_EQ(m_reports.back(), next.Front());
  EXPECT_EQ(pTracker->Current(), next.Front());
  ExpectEachReportIsAChange(closed);
}

// Restores the root window's _NET_SUPPORTED as the window manager wrote it.
class SupportedGuard {
 public:
  explicit SupportedGuard(Display* pDisplay)
      : m_pDisplay(pDisplay), m_nSupported(XInternAtom(pDisplay, "_NET_SUPPORTED", False)) {
    Atom nType = None;
    int nFormat = 0;
    unsigned long nItems = 0;
    unsigned long nAfter = 0;
    unsigned char* pData = nullptr;
    if (XGetWindowProperty(pDisplay, DefaultRootWindow(pDisplay), m_nSupported, 0, 1L << 16, False, XA_ATOM, &nType,
                           &nFormat, &nItems, &nAfter, &pData) == Success &&
        pData != nullptr) {
      const auto* pAtoms = reinterpret_cast<const Atom*>(pData);
      m_atoms.assign(pAtoms, pAtoms + nItems);
    }
    XFree(pData);
  }
  ~SupportedGuard() { Write(m_atoms); }
  SupportedGuard(const SupportedGuard&) = delete;
  SupportedGuard& operator=(const SupportedGuard&) = delete;

  const std::vector<Atom>& Atoms() const { return m_atoms; }

  void Write(const std::vector<Atom>& atoms) {
    XChangeProperty(m_pDisplay, DefaultRootWindow(m_pDisplay), m_nSupported, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
    XSync(m_pDisplay, False);
  }
  void Delete() {
    XDeleteProperty(m_pDisplay, DefaultRootWindow(m_pDisplay), m_nSupported);
    XSync(m_pDisplay, False);
  }

 private:
  Display* m_pDisplay;
  Atom m_nSupported;
  std::vector<Atom> m_atoms;
};

TEST_F(X11ForegroundTrackerTest, RefusesAWindowManagerThatDoesNotPublishTheActiveWindow) {
  SupportedGuard guard(m_pager.Get());
  const Atom nActive = XInternAtom(m_pager.Get(), "_NET_ACTIVE_WINDOW", False);
  std::vector<Atom> without;
  for (const Atom nAtom : guard.Atoms()) {
    if (nAtom != nActive) {
      without.push_back(nAtom);
    }
  }
  ASSERT_LT(without.size(), guard.Atoms().size()) << "the test session's window manager publishes it";
  const std::string display = DisplayString(m_pager.Get());

  guard.Write(without);
  std::string error;
  EXPECT_EQ(CreateX11ForegroundTracker(&error), nullptr);
  EXPECT_EQ(error, "the window manager on \"" + display + "\" does not publish _NET_ACTIVE_WINDOW");

  guard.Delete();
  EXPECT_EQ(CreateX11ForegroundTracker(&error), nullptr);
  EXPECT_EQ(error, "no window manager on \"" + display +
                       "\" says what it supports (no _NET_SUPPORTED on the root window)");
}

TEST_F(X11ForegroundTrackerTest, TheStartUpChoiceIsX11AndSaysSo) {
  ::unsetenv("ORB_FOREGROUND");
  test::LogCapture log;
  auto pTracker = SelectForegroundTracker();
  ASSERT_NE(pTracker, nullptr);
  EXPECT_EQ(pTracker->Name(), "X11");
  EXPECT_GE(pTracker->Fd(), 0);
  EXPECT_EQ(log.Text(), "Foreground: X11\r\n");
}

}  // namespace
}  // namespace orb::platform
