// The window in front under GNOME on Wayland. Mutter tells no client which window has the
// focus, so our shell extension (resources/gnome-shell) says it on the session bus: a
// FocusChanged signal per change, and GetFocus for the window in front now. We listen only
// to the process that owns org.gnome.Shell, so no other client of the bus can choose our
// profile. The reports are judged by gnome_focus.*; this file only moves them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "base/unique_fd.h"
#include "base/write_log.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/gnome_focus.h"
#include "platform/process/process_start.h"

namespace orb::platform {
namespace {

// How long a question to the shell may take before we go on without its answer: at the
// start of a desktop session the shell is busy starting too.
constexpr int kCallTimeoutMs = 10000;

// The extension made for the running shell: its format changed at GNOME 45.
std::string ExtensionUuidFor(dbus::Connection& bus) {
  dbus::Values reply;
  std::string error;
  if (bus.Call(gnome::kShellName, "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Get",
               {std::string("org.gnome.Shell"), std::string("ShellVersion")}, &reply, &error, kCallTimeoutMs) &&
      !reply.empty()) {
    if (const auto* pVersion = std::get_if<std::string>(&reply[0]); pVersion != nullptr) {
      if (std::atoi(pVersion->c_str()) < 45 && std::atoi(pVersion->c_str()) > 0) {
        return ORB_GNOME_LEGACY_EXTENSION_UUID;
      }
    }
  }
  return ORB_GNOME_EXTENSION_UUID;
}

std::string EnableAdvice(const std::string& uuid) {
  return "enable the GNOME Shell extension with `gnome-extensions enable " + uuid +
         "` (effective at the next login)";
}

// The window in front as the extension's GetFocus tells it; false with the reason when it
// does not answer (not installed, not enabled, an older shell than it knows).
bool AskFocus(dbus::Connection& bus, const std::string& shellOwner, gnome::FocusReport* pReport,
              std::string* pError) {
  dbus::Values reply;
  if (!bus.Call(shellOwner, gnome::kFocusPath, gnome::kFocusInterface, "GetFocus", {}, &reply, pError,
                kCallTimeoutMs)) {
    return false;
  }
  const auto* pPayload = reply.empty() ? nullptr : std::get_if<std::string>(&reply[0]);
  if (pPayload == nullptr) {
    *pError = "GetFocus answered without a report";
    return false;
  }
  auto report = gnome::ParseFocusPayload(*pPayload, pError);
  if (!report) {
    return false;
  }
  *pReport = std::move(*report);
  return true;
}

class GnomeForegroundTracker final : public ForegroundTracker {
 public:
  GnomeForegroundTracker(std::unique_ptr<dbus::Connection> pBus, std::string shellOwner)
      : m_pBus(std::move(pBus)), m_shellOwner(std::move(shellOwner)) {}

  bool Subscribe(std::string* pError) {
    return m_pBus->SubscribeSignal(
        m_shellOwner, gnome::kFocusPath, gnome::kFocusInterface, "FocusChanged",
        [this](const dbus::Message& message) { OnFocusChanged(message); }, pError);
  }

  // Says once, at start, when the extension does not answer; the subscription stands, so
  // that an extension enabled later is heard from its first report on.
  void CheckExtension() {
    gnome::FocusReport report;
    std::string error;
    if (AskFocus(*m_pBus, m_shellOwner, &report, &error)) {
      return;
    }
    WriteLog("ForegroundTracker: the GNOME Shell extension does not answer (%s); no application is known "
             "until it does: %s\r\n",
             error.c_str(), EnableAdvice(ExtensionUuidFor(*m_pBus)).c_str());
  }

  ForegroundWindow Current() override {
    if (m_blBroken) {
      return m_last;
    }
    // Reports already here are older than the answer to come.
    m_blTell = false;
    DispatchBus();
    gnome::FocusReport report;
    std::string error;
    if (!m_blBroken && AskFocus(*m_pBus, m_shellOwner, &report, &error)) {
      m_last = WithStartTime(report.window);
      LogNoPid(report);
      // Of the reports that came while we waited, those the answer already counts are older.
      m_nSkipUpTo = report.nSequence;
      DispatchBus();
      m_nSkipUpTo = 0;
    }
    m_blTell = true;
    return m_last;
  }

  void SetListener(Listener listener) override { m_listener = std::move(listener); }

  int Fd() const override { return m_pBus->Fd(); }

  void Dispatch() override {
    if (!m_blBroken) {
      DispatchBus();
    }
  }

  std::string Name() const override { return "GNOME"; }

 private:
  void DispatchBus() {
    std::string error;
    if (!m_pBus->Dispatch(&error)) {
      Broken(error);
    }
  }

