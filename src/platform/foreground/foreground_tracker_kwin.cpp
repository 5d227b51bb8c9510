// The window in front under KWin (Plasma 5.27 and 6): KWin tells nobody outside which
// window is active, but it runs scripts. We load one over its scripting service that calls
// us back on our own bus name at every activation, with the window's pid; the script goes
// when we do. Only KWin's own connection is believed.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "base/write_log.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/kwin_script.h"
#include "platform/process/process_start.h"

namespace orb::platform {
namespace {

constexpr const char* kKWinService = "org.kde.KWin";
constexpr const char* kScriptingPath = "/Scripting";
constexpr const char* kScriptingInterface = "org.kde.kwin.Scripting";
// How long start-up waits for the script's first word (the window active at its start).
constexpr int kFirstActivationMs = 1500;
// KWin is asked at the end with this much patience: the program is on its way out.
constexpr int kUnloadTimeoutMs = 1000;

bool WriteScriptFile(const std::string& path, const std::string& text, std::string* pError) {
  // Our own file, created afresh: another user's or an older one is never written through.
  ::unlink(path.c_str());
  const int nFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (nFd < 0) {
    *pError = "cannot create the KWin script " + path + ": " + std::strerror(errno);
    return false;
  }
  std::size_t nDone = 0;
  while (nDone < text.size()) {
    const ssize_t n = ::write(nFd, text.data() + nDone, text.size() - nDone);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *pError = "cannot write the KWin script " + path + ": " + std::strerror(errno);
      ::close(nFd);
      return false;
    }
    nDone += static_cast<std::size_t>(n);
  }
  ::close(nFd);
  return true;
}

class KWinForegroundTracker final : public ForegroundTracker {
 public:
  explicit KWinForegroundTracker(std::unique_ptr<dbus::Connection> pBus) : m_pBus(std::move(pBus)) {}

  ~KWinForegroundTracker() override {
    if (m_blLoaded) {
      std::string error;
      if (!m_pBus->Call(kKWinService, kScriptingPath, kScriptingInterface, "unloadScript", {m_pluginName}, nullptr,
                        &error, kUnloadTimeoutMs)) {
        WriteLog("ForegroundTracker: the KWin script was not unloaded: %s\r\n", error.c_str());
      }
    }
    if (!m_scriptPath.empty()) {
      ::unlink(m_scriptPath.c_str());
    }
  }

  bool Start(std::string* pError) {
    m_kwinOwner = m_pBus->NameOwner(kKWinService, pError);
    if (m_kwinOwner.empty()) {
      *pError = "KWin is not on the session bus (" + *pError + ")";
      return false;
    }
    if (!m_pBus->ExportMethod(
            kwin::kCallbackPath, kwin::kCallbackInterface, kwin::kCallbackMember,
            [this](const dbus::Message& message) { return OnActivated(message); }, pError)) {
      return false;
    }
    const std::string text = kwin::ScriptText(m_pBus->UniqueName());
    if (text.empty()) {
      *pError = "the bus gave us a name a script cannot carry: " + m_pBus->UniqueName();
      return false;
    }
    const char* pRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pRuntime == nullptr || pRuntime[0] != '/') {
      *pError = "XDG_RUNTIME_DIR is not set: no private place for the KWin script";
      return false;
    }
    m_pluginName = "orb-foreground-" + std::to_string(::getpid());
    m_scriptPath = std::string(pRuntime) + "/" + m_pluginName + ".js";
    if (!WriteScriptFile(m_scriptPath, text, pError)) {
      m_scriptPath.clear();
      return false;
    }
    // A script of that name is an earlier process's with our pid: it calls a name that is gone.
    dbus::Values reply;
    if (m_pBus->Call(kKWinService, kScriptingPath, kScriptingInterface, "isScriptLoaded", {m_pluginName}, &reply,
                     pError) &&
        !reply.empty() && reply[0] == dbus::Value(true)) {
      m_pBus->Call(kKWinService, kScriptingPath, kScriptingInterface, "unloadScript", {m_pluginName}, nullptr, pError);
    }
    if (!m_pBus->Call(kKWinService, kScriptingPath, kScriptingInterface, "loadScript", {m_scriptPath, m_pluginName},
                      &reply, pError)) {
      *pError = "KWin's scripting does not answer: " + *pError;
      return false;
    }
    const auto* pId = reply.empty() ? nullptr : std::get_if<std::int32_t>(&reply[0]);
    if (pId == nullptr || *pId < 0) {
      *pError = "KWin refused the script " + m_scriptPath;
      return false;
    }
    m_blLoaded = true;
    if (!m_pBus->Call(kKWinService, kScriptingPath, kScriptingInterface, "start", {}, nullptr, pError)) {
      *pError = "KWin did not start the script: " + *pError;
      return false;
    }
    return true;
  }

