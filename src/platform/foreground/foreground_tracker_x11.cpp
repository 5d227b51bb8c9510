// The window in front under X11, as the window manager publishes it: _NET_ACTIVE_WINDOW on
// the root window, rewritten at every focus change (and often with the same value). The
// tracker holds a connection of its own, selects property changes on the root and reads
// the property when it was touched. The process comes from the server itself when it can
// tell (X-Resource: the pid of the connection that made the window), else from the
// window's own _NET_WM_PID, which is only believed for a window made on this machine.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include <unistd.h>

#include <atomic>
#include <climits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/write_log.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/foreground_tracker_x11.h"
#include "platform/process/process_start.h"

namespace orb::platform {
namespace {

struct DisplayCloser {
  void operator()(Display* pDisplay) const { XCloseDisplay(pDisplay); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreer {
  void operator()(unsigned char* pData) const { XFree(pData); }
};

// XSetErrorHandler is process-wide, and Xlib's default handler ends the process. For the
// span of our own requests a private handler takes the errors of our connection (a window
// destroyed between the notify and the query: BadWindow) and hands any other
// connection's to the handler that was there before, which is put back afterwards. All
// our requests inside a trap wait for their reply, so their errors have come by then.
// Traps are opened by the thread that owns the tracker, one at a time.
class ErrorTrap final {
 public:
  explicit ErrorTrap(Display* pDisplay) {
    s_nErrorCode.store(0);
    s_nRequestCode.store(0);
    s_pDisplay.store(pDisplay);
    s_pPrevious.store(XSetErrorHandler(&ErrorTrap::OnError));
  }
  ~ErrorTrap() {
    XSetErrorHandler(s_pPrevious.load());
    s_pDisplay.store(nullptr);
    // A window that went away is the expected failure; anything else is worth a line.
    const int nCode = s_nErrorCode.load();
    if (nCode != 0 && nCode != BadWindow) {
      WriteLog("ForegroundTracker: X error %d on request %d, ignored\r\n", nCode, s_nRequestCode.load());
    }
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

 private:
  static int OnError(Display* pDisplay, XErrorEvent* pEvent) {
    if (pDisplay != s_pDisplay.load()) {
      // Null only in the instant between installing and learning the previous one.
      const XErrorHandler pPrevious = s_pPrevious.load();
      return pPrevious != nullptr ? pPrevious(pDisplay, pEvent) : 0;
    }
    if (s_nErrorCode.load() == 0) {
      s_nErrorCode.store(pEvent->error_code);
      s_nRequestCode.store(pEvent->request_code);
    }
    return 0;
  }

  // Atomic: another thread's connection (the XTest sink) may hit the handler meanwhile.
  static inline std::atomic<Display*> s_pDisplay{nullptr};
  static inline std::atomic<XErrorHandler> s_pPrevious{nullptr};
  static inline std::atomic<int> s_nErrorCode{0};
  static inline std::atomic<int> s_nRequestCode{0};
};

// A property of 32-bit items (Xlib hands them over as longs); empty when it is missing,
// of another type or the window is gone. Call inside an ErrorTrap.
std::vector<unsigned long> ReadProperty32(Display* pDisplay, Window window, Atom property, Atom type,
                                          long nMaxItems) {
  Atom nActualType = None;
  int nFormat = 0;
  unsigned long nItems = 0;
  unsigned long nAfter = 0;
  unsigned char* pRaw = nullptr;
  const int nStatus = XGetWindowProperty(pDisplay, window, property, 0, nMaxItems, False, type, &nActualType,
                                         &nFormat, &nItems, &nAfter, &pRaw);
  const std::unique_ptr<unsigned char, XFreer> pData(pRaw);
  if (nStatus != Success || pData == nullptr || nActualType != type || nFormat != 32) {
    return {};
  }
  const auto* pItems = reinterpret_cast<const unsigned long*>(pData.get());
  return std::vector<unsigned long>(pItems, pItems + nItems);
}

// A text property (STRING), or "" when missing. Call inside an ErrorTrap.
std::string ReadPropertyText(Display* pDisplay, Window window, Atom property) {
  Atom nActualType = None;
  int nFormat = 0;
  unsigned long nItems = 0;
  unsigned long nAfter = 0;
  unsigned char* pRaw = nullptr;
  const int nStatus = XGetWindowProperty(pDisplay, window, property, 0, 256, False, XA_STRING, &nActualType,
                                         &nFormat, &nItems, &nAfter, &pRaw);
  const std::unique_ptr<unsigned char, XFreer> pData(pRaw);
  if (nStatus != Success || pData == nullptr || nActualType != XA_STRING || nFormat != 8) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(pData.get()), nItems);
}

// Host names are compared without their domain: "box" and "box.example.org" are one machine.
bool SameHost(std::string_view first, std::string_view second) {
  return first.substr(0, first.find('.')) == second.substr(0, second.find('.'));
}

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    return {};
  }
  return name;
}

class X11ForegroundTracker final : public ForegroundTracker {
 public:
  struct Atoms {
    Atom nActiveWindow;
    Atom nWmPid;
    Atom nClientMachine;
  };

