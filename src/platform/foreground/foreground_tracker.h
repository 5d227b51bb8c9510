#pragma once
// Which application is in front: its top-level window and the process that owns it, so
// that the profile can follow the application the user is working in. Push-shaped: the
// backend tells the main loop when the window in front changed (an X PropertyNotify, a
// compositor's message), the main loop never asks on a timer.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "base/unique_fd.h"

namespace orb::platform {

// The application in front: a window and the process behind it. Ids are handed on (X
// gives a new client the ids of one that just closed, pids come round again), so the
// front changes when any of the three does.
struct ForegroundWindow {
  ForegroundWindow() = default;
  ForegroundWindow(std::uint64_t nWindowId, int nProcess, std::uint64_t nStart = 0, std::string application = {})
      : nWindow(nWindowId), nPid(nProcess), nStartTime(nStart), sApplication(std::move(application)) {}

  std::uint64_t nWindow = 0;     // the backend's window id; 0: no window in front
  int nPid = 0;                  // 0: unknown (a remote client, a server that cannot tell)
  std::uint64_t nStartTime = 0;  // the process's start time (process_start.h); 0: unknown
  // A backend that knows no pid names the application itself, as GetAppInfo names an
  // executable (upper case); "" when the pid says it.
  std::string sApplication;

  bool operator==(const ForegroundWindow&) const = default;
};

class ForegroundTracker {
 public:
  using Listener = std::function<void(const ForegroundWindow&)>;

  ForegroundTracker() = default;
  ForegroundTracker(const ForegroundTracker&) = delete;
  ForegroundTracker& operator=(const ForegroundTracker&) = delete;
  virtual ~ForegroundTracker() = default;

  // The window in front now, asked of the backend (the first check at start-up). It also
  // becomes what later changes are measured against, so it is not reported again.
  virtual ForegroundWindow Current() = 0;

  // Called from Dispatch, on the main loop, once for every change of the window in front.
  virtual void SetListener(Listener listener) = 0;

  // Readable when Dispatch has something to read; the main loop watches it. -1: there is
  // nothing to watch (the "none" tracker never changes).
  virtual int Fd() const = 0;

  // Reads everything pending without blocking and calls the listener per change.
  virtual void Dispatch() = 0;

  // "X11", "sway", "KWin", "GNOME", "fake" or "none", for the log.
  virtual std::string Name() const = 0;
};

// No backend here: nothing is ever in front, nothing changes.
class NullForegroundTracker final : public ForegroundTracker {
 public:
  ForegroundWindow Current() override { return {}; }
  void SetListener(Listener) override {}
  int Fd() const override { return -1; }
  void Dispatch() override {}
  std::string Name() const override { return "none"; }
};

// For tests: the test says which window is in front; the fd becomes readable and the
// next Dispatch reports each change in the order it was made. Setting the window that is
// already in front is no change, as with the real backends. SetForeground may be called
// from any thread; Dispatch and the listener run on the caller's.
class FakeForegroundTracker final : public ForegroundTracker {
 public:
  FakeForegroundTracker();

  void SetForeground(const ForegroundWindow& window);

  ForegroundWindow Current() override;
  void SetListener(Listener listener) override;
  int Fd() const override { return m_fd.Get(); }
  void Dispatch() override;
  std::string Name() const override { return "fake"; }

