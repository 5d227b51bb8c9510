#pragma once
// The main window's state and handlers that are not drawing: the profile store, the
// choice of profile for the application in front, the controller's connection and the
// device threads. CMainDialog owns one and drives it from its timers, notifiers and
// posted messages; the core reaches the window only through ResidentView and by posting
// to its MessageTarget. Main thread only, except what the device thread reads
// (m_pCurProfile, m_blSelf, the live table).
//
// The controller's connection:
//   Disconnected  start; OnDeviceRemoved          -> Connected by ConnectController
//   Connected     ConnectController opened it     -> Disconnected by OnDeviceRemoved
//   Ended         Destroy
// ConnectController runs when the device monitor reports an arrival, at start-up, and
// on a slow poll while a supported controller is present but cannot be opened.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "base/string_table.h"
#include "base/unique_fd.h"
#include "device/hid_device_record.h"
#include "engine/device_thread.h"
#include "platform/process/app_info.h"
#include "profiles/host_library.h"
#include "profiles/profile_store.h"

namespace orb {

class EditorLink;
class MessageTarget;
class ResidentView;

namespace platform {
class Clock;
class KeySink;
}  // namespace platform

struct ResidentConfig {
  std::filesystem::path dataFile = "ORB.DAT";
  std::span<const std::uint8_t> defaultTable;
  UiLanguage language = UiLanguage::English;
  int nOwnPid = 0;
  platform::KeySink* pKeySink = nullptr;
  platform::Clock* pClock = nullptr;
  // The application information of a process id; false when it cannot be read. Unset:
  // the real one, from /proc.
  std::function<bool(int nPid, platform::AppInfo*)> getAppInfo;
  // The host library link's sleep (tests pass one that does not sleep).
  CHostLibraryLink::SleepFunction hostSleep;
  // Handed to the device thread (DeviceThreadParams::pfnProfileLoaded); tests only.
  void (*pfnProfileLoaded)() = nullptr;
  // The link to a companion editor; none: no editor can take the table.
  EditorLink* pEditorLink = nullptr;
  // The process id of a running companion editor, 0 for none. Unset: looked for in /proc.
  std::function<int()> findEditor;
};

class CResidentCore final {
 public:
  CResidentCore(ResidentView& view, MessageTarget& window, ResidentConfig config);
  ~CResidentCore();
  CResidentCore(const CResidentCore&) = delete;
  CResidentCore& operator=(const CResidentCore&) = delete;

  // Initialisation: the store is loaded and nothing is modified; the window in front at
  // start counts as already seen, so the first choice of profile comes from a change of
  // application or from the controller being connected.
  void Initialise(std::uint64_t nFrontWindow, int nFrontPid, std::uint64_t nFrontStartTime,
                  const std::string& sFrontApplication = {});

  // The window in front changed. A different process sets m_blSelf and posts
  // WM_SELECTPROFILE; another window of the same process changes nothing. A process is its
  // pid and its start time (0: unknown), as pids are reused. A backend that knows no pid
  // may name the application itself (sApplication, as GetAppInfo names an executable);
  // then that name is the process.
  void CheckForegroundWindow(std::uint64_t nWindow, int nPid, std::uint64_t nStartTime,
                             const std::string& sApplication = {});
  // Every 100 ms while asked for (ResidentView::SetHostModePolling): the host-mode
  // profile's editor is asked for its mode again.
  void PollHostMode();

  // Posted-message handlers.
  void OnSelectProfile();
  void OnModeChange(std::uintptr_t wParam);
  void OnDeviceRemoved();

  // True when a controller is connected after the call (it may have been before).
  bool ConnectController();
  // A supported controller is listed but not open (it could not be opened): the window
  // then polls ConnectController until it opens.
  bool ControllerPresentButClosed();

  // The tray menu's "Set to &default".
  void OnSetDefault();
  void SetModified(bool blModified);
  bool SaveProfiles();
  // OK/Cancel/Apply of the settings window use these with SaveProfiles.
  void CancelEdits();

