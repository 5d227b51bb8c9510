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
#if !ORB_WITH_WLR_FOREGROUND
bool WlrForegroundTrackerBuilt() { return false; }
std::unique_ptr<ForegroundTracker> CreateWlrForegroundTracker(const char*, std::string* pError) {
  *pError = "this build has no wlroots foreground tracker";
  return nullptr;
}
#endif

#if !ORB_WITH_HYPRLAND_FOREGROUND
bool HyprlandForegroundTrackerBuilt() { return false; }
std::unique_ptr<ForegroundTracker> CreateHyprlandForegroundTracker(const std::string&, std::string* pError) {
  *pError = "this build has no Hyprland foreground tracker";
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

std::unique_ptr<ForegroundTracker> CreateWlr(std::string* pReason) {
  const char* pDisplay = SessionEnv("WAYLAND_DISPLAY");
  if (pDisplay == nullptr) {
    *pReason = "no Wayland display (WAYLAND_DISPLAY is not set)";
    return nullptr;
  }
  return CreateWlrForegroundTracker(pDisplay, pReason);
}

// Hyprland keeps its sockets under the runtime directory, older releases under /tmp.
std::unique_ptr<ForegroundTracker> CreateHyprland(std::string* pReason) {
  const char* pSignature = SessionEnv("HYPRLAND_INSTANCE_SIGNATURE");
  if (pSignature == nullptr) {
    *pReason = "no Hyprland instance (HYPRLAND_INSTANCE_SIGNATURE is not set)";
    return nullptr;
  }
  if (std::strchr(pSignature, '/') != nullptr || std::strcmp(pSignature, "..") == 0) {
    *pReason = "HYPRLAND_INSTANCE_SIGNATURE is not a plain name";
    return nullptr;
  }
  std::string firstReason;
  if (const char* pRuntime = SessionEnv("XDG_RUNTIME_DIR")) {
    if (auto pTracker = CreateHyprlandForegroundTracker(std::string(pRuntime) + "/hypr/" + pSignature, &firstReason)) {
      return pTracker;
    }
  }
  if (auto pTracker = CreateHyprlandForegroundTracker(std::string("/tmp/hypr/") + pSignature, pReason)) {
    return pTracker;
  }
  if (!firstReason.empty()) *pReason = firstReason;
  return nullptr;
}

std::unique_ptr<ForegroundTracker> CreateKWin(std::string* pReason) {
  return CreateKWinForegroundTracker(CreateX11WindowPidLookup(), pReason);
}

std::unique_ptr<ForegroundTracker> CreateGnome(std::string* pReason) { return CreateGnomeForegroundTracker(pReason); }

// The backends a name forces, and the order a Wayland session tries them in.
struct Backend {
  const char* pName;
  std::unique_ptr<ForegroundTracker> (*create)(std::string* pReason);
};
constexpr Backend kWaylandBackends[] = {{"kwin", &CreateKWin},
                                        {"gnome", &CreateGnome},
                                        {"hyprland", &CreateHyprland},
                                        {"sway", &CreateSway},
                                        {"wlr", &CreateWlr}};

// The desktops whose backend is tried only where they run, rather than named as missing
// everywhere else.
bool RunsHere(const Backend& backend) {
  if (backend.create == &CreateKWin) return CurrentDesktopIncludes("KDE");
  if (backend.create == &CreateGnome) return CurrentDesktopIncludes("GNOME");
  if (backend.create == &CreateHyprland) return SessionEnv("HYPRLAND_INSTANCE_SIGNATURE") != nullptr;
  return true;
}

std::unique_ptr<ForegroundTracker> Chosen(std::unique_ptr<ForegroundTracker> pTracker) {
  WriteLog("Foreground: %s\r\n", pTracker->Name().c_str());
  return pTracker;
}

std::unique_ptr<ForegroundTracker> NoneAvailable(const std::string& reason) {
  WriteLog("Foreground: none (%s)\r\n", reason.c_str());
  // Said once: every profile choice from now on falls to the fallback profile.
  WriteLog("ForegroundTracker: no application is known\r\n");
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
    for (const Backend& backend : kWaylandBackends) {
      if (std::strcmp(pForced, backend.pName) == 0) {
        auto pTracker = backend.create(&reason);
        return pTracker ? Chosen(std::move(pTracker))
                        : NoneAvailable(std::string("ORB_FOREGROUND=") + backend.pName + ": " + reason);
      }
    }
    WriteLog("Foreground: ORB_FOREGROUND=\"%s\" is none of x11, kwin, gnome, hyprland, sway, wlr, none; choosing as "
             "usual\r\n",
             pForced);
  }
  if (IsWaylandSession()) {
    // The X server of a Wayland session is XWayland: an X11 tracker would see its windows
    // only, and call every native window "none". The session's own backend or nothing.
    const char* pDesktop = SessionEnv("XDG_CURRENT_DESKTOP");
    for (const Backend& backend : kWaylandBackends) {
      if (!RunsHere(backend)) continue;
      std::string why;
      if (auto pTracker = backend.create(&why)) {
        return Chosen(std::move(pTracker));
      }
      reason += (reason.empty() ? "" : "; ") + why;
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
