// The window in front under wlroots compositors that speak no sway IPC (labwc, river,
// wayfire): the foreign-toplevel list (zwlr_foreign_toplevel_management_v1) on a Wayland
// connection of our own. It says which top-level window is activated and its app_id, but
// not its process: the application is named from the app_id's desktop entry instead
// (desktop_entry.h), and the front carries no pid.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <list>
#include <string>
#include <utility>

#include "base/write_log.h"
#include "platform/foreground/desktop_entry.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/process/app_name.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace orb::platform {
namespace {

constexpr std::uint32_t kManagerVersion = 3;

// This program's own executable's file name ("orb"), so that its own window can be known
// as its own without a pid: the toolkit makes that name the window's app_id.
std::string OwnProgramName() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  bool blDeleted = false;
  return std::string(FileNameOf(StripDeletedSuffix(std::string_view(path, static_cast<std::size_t>(n)), &blDeleted)));
}

class WlrForegroundTracker final : public ForegroundTracker {
 public:
  explicit WlrForegroundTracker(wl_display* pDisplay)
      : m_pDisplay(pDisplay), m_folders(DesktopEntryFolders()), m_ownProgram(OwnProgramName()) {}

  ~WlrForegroundTracker() override {
    for (Toplevel& toplevel : m_toplevels) zwlr_foreign_toplevel_handle_v1_destroy(toplevel.pHandle);
    if (m_pManager != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(m_pManager);
    if (m_pRegistry != nullptr) wl_registry_destroy(m_pRegistry);
    wl_display_disconnect(m_pDisplay);
  }

  // Binds the toplevel manager and takes in the windows there are now; false with the
  // reason when the compositor offers no such list.
  bool Start(std::string* pError) {
    m_pRegistry = wl_display_get_registry(m_pDisplay);
    wl_registry_add_listener(m_pRegistry, &kRegistryListener, this);
    if (wl_display_roundtrip(m_pDisplay) < 0) {
      *pError = "the Wayland display did not answer";
      return false;
    }
    if (m_pManager == nullptr) {
      *pError = "the Wayland compositor offers no list of windows (zwlr_foreign_toplevel_manager_v1)";
      return false;
    }
    // The first answer announces the windows, the second brings their app_ids and states.
    if (wl_display_roundtrip(m_pDisplay) < 0 || wl_display_roundtrip(m_pDisplay) < 0) {
      *pError = "the Wayland compositor did not list its windows";
      return false;
    }
    return true;
  }

  ForegroundWindow Current() override {
    ReadPending(/*blTell=*/false);
    return m_last;
  }

  void SetListener(Listener listener) override { m_listener = std::move(listener); }

  int Fd() const override { return wl_display_get_fd(m_pDisplay); }

  void Dispatch() override { ReadPending(/*blTell=*/true); }

  std::string Name() const override { return "wlr"; }

 private:
  struct Toplevel {
    WlrForegroundTracker* pOwner = nullptr;
    zwlr_foreign_toplevel_handle_v1* pHandle = nullptr;
    std::uint64_t nId = 0;
    std::string appId;  // as of the last done
    std::string application;
    bool blActivated = false;
    std::string pendingAppId;
    bool blPendingActivated = false;
    bool blPendingState = false;
    bool blPendingAppId = false;
  };

  static void OnGlobal(void* pData, wl_registry* pRegistry, std::uint32_t nName, const char* pInterface,
                       std::uint32_t nVersion) {
    auto* pSelf = static_cast<WlrForegroundTracker*>(pData);
    if (std::strcmp(pInterface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 && pSelf->m_pManager == nullptr) {
      pSelf->m_pManager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
          pRegistry, nName, &zwlr_foreign_toplevel_manager_v1_interface, std::min(nVersion, kManagerVersion)));
      zwlr_foreign_toplevel_manager_v1_add_listener(pSelf->m_pManager, &kManagerListener, pSelf);
    }
  }
  static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kRegistryListener{&OnGlobal, &OnGlobalRemove};

  static void OnToplevel(void* pData, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* pHandle) {
    auto* pSelf = static_cast<WlrForegroundTracker*>(pData);
    Toplevel& toplevel = pSelf->m_toplevels.emplace_back();
    toplevel.pOwner = pSelf;
    toplevel.pHandle = pHandle;
    toplevel.nId = ++pSelf->m_nLastId;  // handles are objects of ours; our own count names them
    zwlr_foreign_toplevel_handle_v1_add_listener(pHandle, &kHandleListener, &toplevel);
  }
  static void OnFinished(void* pData, zwlr_foreign_toplevel_manager_v1*) {
    static_cast<WlrForegroundTracker*>(pData)->Broken("the compositor stopped listing windows");
  }
  static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{&OnToplevel, &OnFinished};