  // A message of the editor link (OnMsgFromZUDAdor): the command word, the sender's
  // endpoint (m_hEditorWnd from now on), the block that came with LINK_CREATE_MEMORY and
  // the sender's process id as the kernel gave it (0: unknown, the sender is not watched).
  void OnEditorMessage(std::uint32_t dwWParam, const std::string& sSender, UniqueFd block, int nSenderPid = 0);
  // m_hEditorWnd: the editor to answer; while set the tray icon takes no clicks.
  const std::string& EditorWindow() const { return m_sEditorWnd; }

  // The editor's process is watched while one is known (a sender, or the editor running
  // at start): this fd becomes readable when it ends, -1 while nothing is watched. The
  // serial changes whenever the watch does, so the window knows to watch the new fd.
  int EditorWatchFd() const { return m_editorWatch.Get(); }
  unsigned EditorWatchSerial() const { return m_nEditorWatchSerial; }
  // The watch fd became readable: an editor that ended without LINK_END_APPLICATION
  // (it crashed, was killed) is treated as if it had sent it, so neither the table nor
  // the controller nor the tray icon stays with a process that is gone.
  void OnEditorGone();

  // The window's destruction, in its order: host libraries freed, device thread stopped,
  // table saved (LINK_UPDATE to an editor), LINK_END_APPLICATION to an editor while a
  // table is ours or lent, table released, mode bits off, device closed. Also run on the
  // way out when the display connection breaks and the toolkit ends the process.
  void Destroy();
  // The end inside exit(), when the toolkit ends the process (its display went away):
  // the save and the editor's word of Destroy, without touching threads or the device.
  void EndAbruptly();
  // The save at the end found a table and could not write it: the exit status says so.
  bool ExitSaveFailed() const { return m_blExitSaveFailed; }

  // For the window and for tests.
  CProfileStore& Store() { return m_store; }
  const HidDeviceRecord& Device() const { return m_record; }
  bool Connected() const { return !m_record.sDevicePath.empty(); }
  ProfileRecord* CurrentProfile() const { return m_pCurProfile.load(); }
  bool Self() const { return m_blSelf.load(); }
  const std::string& TrayTip() const { return m_sTrayTip; }

 private:
  void StartDeviceThread();
  void StopDeviceThread();
  void CloseController();
  void ClearCurrentProfile();
  void PostToEditor(std::uint16_t nCommand);
  bool TellRunningEditor();
  void OnEndApplication();
  void SaveAtEnd();
  void WatchEditor(int nPid, const std::string& sEndpoint);
  void StopWatchingEditor();
  void PostSelectUnlessConnecting(bool blWasConnected);
  // The working copy follows a table the editor changed; edits not yet applied go, and the
  // window is told so.
  void DropEdits();
  void OnDestroyMemory();
  void OnCreateMemory(std::uint16_t nCount, UniqueFd block);
  std::string ProfileName(const ProfileRecord& record) const;
  void UpdateHostModePolling();

  ResidentView& m_view;
  MessageTarget& m_window;
  ResidentConfig m_config;

  CHostLibraryLink m_hostLink;
  CProfileStore m_store;
  std::atomic<ProfileRecord*> m_pCurProfile{nullptr};
  std::atomic<bool> m_blSelf{false};

  std::uint64_t m_hForegroundWnd = 0;
  int m_nForegroundPid = 0;
  int m_nPrevPid = 0;
  std::uint64_t m_nPrevStartTime = 0;
  std::string m_sForegroundApp;  // the backend's name for a front without a pid
  std::string m_sPrevApp;
  bool m_blHostModePolling = false;
  std::string m_sTrayTip;

  HidDeviceRecord m_record;
  DeviceThreadParams m_params;
  DeviceThreadControl m_deviceThread;
  bool m_blConnecting = false;  // the busy flag of ConnectController
  // The controller was open when the editor took the table: it stays closed until the
  // table comes back. A controller that was not open may connect meanwhile.
  bool m_blLent = false;
  bool m_blEditorTable = false;  // the live table is the editor's block
  std::string m_sEditorWnd;
  int m_nEditorPid = 0;
  UniqueFd m_editorWatch;
  unsigned m_nEditorWatchSerial = 0;
  bool m_blDestroyed = false;
  bool m_blExitSaveFailed = false;
};

}  // namespace orb
