// Which foreground tracker the program uses: chosen once at start-up and written to the log.
#include <cstdlib>
#include <cstring>

#include "base/write_log.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/session/session_type.h"

namespace orb::platform {

// The one place that knows whether the build left the X11 backend out.
#if !ORB_WITH_X11_FOREGROUND
bool X11ForegroundTrackerBuilt() { return false; }
std::unique_ptr<ForegroundTracker> CreateX11ForegroundTracker(std::string* pError) {
  *pError = "this build has no X11 foreground tracker";
  return nullptr;
}
#endif
#if !ORB_WITH_X11_FOREGROUND
X11WindowPidLookup CreateX11WindowPidLookup() { return {}; }
#endif
#if !ORB_WITH_SWAY_FOREGROUND
bool SwayForegroundTrackerBuilt() { return false; }
std::unique_ptr<ForegroundTracker> CreateSwayForegroundTracker(const char*, std::string* pError) {
  *pError = "this build has no sway foreground tracker";
  return nullptr;
}
#endif

#if !ORB_WITH_KWIN
bool KWinForegroundTrackerBuilt() { return false; }
std::unique_ptr<ForegroundTracker> CreateKWinForegroundTracker(X11WindowPidLookup, std::string* pError) {
  *pError = "this build has no KWin foreground tracker";
  return nullptr;
}
#endif

#if !ORB_WITH_GNOME
bool GnomeForegroundTrackerBuilt() { return false; }
std::unique_ptr<ForegroundTracker> CreateGnomeForegroundTracker(std::string* pError) {
  *pError = "this build has no GNOME foreground tracker";
  return nullptr;
}
bool GnomeShellExtensionAnswers(std::string* pAdvice) {
  *pAdvice = "this build has no GNOME foreground tracker";
  return false;
}
#endif

namespace {

std::unique_ptr<ForegroundTracker> CreateSway(std::string* pReason) {
  const char* pSocket = SessionEnv("SWAYSOCK");
  if (pSocket == nullptr) {
    *pReason = "no sway IPC socket (SWAYSOCK is not set)";
    return nullptr;
  }
  return CreateSwayForegroundTracker(pSocket, pReason);
}

std::unique_ptr<ForegroundTracker> Chosen(std::unique_ptr<ForegroundTracker> pTracker) {
  WriteLog("Foreground: %s\r\n", pTracker->Name().c_str());
  return pTracker;
}

std::unique_ptr<ForegroundTracker> NoneAvailable(const std::string& reason) {
  WriteLog("Foreground: none (%s)\r\n", reason.c_str());
  return std::make_unique<NullForegroundTracker>();
}

}  // namespace

std::unique_ptr<ForegroundTracker> SelectForegroundTracker() {
  std::string reason;
  const char* pForced = SessionEnv("ORB_FOREGROUND");
  if (pForced != nullptr) {
    if (std::strcmp(pForced, "none") == 0) {
      return NoneAvailable("ORB_FOREGROUND=none");
    }
    if (std::strcmp(pForced, "x11") == 0) {
      auto pTracker = CreateX11ForegroundTracker(&reason);
      return pTracker ? Chosen(std::move(pTracker)) : NoneAvailable("ORB_FOREGROUND=x11: " + reason);
    }
    if (std::strcmp(pForced, "sway") == 0) {
      auto pTracker = CreateSway(&reason);
      return pTracker ? Chosen(std::move(pTracker)) : NoneAvailable("ORB_FOREGROUND=sway: " + reason);
    }
    if (std::strcmp(pForced, "kwin") == 0) {
      auto pTracker = CreateKWinForegroundTracker(CreateX11WindowPidLookup(), &reason);
      return pTracker ? Chosen(std::move(pTracker)) : NoneAvailable("ORB_FOREGROUND=kwin: " + reason);
    }
    if (std::strcmp(pForced, "gnome") == 0) {
      auto pTracker = CreateGnomeForegroundTracker(&reason);
      return pTracker ? Chosen(std::move(pTracker)) : NoneAvailable("ORB_FOREGROUND=gnome: " + reason);
    }
    WriteLog("Foreground: ORB_FOREGROUND=\"%s\" is none of x11, sway, kwin, gnome, none; choosing as usual\r\n",
             pForced);
  }
  if (IsWaylandSession()) {
    // The X server of a Wayland session is XWayland: an X11 tracker would see its windows
    // only, and call every native window "none". The session's own backend or nothing.
    const char* pDesktop = SessionEnv("XDG_CURRENT_DESKTOP");
    if (CurrentDesktopIncludes("KDE")) {
      if (auto pTracker = CreateKWinForegroundTracker(CreateX11WindowPidLookup(), &reason)) {
        return Chosen(std::move(pTracker));
      }
    } else if (CurrentDesktopIncludes("GNOME")) {
      if (auto pTracker = CreateGnomeForegroundTracker(&reason)) {
        return Chosen(std::move(pTracker));
      }
    } else if (auto pTracker = CreateSway(&reason)) {
      return Chosen(std::move(pTracker));
    }
    return NoneAvailable(std::string("Wayland session") + (pDesktop != nullptr ? std::string(" of ") + pDesktop : "") +
                         ": " + reason);
  }
  const char* pDisplay = SessionEnv("DISPLAY");
  if (pDisplay == nullptr) {
    return NoneAvailable("no X display (DISPLAY is not set)");
  }
  auto pTracker = CreateX11ForegroundTracker(&reason);
  return pTracker ? Chosen(std::move(pTracker)) : NoneAvailable(reason);
}

}  // namespace orb::platform