  static void OnTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
  static void OnAppId(void* pData, zwlr_foreign_toplevel_handle_v1*, const char* pAppId) {
    auto* pToplevel = static_cast<Toplevel*>(pData);
    pToplevel->pendingAppId = pAppId != nullptr ? pAppId : "";
    pToplevel->blPendingAppId = true;
  }
  static void OnOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void OnState(void* pData, zwlr_foreign_toplevel_handle_v1*, wl_array* pStates) {
    auto* pToplevel = static_cast<Toplevel*>(pData);
    bool blActivated = false;
    const std::size_t nCount = pStates->size / sizeof(std::uint32_t);
    for (std::size_t i = 0; i < nCount; ++i) {
      std::uint32_t nState = 0;
      std::memcpy(&nState, static_cast<const char*>(pStates->data) + i * sizeof nState, sizeof nState);
      blActivated = blActivated || nState == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    }
    pToplevel->blPendingActivated = blActivated;
    pToplevel->blPendingState = true;
  }
  static void OnDone(void* pData, zwlr_foreign_toplevel_handle_v1*) {
    auto* pToplevel = static_cast<Toplevel*>(pData);
    if (pToplevel->blPendingAppId) {
      pToplevel->appId = std::move(pToplevel->pendingAppId);
      pToplevel->application = ApplicationOfAppId(pToplevel->appId, pToplevel->pOwner->m_folders);
      pToplevel->blPendingAppId = false;
    }
    if (pToplevel->blPendingState) {
      pToplevel->blActivated = pToplevel->blPendingActivated;
      pToplevel->blPendingState = false;
    }
    pToplevel->pOwner->m_blChanged = true;
  }
  static void OnClosed(void* pData, zwlr_foreign_toplevel_handle_v1*) {
    auto* pToplevel = static_cast<Toplevel*>(pData);
    WlrForegroundTracker* pSelf = pToplevel->pOwner;
    zwlr_foreign_toplevel_handle_v1_destroy(pToplevel->pHandle);
    pSelf->m_toplevels.remove_if([pToplevel](const Toplevel& t) { return &t == pToplevel; });
    pSelf->m_blChanged = true;
  }
  static void OnParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
  static constexpr zwlr_foreign_toplevel_handle_v1_listener kHandleListener{
      &OnTitle, &OnAppId, &OnOutput, &OnOutput, &OnState, &OnDone, &OnClosed, &OnParent};

  // What is activated now. No window activated (a switch under way, an empty workspace)
  // is "no window", which the core takes as no change.
  ForegroundWindow Front() {
    ForegroundWindow front;
    for (const Toplevel& toplevel : m_toplevels) {
      if (!toplevel.blActivated) continue;
      front.nWindow = toplevel.nId;
      front.sApplication = toplevel.application;
      // The only process known without a pid: this one, whose toolkit names its window
      // after its executable.
      if (!m_ownProgram.empty() &&
          (toplevel.appId == m_ownProgram || toplevel.application == AppNameOf(m_ownProgram))) {
        front.nPid = static_cast<int>(::getpid());
      }
    }
    return front;
  }

  void ReadPending(bool blTell) {
    if (m_blBroken) return;
    bool blOk = true;
    while (blOk && wl_display_prepare_read(m_pDisplay) != 0) {
      blOk = wl_display_dispatch_pending(m_pDisplay) >= 0;
    }
    if (blOk) {
      wl_display_flush(m_pDisplay);
      pollfd waiter{wl_display_get_fd(m_pDisplay), POLLIN, 0};
      if (::poll(&waiter, 1, 0) > 0) {
        blOk = wl_display_read_events(m_pDisplay) >= 0;
      } else {
        wl_display_cancel_read(m_pDisplay);
      }
      blOk = blOk && wl_display_dispatch_pending(m_pDisplay) >= 0;
    }
    if (!blOk || wl_display_get_error(m_pDisplay) != 0) {
      const int nError = wl_display_get_error(m_pDisplay);
      Broken(std::string("the Wayland connection ended: ") + std::strerror(nError != 0 ? nError : EPIPE));
      return;
    }
    if (!m_blChanged) return;
    m_blChanged = false;
    const ForegroundWindow next = Front();
    if (next == m_last) return;
    m_last = next;
    if (m_last.nWindow != 0 && m_last.nPid == 0 && !m_blNoPidLogged) {
      m_blNoPidLogged = true;
      WriteLog("ForegroundTracker: the compositor tells no pid; applications are named from their app_id's "
               "desktop entry\r\n");
    }
    if (blTell && m_listener) m_listener(m_last);
  }

  // As with sway: a connection at its end reads as ready for ever, so its fd number is
  // pointed at a pipe that never becomes readable and the main loop goes quiet.
  void Broken(const std::string& reason) {
    if (m_blBroken) return;
    m_blBroken = true;
    WriteLog("ForegroundTracker: %s; the application in front is no longer followed\r\n", reason.c_str());
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) == 0) {
      ::dup3(pipeFds[0], wl_display_get_fd(m_pDisplay), O_CLOEXEC);
      ::close(pipeFds[0]);
      m_quietWriteEnd = UniqueFd(pipeFds[1]);
    }
    if (m_last != ForegroundWindow{}) {
      m_last = ForegroundWindow{};
      if (m_listener) m_listener(m_last);
    }
  }

  wl_display* m_pDisplay;
  wl_registry* m_pRegistry = nullptr;
  zwlr_foreign_toplevel_manager_v1* m_pManager = nullptr;
  std::list<Toplevel> m_toplevels;  // a list: the handles' listeners point at the elements
  std::uint64_t m_nLastId = 0;
  const std::vector<std::string> m_folders;
  const std::string m_ownProgram;
  bool m_blChanged = false;
  bool m_blBroken = false;
  bool m_blNoPidLogged = false;
  UniqueFd m_quietWriteEnd;
  ForegroundWindow m_last;
  Listener m_listener;
};

}  // namespace

bool WlrForegroundTrackerBuilt() { return true; }

std::unique_ptr<ForegroundTracker> CreateWlrForegroundTracker(const char* pDisplayName, std::string* pError) {
  std::string ignored;
  std::string& error = pError != nullptr ? *pError : ignored;
  wl_display* pDisplay = wl_display_connect(pDisplayName);
  if (pDisplay == nullptr) {
    error = std::string("cannot connect to the Wayland display \"") + (pDisplayName != nullptr ? pDisplayName : "") +
            "\": " + std::strerror(errno);
    return nullptr;
  }
  auto pTracker = std::make_unique<WlrForegroundTracker>(pDisplay);
  if (!pTracker->Start(&error)) return nullptr;
  return pTracker;
}

}  // namespace orb::platform