  X11ForegroundTracker(DisplayPtr pDisplay, const Atoms& atoms, bool blAskXRes)
      : m_pDisplay(std::move(pDisplay)),
        m_nRoot(DefaultRootWindow(m_pDisplay.get())),
        m_atoms(atoms),
        m_blAskXRes(blAskXRes),
        m_hostName(LocalHostName()) {}

  ForegroundWindow Current() override {
    ErrorTrap trap(m_pDisplay.get());
    m_last = FrontNow();
    // Events that came in with these replies sit in Xlib's queue, where no poll would see
    // them. They were sent before the replies, so the value just read is newer: drop them.
    Display* pDisplay = m_pDisplay.get();
    while (XEventsQueued(pDisplay, QueuedAlready) > 0) {
      XEvent event;
      XNextEvent(pDisplay, &event);
    }
    return m_last;
  }

  void SetListener(Listener listener) override { m_listener = std::move(listener); }

  int Fd() const override { return ConnectionNumber(m_pDisplay.get()); }

  void Dispatch() override {
    bool blChanged = false;
    {
      ErrorTrap trap(m_pDisplay.get());
      // Reading the property may pull more events into Xlib's queue, where no poll would
      // see them: drain again after every read, until a pass finds nothing new. Several
      // notifies in one pass need one read, as all of them would read the value now.
      // The process is asked again even for the same id: a window manager names the id of
      // a closed window again when a new client is given it.
      while (DrainActiveWindowNotifies()) {
        const ForegroundWindow front = FrontNow();
        if (front != m_last) {
          m_last = front;
          blChanged = true;
        }
      }
    }
    // Outside the trap: the listener may call Current() or log freely.
    if (blChanged && m_listener) {
      m_listener(m_last);
    }
  }

  std::string Name() const override { return "X11"; }

 private:
  // True when _NET_ACTIVE_WINDOW was touched among the events read.
  bool DrainActiveWindowNotifies() {
    bool blTouched = false;
    Display* pDisplay = m_pDisplay.get();
    while (XPending(pDisplay) > 0) {
      XEvent event;
      XNextEvent(pDisplay, &event);
      blTouched = blTouched || (event.type == PropertyNotify && event.xproperty.window == m_nRoot &&
                                event.xproperty.atom == m_atoms.nActiveWindow);
    }
    return blTouched;
  }

  // The window in front and its process as they are now. Call inside an ErrorTrap.
  ForegroundWindow FrontNow() {
    const Window nWindow = ReadActiveWindow();
    const int nPid = PidOf(nWindow);
    return ForegroundWindow{nWindow, nPid, ProcessStartTime(nPid)};
  }

  // 0 when no window is in front (None, a deleted property, a window manager gone).
  Window ReadActiveWindow() {
    const auto items = ReadProperty32(m_pDisplay.get(), m_nRoot, m_atoms.nActiveWindow, XA_WINDOW, 1);
    return items.empty() ? None : static_cast<Window>(items.front());
  }

  int PidOf(Window nWindow) {
    if (nWindow == None) {
      return 0;
    }
    if (m_blAskXRes) {
      if (const int nPid = PidFromServer(nWindow); nPid > 0) {
        return nPid;
      }
    }
    return PidFromWindow(nWindow);
  }

  // The pid of the connection the window belongs to, as the server knows it (a local
  // client's socket peer); 0 when it cannot tell.
  int PidFromServer(Window nWindow) {
    XResClientIdSpec spec{nWindow, XRES_CLIENT_ID_PID_MASK};
    long nIds = 0;
    XResClientIdValue* pIds = nullptr;
    if (XResQueryClientIds(m_pDisplay.get(), 1, &spec, &nIds, &pIds) != Success) {
      return 0;
    }
    int nPid = 0;
    for (long i = 0; i < nIds && nPid == 0; ++i) {
      if ((pIds[i].spec.mask & XRES_CLIENT_ID_PID_MASK) != 0) {
        const pid_t nFound = XResGetClientPid(&pIds[i]);
        nPid = nFound > 0 ? static_cast<int>(nFound) : 0;
      }
    }
    XResClientIdsDestroy(nIds, pIds);
    return nPid;
  }

  // What the client wrote on its window. A pid is only a process here when the window says
  // it was made here: from another machine it would name some unrelated local process.
  int PidFromWindow(Window nWindow) {
    const auto items = ReadProperty32(m_pDisplay.get(), nWindow, m_atoms.nWmPid, XA_CARDINAL, 1);
    if (items.empty() || items.front() == 0 || items.front() > static_cast<unsigned long>(INT_MAX)) {
      return 0;
    }
    const std::string machine = ReadPropertyText(m_pDisplay.get(), nWindow, m_atoms.nClientMachine);
    if (!machine.empty() && !SameHost(machine, m_hostName)) {
      return 0;
    }
    return static_cast<int>(items.front());
  }

