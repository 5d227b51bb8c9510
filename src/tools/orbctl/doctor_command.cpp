#include "tools/orbctl/doctor_command.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/write_log.h"
#include "device/device_discovery.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/hid/hid_backend.h"
#include "platform/keys/key_sink.h"
#include "platform/session/session_type.h"
#include "platform/session/tray_host.h"
#include "platform/time/clock.h"
#include "tools/orbctl/kwin_grant.h"

namespace orb::orbctl {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* pName) {
  const char* pValue = std::getenv(pName);
  return pValue != nullptr ? pValue : "";
}

// The program's own choices write their reasons to the log; doctor reads them from there.
struct LogLines {
  std::vector<std::string> lines;

  static void Observe(void* pContext, const char* pLine, std::size_t nLength) {
    std::string line(pLine, nLength);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    static_cast<LogLines*>(pContext)->lines.push_back(line);
  }

  // The text after the last line starting with `prefix`, or "".
  std::string After(const std::string& prefix) const {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
      if (it->rfind(prefix, 0) == 0) return it->substr(prefix.size());
    }
    return {};
  }
};

class Report {
 public:
  void Ok(const std::string& what) { std::printf("ok    %s\n", what.c_str()); }
  void Info(const std::string& what) { std::printf("      %s\n", what.c_str()); }
  void Fix(const std::string& what, const std::string& how) {
    std::printf("FIX   %s\n      -> %s\n", what.c_str(), how.c_str());
    if (m_first.empty()) m_first = what;
  }
  int Finish() const {
    if (m_first.empty()) {
      std::printf("\neverything ORB needs works here\n");
      return 0;
    }
    std::printf("\nfirst to fix: %s\n", m_first.c_str());
    return 1;
  }

 private:
  std::string m_first;
};

void Session(Report& report) {
  const std::string type = Env("XDG_SESSION_TYPE");
  const std::string desktop = Env("XDG_CURRENT_DESKTOP");
  std::string line = "session: " + (type.empty() ? std::string("type not set") : type);
  if (!desktop.empty()) line += ", desktop " + desktop;
  if (!Env("WAYLAND_DISPLAY").empty()) line += ", WAYLAND_DISPLAY=" + Env("WAYLAND_DISPLAY");
  if (!Env("DISPLAY").empty()) line += ", DISPLAY=" + Env("DISPLAY");
  if (!Env("SWAYSOCK").empty()) line += ", SWAYSOCK set";
  if (!Env("HYPRLAND_INSTANCE_SIGNATURE").empty()) line += ", HYPRLAND_INSTANCE_SIGNATURE set";
  report.Info(line);
}

void Foreground(Report& report, const LogLines& log) {
  const auto pTracker = platform::SelectForegroundTracker();
  const std::string name = pTracker->Name();
  std::string advice;
  if (name == "GNOME" && !platform::GnomeShellExtensionAnswers(&advice)) {
    report.Fix("the application in front is not known (the ORB GNOME Shell extension does not answer)", advice);
    return;
  }
  if (name != "none") {
    report.Ok("application in front: " + name + " (profiles follow the window in front)");
    if (name == "wlr") {
      report.Info("this compositor tells no pid: an application is named by its app_id's desktop entry (its Exec "
                  "program), so a Windows program under Wine is known by its loader, not its .exe");
    }
    return;
  }
  const std::string reason = log.After("Foreground: none (");
  const std::string why = reason.empty() ? std::string() : reason.substr(0, reason.size() - 1);
  std::string how = "start orb inside your desktop session, so that it has its DISPLAY or WAYLAND_DISPLAY";
  if (why.find("Wayland session") != std::string::npos) {
    const std::string desktop = Env("XDG_CURRENT_DESKTOP");
    if (desktop.find("sway") != std::string::npos) {
      how = "start orb from sway (exec in its config), so that it inherits SWAYSOCK";
    } else if (desktop.find("Hyprland") != std::string::npos) {
      how = "start orb from Hyprland (exec-once in its config), so that it inherits HYPRLAND_INSTANCE_SIGNATURE";
    } else if (platform::CurrentDesktopIncludes("KDE")) {
      how = "start orb inside the Plasma session, which gives it the session bus where KWin's scripting answers";
    } else if (platform::CurrentDesktopIncludes("GNOME")) {
      how = "start orb inside your GNOME session, so that it reaches GNOME Shell on the session bus";
    } else {
      how = "this desktop is not yet supported on Wayland: only the fallback profile plays "
            "(log in to an X11 session, or use KDE Plasma, GNOME, sway, Hyprland or another wlroots compositor)";
    }
  }
  report.Fix("the application in front is not known (" + why + ")", how);
}

bool KdeOnWayland() { return platform::IsWaylandSession() && platform::CurrentDesktopIncludes("KDE"); }