  void OnFocusChanged(const dbus::Message& message) {
    // The bus filters by sender already; a report from anyone else is not the shell's.
    if (message.sender != m_shellOwner) {
      return;
    }
    const auto* pPayload = message.args.empty() ? nullptr : std::get_if<std::string>(&message.args[0]);
    std::string reason;
    const auto report = pPayload != nullptr ? gnome::ParseFocusPayload(*pPayload, &reason) : std::nullopt;
    if (!report) {
      if (!m_blBadReportLogged) {
        m_blBadReportLogged = true;
        WriteLog("ForegroundTracker: the GNOME Shell extension sent %s; such reports are ignored\r\n",
                 pPayload != nullptr ? reason.c_str() : "a report that is no string");
      }
      return;
    }
    if (report->nSequence != 0 && report->nSequence <= m_nSkipUpTo) {
      return;
    }
    LogNoPid(*report);
    // A pid taken over by a new program is a new application too.
    const ForegroundWindow next = WithStartTime(report->window);
    if (next == m_last) {
      return;
    }
    m_last = next;
    if (m_blTell && m_listener) {
      m_listener(m_last);
    }
  }

  // A window whose process the shell cannot name gets the fallback profile; say why, once
  // per class.
  void LogNoPid(const gnome::FocusReport& report) {
    if (report.window.nWindow == 0 || report.window.nPid != 0 || report.wmClass == m_noPidClassLogged) {
      return;
    }
    m_noPidClassLogged = report.wmClass;
    WriteLog("ForegroundTracker: GNOME names no process for the window of class \"%s\"\r\n", report.wmClass.c_str());
  }

  // The bus is gone (the session ends). The main loop keeps watching our fd, and a socket at
  // its end reads as ready for ever: the fd number is pointed at a pipe that never becomes
  // readable, so the loop goes quiet.
  void Broken(const std::string& reason) {
    m_blBroken = true;
    WriteLog("ForegroundTracker: the session bus connection ended (%s); the application in front is no longer "
             "followed\r\n",
             reason.c_str());
    int pipeFds[2];
    if (m_pBus->Fd() >= 0 && ::pipe2(pipeFds, O_CLOEXEC) == 0) {
      ::dup3(pipeFds[0], m_pBus->Fd(), O_CLOEXEC);
      ::close(pipeFds[0]);
      m_quietWriteEnd = UniqueFd(pipeFds[1]);
    }
    if (m_last != ForegroundWindow{}) {
      m_last = ForegroundWindow{};
      if (m_listener) {
        m_listener(m_last);
      }
    }
  }

  static ForegroundWindow WithStartTime(ForegroundWindow front) {
    front.nStartTime = front.nPid != 0 ? ProcessStartTime(front.nPid) : 0;
    return front;
  }

  std::unique_ptr<dbus::Connection> m_pBus;
  const std::string m_shellOwner;  // the unique name of org.gnome.Shell's owner
  UniqueFd m_quietWriteEnd;         // kept open so that the pipe never reads as ended
  ForegroundWindow m_last;
  Listener m_listener;
  bool m_blTell = true;
  std::uint64_t m_nSkipUpTo = 0;  // while Current() reads what came with its answer
  bool m_blBroken = false;
  bool m_blBadReportLogged = false;
  std::string m_noPidClassLogged;
};

}  // namespace

bool GnomeForegroundTrackerBuilt() { return true; }

std::unique_ptr<ForegroundTracker> CreateGnomeForegroundTracker(std::string* pError) {
  auto pBus = dbus::Connection::OpenSession(pError);
  if (pBus == nullptr) {
    return nullptr;
  }
  std::string error;
  const std::string owner = pBus->NameOwner(gnome::kShellName, &error);
  if (owner.empty()) {
    *pError = "GNOME Shell is not on the session bus (" + error + ")";
    return nullptr;
  }
  auto pTracker = std::make_unique<GnomeForegroundTracker>(std::move(pBus), owner);
  if (!pTracker->Subscribe(pError)) {
    return nullptr;
  }
  pTracker->CheckExtension();
  return pTracker;
}

bool GnomeShellExtensionAnswers(std::string* pAdvice) {
  std::string error;
  auto pBus = dbus::Connection::OpenSession(&error);
  if (pBus == nullptr) {
    *pAdvice = "start orb inside your GNOME session (" + error + ")";
    return false;
  }
  const std::string owner = pBus->NameOwner(gnome::kShellName, &error);
  if (owner.empty()) {
    *pAdvice = "GNOME Shell is not on this session bus (" + error + ")";
    return false;
  }
  gnome::FocusReport report;
  if (AskFocus(*pBus, owner, &report, &error)) {
    return true;
  }
  *pAdvice = EnableAdvice(ExtensionUuidFor(*pBus));
  return false;
}

}  // namespace orb::platform