  ForegroundWindow Current() override {
    // The script's first call names the window active at its start; it may still be on its way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstActivationMs);
    DispatchQuietly();
    while (!m_blHeard && !m_blBroken) {
      const auto nLeft =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (nLeft <= 0) {
        WriteLog("ForegroundTracker: KWin's script has not named the active window yet\r\n");
        break;
      }
      pollfd waiter{m_pBus->Fd(), POLLIN, 0};
      ::poll(&waiter, 1, static_cast<int>(nLeft));
      DispatchQuietly();
    }
    return m_last;
  }

  void SetListener(Listener listener) override { m_listener = std::move(listener); }

  int Fd() const override { return m_pBus->Fd(); }

  void Dispatch() override {
    m_blTell = true;
    DispatchBus();
  }

  std::string Name() const override { return "KWin"; }

 private:
  void DispatchQuietly() {
    m_blTell = false;
    DispatchBus();
    m_blTell = true;
  }

  void DispatchBus() {
    if (m_blBroken) {
      return;
    }
    std::string error;
    if (!m_pBus->Dispatch(&error)) {
      m_blBroken = true;
      WriteLog("ForegroundTracker: %s; the application in front is no longer followed\r\n", error.c_str());
    }
  }

  dbus::MethodResult OnActivated(const dbus::Message& message) {
    // Anyone on the session bus can call us; only KWin knows what is in front.
    if (message.sender != m_kwinOwner) {
      WriteLog("ForegroundTracker: an activation from %s, not KWin, ignored\r\n", message.sender.c_str());
      return dbus::MethodResult::Error("org.freedesktop.DBus.Error.AccessDenied", "only KWin tells this");
    }
    std::string reason;
    const auto activation = kwin::ParseActivation(message.args, &reason);
    if (!activation) {
      WriteLog("ForegroundTracker: KWin's script sent %s\r\n", reason.c_str());
      return dbus::MethodResult::Error("org.freedesktop.DBus.Error.InvalidArgs", reason);
    }
    m_blHeard = true;
    ForegroundWindow next;
    next.nWindow = activation->nWindow;
    next.nPid = activation->nPid;
    next.nStartTime = next.nPid > 0 ? ProcessStartTime(next.nPid) : 0;
    if (next != m_last) {
      m_last = next;
      if (m_blTell && m_listener) {
        m_listener(m_last);
      }
    }
    return dbus::MethodResult::Ok();
  }

  std::unique_ptr<dbus::Connection> m_pBus;
  std::string m_kwinOwner;  // KWin's unique name: the only caller believed
  std::string m_pluginName;
  std::string m_scriptPath;
  bool m_blLoaded = false;
  bool m_blHeard = false;
  bool m_blBroken = false;
  bool m_blTell = true;
  ForegroundWindow m_last;
  Listener m_listener;
};

}  // namespace

bool KWinForegroundTrackerBuilt() { return true; }

std::unique_ptr<ForegroundTracker> CreateKWinForegroundTracker(std::string* pError) {
  auto pBus = dbus::Connection::OpenSession(pError);
  if (!pBus) {
    return nullptr;
  }
  auto pTracker = std::make_unique<KWinForegroundTracker>(std::move(pBus));
  if (!pTracker->Start(pError)) {
    return nullptr;
  }
  return pTracker;
}

}  // namespace orb::platform