 private:
  UniqueFd m_fd;  // eventfd: nonzero while changes wait for Dispatch
  std::mutex m_m;
  ForegroundWindow m_front;
  std::deque<ForegroundWindow> m_pending;
  Listener m_listener;
};

// The X11 backend (CMake option ORB_WITH_X11_FOREGROUND): its own connection to $DISPLAY,
// watching _NET_ACTIVE_WINDOW on the root window. Null, with the reason in *pError, when
// the display does not open or its window manager does not publish the active window.
std::unique_ptr<ForegroundTracker> CreateX11ForegroundTracker(std::string* pError);
bool X11ForegroundTrackerBuilt();

// The sway backend (CMake option ORB_WITH_SWAY_FOREGROUND): its own connection to sway's
// IPC socket (pSocketPath, as in $SWAYSOCK), subscribed to window events; native and
// XWayland windows come with their pid. Null, with the reason in *pError, when the socket
// does not answer as sway's.
std::unique_ptr<ForegroundTracker> CreateSwayForegroundTracker(const char* pSocketPath, std::string* pError);
bool SwayForegroundTrackerBuilt();

// The pid of the local client that made X window nWindow on $DISPLAY, asked of the X
// server (X-Resource); 0 when it cannot tell. For compositors that do not know the pid of
// an XWayland window. Its connection opens at the first call; one thread at a time. Empty
// in a build without the X11 backend.
using X11WindowPidLookup = std::function<int(std::uint64_t nWindow)>;
X11WindowPidLookup CreateX11WindowPidLookup();

// The KWin backend (CMake option ORB_WITH_KWIN): a script loaded into KWin over the session
// bus calls us back at every activation with the window's pid; for an XWayland window
// whose pid KWin does not know, pidOfX11Window (when given) asks the X server. Null, with
// the reason, when KWin's scripting does not answer. The script is unloaded when the
// tracker goes.
std::unique_ptr<ForegroundTracker> CreateKWinForegroundTracker(X11WindowPidLookup pidOfX11Window, std::string* pError);
bool KWinForegroundTrackerBuilt();

// The GNOME backend (CMake option ORB_WITH_GNOME): our shell extension's reports on the
// session bus, from the owner of org.gnome.Shell only. Null, with the reason in *pError,
// when there is no session bus or no GNOME Shell on it. An extension that does not answer
// yet is logged once, with how to enable it; its reports are taken from when it does.
std::unique_ptr<ForegroundTracker> CreateGnomeForegroundTracker(std::string* pError);
bool GnomeForegroundTrackerBuilt();
// Whether the extension answers now; when not, *pAdvice says what to do (the extension
// made for the running shell's version, the command that enables it).
bool GnomeShellExtensionAnswers(std::string* pAdvice);

// The wlroots backend (CMake option ORB_WITH_WLR_FOREGROUND): its own Wayland connection
// (pDisplayName as WAYLAND_DISPLAY; null: that variable), following the compositor's list
// of top-level windows. No pid comes with a window: the front names its application
// (sApplication) from the app_id's desktop entry, except for this program's own window,
// which gets this process's pid. Null, with the reason in *pError, when the compositor
// offers no such list.
std::unique_ptr<ForegroundTracker> CreateWlrForegroundTracker(const char* pDisplayName, std::string* pError);
bool WlrForegroundTrackerBuilt();

// The Hyprland backend (CMake option ORB_WITH_HYPRLAND_FOREGROUND): its event socket
// (socketDir/.socket2.sock) for each change of the active window, its request socket
// (socketDir/.socket.sock) for that window's pid. Null, with the reason in *pError, when
// either does not answer as Hyprland's.
std::unique_ptr<ForegroundTracker> CreateHyprlandForegroundTracker(const std::string& socketDir, std::string* pError);
bool HyprlandForegroundTrackerBuilt();

// Start-up choice, written to the log ("Foreground: X11", "Foreground: none (why)").
// ORB_FOREGROUND=x11|kwin|gnome|hyprland|sway|wlr|none forces one. Otherwise, in a Wayland
// session (XDG_SESSION_TYPE or WAYLAND_DISPLAY says so), the first of the session's own
// backends that answers: KWin where XDG_CURRENT_DESKTOP names KDE, GNOME Shell where it
// names GNOME, Hyprland where HYPRLAND_INSTANCE_SIGNATURE is set, sway (by SWAYSOCK), the
// wlroots toplevel list; else none: there the X server is XWayland, which sees only some
// windows. In any other session X11 when it works. Never null: with no backend it returns
// a NullForegroundTracker.
std::unique_ptr<ForegroundTracker> SelectForegroundTracker();

}  // namespace orb::platform