void Keys(Report& report) {
  // KWin gives fake_input to orb by its desktop entry, not to orbctl: KWin() judges it.
  if (KdeOnWayland() && platform::KWinKeySinkBuilt()) {
    return;
  }
  const auto pSink = platform::SelectKeySink(platform::RealClock());
  const std::string name = pSink->Name();
  if (name != "none") {
    report.Ok(std::string("key strokes: ") + name);
  } else {
    const std::string reason = platform::KeySinkUnavailableReason();
    report.Fix(reason.empty() ? "no key output" : reason.substr(0, reason.size() - (reason.back() == '.' ? 1 : 0)),
               Env("XDG_CURRENT_DESKTOP").find("GNOME") != std::string::npos
                   ? "start orb inside your GNOME session: mutter's remote desktop service on its session bus takes "
                     "the keys"
                   : "run orb in an X11 session, or on sway or another wlroots compositor, or give your user write "
                     "access to /dev/uinput (see README, \"Wayland\")");
  }
  const bool blUinput = ::access("/dev/uinput", W_OK) == 0;
  report.Info(std::string("/dev/uinput: ") + (blUinput ? "writable" : "not writable") +
              " (needed only where neither X11 nor the compositor takes our keys)");
  if (!blUinput && name == "none") {
    report.Info("to let your seat's user write it: sudo cp /usr/share/orb/udev/71-orb-uinput.rules "
                "/etc/udev/rules.d/ (README, \"Wayland\", says what that allows)");
  }
}

// Without a notification area the program still works (start it again and its window
// opens), so this is said, not counted as a thing to fix.
void Tray(Report& report) {
  const platform::TrayHost host = platform::FindTrayHost();
  if (host.blFound) {
    report.Ok("tray: " + host.sWhat);
  } else {
    report.Info("tray: no notification area (" + host.sWhat +
                "): ORB runs without its icon; start `orb` again to open its window, or add a tray to "
                "your panel (on GNOME an AppIndicator extension, on sway swaybar's tray)");
  }
}

// What a KDE Plasma session on Wayland needs beyond the choices above: KWin's scripting
// on the session bus (the application in front) and the desktop entry by which KWin gives
// us fake_input (the keys).
void KWin(Report& report) {
  if (!KdeOnWayland() || !platform::KWinKeySinkBuilt()) {
    return;
  }
  std::string error;
  auto pBus = platform::dbus::Connection::OpenSession(&error);
  if (pBus && pBus->Call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded",
                         {std::string("orb-doctor")}, nullptr, &error, 2000)) {
    report.Ok("KWin scripting answers on the session bus");
  } else {
    report.Fix("KWin scripting does not answer (" + error + ")",
               "run orb (and orbctl doctor) inside the Plasma session, which gives it DBUS_SESSION_BUS_ADDRESS");
  }
  std::error_code ignored;
  const std::string program = (fs::read_symlink("/proc/self/exe", ignored).parent_path() / "orb").string();
  const FakeInputGrant grant = FindFakeInputGrant(program, DesktopDataDirs());
  if (!grant.entry.empty()) {
    report.Ok("key strokes: KWin fake input, granted to " + program + " by " + grant.entry);
  } else {
    report.Fix("no key output: KWin will not grant fake_input to " + program + ": " + grant.why,
               "install ORB's package (it brings orb-kwin.desktop), or copy that entry into "
               "~/.local/share/applications with Exec=" + program + "; then log in again");
  }
}

void Controllers(Report& report) {
  platform::HidBackend& backend = platform::CurrentHidBackend();
  int nFound = 0;
  for (const platform::HidDeviceInfo& info : backend.Enumerate()) {
    if (!IsKnownController(info.nVendorId, info.nProductId)) continue;
    ++nFound;
    const std::string problem = backend.OpenProblem(info.sPath);
    char line[256];
    std::snprintf(line, sizeof line, "controller %04X:%04X at %s", info.nVendorId, info.nProductId, info.sPath.c_str());
    if (problem.empty()) {
      report.Ok(std::string(line) + ": opens");
    } else {
      report.Fix(std::string(line) + " cannot be opened", problem);
    }
  }
  if (nFound == 0) {
    report.Fix("no controller found (" + backend.Name() + ")",
               "plug the controller in; `orbctl hid list` shows every HID device");
  }
}

void Paths(Report& report) {
  const std::string home = Env("HOME");
  const std::string config = !Env("XDG_CONFIG_HOME").empty() ? Env("XDG_CONFIG_HOME") : home + "/.config";
  const auto describe = [](const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error)) return std::string(" (not there yet)");
    return ::access(path.c_str(), W_OK) == 0 ? std::string(" (there, writable)") : std::string(" (there, NOT writable)");
  };
  const fs::path folder = fs::path(config) / "TARN" / "ORB";
  report.Info("data file started from the menu or at login: " + (folder / "ORB.DAT").string() +
              describe(folder / "ORB.DAT"));
  report.Info("data file started from a shell: ORB.DAT in the current directory" + describe("ORB.DAT"));
  const fs::path settings = fs::path(config) / "TARN" / "ORB.conf";
  report.Info("settings: " + settings.string() + describe(settings));
}

}  // namespace

int RunDoctorCommand(const Args& args) {
  if (!args.empty()) {
    std::fprintf(args[0] == "--help" ? stdout : stderr,
                 "usage: orbctl doctor\n"
                 "Says what works for ORB in this session and what to do about what does not.\n"
                 "Exit status 0 when everything works, 1 with the first thing to fix named.\n");
    return args[0] == "--help" ? 0 : 2;
  }
  LogLines log;
  SetLogObserver(&LogLines::Observe, &log);
  Report report;
  Session(report);
  Keys(report);
  Foreground(report, log);
  KWin(report);
  Controllers(report);
  Tray(report);
  Paths(report);
  SetLogObserver(nullptr, nullptr);
  return report.Finish();
}

}  // namespace orb::orbctl