  DisplayPtr m_pDisplay;
  Window m_nRoot;
  Atoms m_atoms;
  bool m_blAskXRes;
  std::string m_hostName;
  ForegroundWindow m_last;
  Listener m_listener;
};

bool ServerHasClientIds(Display* pDisplay) {
  int nEventBase = 0;
  int nErrorBase = 0;
  int nMajor = 0;
  int nMinor = 0;
  // Client ids (and with them the pid) came with version 1.2.
  return XResQueryExtension(pDisplay, &nEventBase, &nErrorBase) &&
         XResQueryVersion(pDisplay, &nMajor, &nMinor) != 0 && (nMajor > 1 || (nMajor == 1 && nMinor >= 2));
}

}  // namespace

bool X11ForegroundTrackerBuilt() { return true; }

X11WindowPidLookup CreateX11WindowPidLookup() {
  struct Lookup {
    DisplayPtr pDisplay;
    bool blTried = false;
    bool blClientIds = false;
  };
  auto pLookup = std::make_shared<Lookup>();
  return [pLookup](std::uint64_t nWindow) -> int {
    if (!pLookup->blTried) {
      pLookup->blTried = true;
      pLookup->pDisplay.reset(XOpenDisplay(nullptr));
      pLookup->blClientIds = pLookup->pDisplay != nullptr && ServerHasClientIds(pLookup->pDisplay.get());
      if (!pLookup->blClientIds) {
        WriteLog("ForegroundTracker: no X server with client ids to ask for the pid of X windows\r\n");
      }
    }
    if (!pLookup->blClientIds || nWindow == 0 || nWindow > 0xFFFFFFFFu) {
      return 0;
    }
    ErrorTrap trap(pLookup->pDisplay.get());
    XResClientIdSpec spec{static_cast<XID>(nWindow), XRES_CLIENT_ID_PID_MASK};
    long nIds = 0;
    XResClientIdValue* pIds = nullptr;
    if (XResQueryClientIds(pLookup->pDisplay.get(), 1, &spec, &nIds, &pIds) != Success) {
      return 0;
    }
    int nPid = 0;
    for (long i = 0; i < nIds && nPid == 0; ++i) {
      if (pIds[i].spec.mask == XRES_CLIENT_ID_PID_MASK) {
        const pid_t nFound = XResGetClientPid(&pIds[i]);
        nPid = nFound > 0 ? static_cast<int>(nFound) : 0;
      }
    }
    XResClientIdsDestroy(nIds, pIds);
    return nPid;
  };
}

std::unique_ptr<ForegroundTracker> CreateX11ForegroundTracker(std::string* pError) {
  return CreateX11ForegroundTracker(X11ForegroundOptions{}, pError);
}

std::unique_ptr<ForegroundTracker> CreateX11ForegroundTracker(const X11ForegroundOptions& options,
                                                              std::string* pError) {
  std::string ignored;
  std::string& error = pError != nullptr ? *pError : ignored;
  DisplayPtr pDisplay(XOpenDisplay(nullptr));
  if (pDisplay == nullptr) {
    const char* pName = XDisplayName(nullptr);
    error = std::string("cannot open the X display \"") + (pName != nullptr ? pName : "") + "\"";
    return nullptr;
  }
  Display* pRaw = pDisplay.get();
  char* names[] = {const_cast<char*>("_NET_SUPPORTED"), const_cast<char*>("_NET_ACTIVE_WINDOW"),
                   const_cast<char*>("_NET_WM_PID"), const_cast<char*>("WM_CLIENT_MACHINE")};
  Atom atoms[4] = {};
  XInternAtoms(pRaw, names, 4, False, atoms);
  const X11ForegroundTracker::Atoms used{atoms[1], atoms[2], atoms[3]};

  std::vector<unsigned long> supported;
  {
    ErrorTrap trap(pRaw);
    supported = ReadProperty32(pRaw, DefaultRootWindow(pRaw), atoms[0], XA_ATOM, 1L << 16);
  }
  if (supported.empty()) {
    error = std::string("no window manager on \"") + DisplayString(pRaw) +
            "\" says what it supports (no _NET_SUPPORTED on the root window)";
    return nullptr;
  }
  bool blPublishes = false;
  for (const unsigned long nAtom : supported) {
    blPublishes = blPublishes || nAtom == used.nActiveWindow;
  }
  if (!blPublishes) {
    error = std::string("the window manager on \"") + DisplayString(pRaw) + "\" does not publish _NET_ACTIVE_WINDOW";
    return nullptr;
  }
  const bool blAskXRes = options.blAskXRes && ServerHasClientIds(pRaw);
  if (options.blAskXRes && !blAskXRes) {
    WriteLog("ForegroundTracker: the X server has no X-Resource 1.2; pids come from _NET_WM_PID alone\r\n");
  }
  // Our own connection's mask on the root: the program's other connections keep theirs.
  // Synced, not only flushed: a change made by another client once we return must find
  // the selection in place, or its notify is lost.
  XSelectInput(pRaw, DefaultRootWindow(pRaw), PropertyChangeMask);
  XSync(pRaw, False);
  return std::make_unique<X11ForegroundTracker>(std::move(pDisplay), used, blAskXRes);
}

}  // namespace orb::platform
