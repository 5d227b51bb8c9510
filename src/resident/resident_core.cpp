#include "resident/resident_core.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "base/ascii_text.h"
#include "base/message_target.h"
#include "base/string_table.h"
#include "base/write_log.h"
#include "device/device_discovery.h"
#include "device/device_output.h"
#include "engine/command_buffer.h"
#include "engine/profile_flags.h"
#include "engine/translation.h"
#include "platform/hid/hid_backend.h"
#include "platform/process/editor_process.h"
#include "platform/process/process_watch.h"
#include "platform/text/text_codec.h"
#include "profiles/profile_table.h"
#include "resident/editor_link.h"
#include "resident/resident_view.h"

namespace orb {

namespace {

constexpr int kIdsProductName = 102;
constexpr int kIdsDeck = 108;
constexpr int kIdsFile = 109;
constexpr int kIdsJog = 110;
constexpr int kIdsShuttle = 111;
constexpr int kIdsSetDefault = 140;
constexpr int kIdsEditorName = 8;
constexpr int kIdsMapEditorName = 9;

// A version rule 1-4 compares the file version; a program without one (every native
// program) matches no such record.
bool MatchesApplication(const ProfileRecord& record, const platform::AppInfo& info) {
  if (!EqualsIgnoringCase(FieldText(record.szExeName), info.sExeName)) {
    return false;
  }
  const unsigned nRule = VersionRule(LoadProfileFlags(record));
  if (!info.blHasVersion && nRule >= 1 && nRule <= 4) {
    return false;
  }
  return MatchVersion(record, info.dwVersionMS, info.dwVersionLS);
}

}  // namespace

CResidentCore::CResidentCore(ResidentView& view, MessageTarget& window, ResidentConfig config)
    : m_view(view),
      m_window(window),
      m_config(std::move(config)),
      m_hostLink(m_config.hostSleep ? m_config.hostSleep
                                    : [](unsigned nMs) { std::this_thread::sleep_for(std::chrono::milliseconds(nMs)); }),
      m_store(m_hostLink) {}

CResidentCore::~CResidentCore() { Destroy(); }

void CResidentCore::Initialise(std::uint64_t nFrontWindow, int nFrontPid, std::uint64_t nFrontStartTime,
                               const std::string& sFrontApplication) {
  // A save killed before its rename left a whole table beside the data file.
  RemoveStaleTempFiles(m_config.dataFile);
  // A running companion editor owns the table: no table of our own until it hands one.
  if (!TellRunningEditor()) {
    m_store.LoadProfiles(m_config.dataFile, m_config.defaultTable);
  }
  m_hForegroundWnd = nFrontWindow;
  m_nForegroundPid = nFrontPid;
  m_nPrevPid = nFrontPid;
  m_nPrevStartTime = nFrontStartTime;
  m_sForegroundApp = sFrontApplication;
  m_sPrevApp = sFrontApplication;
  m_sTrayTip = LoadString(kIdsProductName, m_config.language);
  m_view.SetTrayTip(m_sTrayTip);
  SetModified(false);
}

void CResidentCore::CheckForegroundWindow(std::uint64_t nWindow, int nPid, std::uint64_t nStartTime,
                                          const std::string& sApplication) {
  // Window managers clear the active window for a moment while they switch; "no window"
  // keeps the application that was in front, or every switch would choose twice. The same
  // window id is not enough to stop here: X hands a closed window's id to the next client.
  const bool blSameProcess = nPid == m_nPrevPid && nStartTime == m_nPrevStartTime && sApplication == m_sPrevApp;
  if (nWindow == 0 || (nWindow == m_hForegroundWnd && blSameProcess)) {
    return;
  }
  m_hForegroundWnd = nWindow;
  m_nForegroundPid = nPid;
  m_sForegroundApp = sApplication;
  if (!blSameProcess) {
    const bool blSelf = nPid != 0 && nPid == m_config.nOwnPid;
    m_blSelf.store(blSelf);
    WriteLog("CheckForegroundWindow: m_blSelf = %d\r\n", blSelf ? 1 : 0);
    m_window.Post(WM_SELECTPROFILE, 0, 0);
    m_nPrevPid = nPid;
    m_nPrevStartTime = nStartTime;
    m_sPrevApp = sApplication;
  }
}

void CResidentCore::PollHostMode() {
  ProfileRecord* pProfile = m_pCurProfile.load();
  if (pProfile != nullptr && (LoadProfileFlags(*pProfile) & PF_HOSTMODE) != 0) {
    m_window.Post(WM_MODECHANGE, 1, 0);
  }
}

void CResidentCore::OnSelectProfile() {
  ProfileRecord* pTable = m_store.Profiles();
  if (pTable == nullptr) {
    return;
  }
  platform::AppInfo info;
  if (m_nForegroundPid != 0) {
    // Unreadable (gone, another user's): the empty name, which only an empty szExeName
    // matches.
    if (m_config.getAppInfo) {
      m_config.getAppInfo(m_nForegroundPid, &info);
    } else {
      platform::GetAppInfo(m_nForegroundPid, &info);
    }
  } else {
    info.sExeName = m_sForegroundApp;  // named by the backend; "" when nothing is known
  }
  WriteLog("Application is %s\r\n", info.sExeName.c_str());

  ResetWheelState();
  ProfileRecord* pOld = m_pCurProfile.load();
  if (pOld != nullptr && (LoadProfileFlags(*pOld) & PF_HOSTMODE) != 0) {
    m_hostLink.HostLibraryControl(HL_CLOSE);
  }
  m_pCurProfile.store(nullptr);
  g_blRepeatCommand.store(false);

  bool blMatched = false;
  for (std::uint32_t i = 0; i < m_store.ComSet(); ++i) {
    ProfileRecord& record = pTable[i];
    if (!MatchesApplication(record, info)) {
      continue;
    }
    blMatched = true;
    m_pCurProfile.store(&record);
    m_hostLink.SetCurrentProfile(&record);
    m_hostLink.SetCurrentLibrarySlot(i);
    WriteLog("Profile : %s\r\n", std::string(FieldText(record.szAppName)).c_str());
    const std::uint32_t dwFlags = LoadProfileFlags(record);
    if ((dwFlags & PF_HOSTMODE) != 0) {
      m_hostLink.HostLibraryControl(HL_OPEN);
    }
    if ((dwFlags & PF_FALLBACK) == 0) {
      m_view.SelectApplication(i);
    }
    break;
  }
  if (!blMatched) {
    // The library slot, the host link and the application list stay as they were.
    m_pCurProfile.store(m_store.FallbackProfile());
    m_hostLink.SetCurrentProfile(m_store.FallbackProfile());
  }
  ProfileRecord* pNew = m_pCurProfile.load();
  const bool blHostMode = pNew != nullptr && (LoadProfileFlags(*pNew) & PF_HOSTMODE) != 0;
  UpdateHostModePolling();
  m_window.Post(WM_MODECHANGE, blHostMode ? 1 : 0, 0);
}

void CResidentCore::OnModeChange(std::uintptr_t wParam) {
  std::string sTip = LoadString(kIdsProductName, m_config.language);
  ProfileRecord* pProfile = m_pCurProfile.load();
  if (pProfile != nullptr) {
    std::uint32_t dwFlags = LoadProfileFlags(*pProfile);
    if (wParam == 2 && (dwFlags & PF_DECKFILE) != 0) {
      dwFlags ^= PF_DECK;
      StoreProfileFlags(*pProfile, dwFlags);
    } else if (wParam == 1 && (dwFlags & PF_HOSTMODE) != 0) {
      m_hostLink.HostLibraryControl(HL_GET_MODE);  // sets or clears PF_JOG itself
      dwFlags = LoadProfileFlags(*pProfile);
    } else if (wParam == 1) {
      dwFlags ^= PF_JOG;
      StoreProfileFlags(*pProfile, dwFlags);
    }
    const bool blShowWheelMode = (dwFlags & (PF_JOGSHUTTLE | PF_HOSTMODE)) != 0;
    if (pProfile != m_store.FallbackProfile()) {
      if ((dwFlags & PF_DECKFILE) != 0) {
        sTip = LoadString((dwFlags & PF_DECK) != 0 ? kIdsDeck : kIdsFile, m_config.language);
        sTip += "/";
      } else if (blShowWheelMode) {
        // No DECK/FILE part: the wheel's mode alone, not glued to the product name.
        sTip.clear();
      }
      if (blShowWheelMode) {
        sTip += LoadString((dwFlags & PF_JOG) != 0 ? kIdsJog : kIdsShuttle, m_config.language);
      }
      if ((dwFlags & (PF_DECKFILE | PF_JOGSHUTTLE)) == 0) {
        sTip = ProfileName(*pProfile);
      }
    }
  }
  SendModeBits(m_record, ModeBits(pProfile));
  m_sTrayTip = sTip;
  m_view.SetTrayTip(sTip);
}

std::string CResidentCore::ProfileName(const ProfileRecord& record) const {
  const platform::CodePage codePage =
      m_config.language == UiLanguage::Japanese ? platform::CodePage::Cp932 : platform::CodePage::Cp1252;
  return platform::DecodeTextLossy(codePage, FieldText(record.szAppName));
}

void CResidentCore::UpdateHostModePolling() {
  ProfileRecord* pProfile = m_pCurProfile.load();
  const bool blOn = pProfile != nullptr && (LoadProfileFlags(*pProfile) & PF_HOSTMODE) != 0;
  if (blOn != m_blHostModePolling) {
    m_blHostModePolling = blOn;
    m_view.SetHostModePolling(blOn);
  }
}

bool CResidentCore::TellRunningEditor() {
  if (m_config.pEditorLink == nullptr) {
    return false;
  }
  int nEditor = 0;
  if (m_config.findEditor) {
    nEditor = m_config.findEditor();
  } else {
    const std::string_view names[] = {LoadString(kIdsEditorName, m_config.language),
                                      LoadString(kIdsMapEditorName, m_config.language)};
    nEditor = platform::FindEditorProcess(names, m_config.nOwnPid);
  }
  if (nEditor == 0) {
    return false;
  }
  // One that cannot talk to us (a Windows editor under Wine has no endpoint here) would
  // never hand a table: waiting for it would leave the user without profiles.
  const std::vector<std::string> endpoints = m_config.pEditorLink->EndpointsOfProcess(nEditor);
  if (endpoints.empty()) {
    WriteLog("LoadProfiles: the editor runs as process %d but has no link endpoint; our own table is used\r\n",
             nEditor);
    return false;
  }
  WriteLog("LoadProfiles: the editor runs as process %d; its table is awaited\r\n", nEditor);
  for (const std::string& sEndpoint : endpoints) {
    m_config.pEditorLink->Post(sEndpoint, LINK_READY);
  }
  // Should it end before it answers, our own table is loaded then (OnEditorGone).
  WatchEditor(nEditor, endpoints.front());
  return true;
}

void CResidentCore::PostToEditor(std::uint16_t nCommand) {
  if (m_config.pEditorLink != nullptr && !m_sEditorWnd.empty()) {
    m_config.pEditorLink->Post(m_sEditorWnd, nCommand);
  }
}

void CResidentCore::ClearCurrentProfile() {
  ProfileRecord* pOld = m_pCurProfile.exchange(nullptr);
  m_hostLink.SetCurrentProfile(nullptr);
  if (pOld != nullptr && m_deviceThread.Running()) {
    WaitUntilProfileReleased(m_params);  // then no record of the old view is in use
  }
  UpdateHostModePolling();
}

void CResidentCore::CloseController() {
  if (m_record.sDevicePath.empty()) {
    return;
  }
  StopDeviceThread();
  CloseDeviceRecord(m_record, true);
  m_record = HidDeviceRecord{};
  g_blRepeatCommand.store(false);
}

void CResidentCore::OnEditorMessage(std::uint32_t dwWParam, const std::string& sSender, UniqueFd block,
                                    int nSenderPid) {
  m_sEditorWnd = sSender;
  switch (platform::LinkCommandOf(dwWParam)) {
    case LINK_END_APPLICATION:
      OnEndApplication();
      break;
    case LINK_DESTROY_MEMORY:
      OnDestroyMemory();
      break;
    case LINK_CREATE_MEMORY:
      OnCreateMemory(platform::LinkCountOf(dwWParam), std::move(block));
      break;
    case LINK_UPDATE:
      // The editor changed the live table: the working copy follows, or the next Apply
      // would copy the old records back over the editor's changes.
      DropEdits();
      m_view.RefreshPanel();
      break;
    default:
      break;  // only the sender is remembered
  }
  if (m_sEditorWnd.empty()) {
    StopWatchingEditor();  // it said goodbye
  } else if (nSenderPid != 0) {
    WatchEditor(nSenderPid, m_sEditorWnd);
  }
}

void CResidentCore::WatchEditor(int nPid, const std::string& sEndpoint) {
  if (nPid == m_nEditorPid && m_editorWatch.Valid()) {
    return;
  }
  StopWatchingEditor();
  UniqueFd watch = platform::WatchProcess(nPid);
  if (!watch.Valid() && errno != ESRCH) {
    WriteLog("OnMsgFromZUDAdor: process %d cannot be watched (errno %d); an end without a word goes unnoticed\r\n",
             nPid, errno);
    return;
  }
  // The pid came with the datagram; the process may have ended, and the pid been taken by
  // another, before the watch was made. Its endpoint still being bound proves it is the one.
  bool blAlive = watch.Valid();
  if (blAlive && m_config.pEditorLink != nullptr) {
    const std::vector<std::string> endpoints = m_config.pEditorLink->EndpointsOfProcess(nPid);
    blAlive = std::find(endpoints.begin(), endpoints.end(), sEndpoint) != endpoints.end();
  }
  m_nEditorPid = nPid;
  ++m_nEditorWatchSerial;
  if (!blAlive) {
    OnEditorGone();
    return;
  }
  m_editorWatch = std::move(watch);
}

void CResidentCore::StopWatchingEditor() {
  if (m_editorWatch.Valid() || m_nEditorPid != 0) {
    m_editorWatch.Reset();
    m_nEditorPid = 0;
    ++m_nEditorWatchSerial;
  }
}

void CResidentCore::OnEditorGone() {
  if (m_editorWatch.Valid() && !platform::WatchedProcessEnded(m_editorWatch.Get())) {
    return;  // a spurious wake-up: it still runs
  }
  const int nPid = m_nEditorPid;
  StopWatchingEditor();
  if (m_blDestroyed) {
    return;
  }
  WriteLog("OnMsgFromZUDAdor: the editor (process %d) ended without a word\r\n", nPid);
  if (m_blEditorTable || m_store.Profiles() == nullptr || m_blLent) {
    OnEndApplication();  // it held the table (or the controller): take them back
  } else {
    m_sEditorWnd.clear();  // our own table all along: only the tray icon was held
  }
}

void CResidentCore::PostSelectUnlessConnecting(bool blWasConnected) {
  // A controller connected just now has posted its own WM_SELECTPROFILE.
  if (blWasConnected || !Connected()) {
    m_window.Post(WM_SELECTPROFILE, 0, 0);
  }
}

void CResidentCore::OnEndApplication() {
  WriteLog("From ZUDAdor : End Application\r\n");
  ClearCurrentProfile();
  const bool blEditorTable = m_blEditorTable;
  const bool blHadEdits = m_store.IsModified();
  const bool blTaken = m_store.TakeBackTable();
  m_blEditorTable = false;
  m_sEditorWnd.clear();
  StopWatchingEditor();
  if (blTaken) {
    DropEdits();  // the working copy as the editor left the table
    m_view.RefreshPanel();
    if (blEditorTable) {
      // The editor's table is ours now: on disk at once, not only at our own end, which
      // may never come in order (a session that ends, a crash).
      if (m_store.SaveProfiles(m_config.dataFile)) {
        WriteLog("OnMsgFromZUDAdor: the editor's table is saved\r\n");
      } else {
        WriteLog("OnMsgFromZUDAdor: the editor's table is not saved: %s\r\n", m_store.SaveProblem().c_str());
      }
    }
  }
  if (!blTaken) {
    // The editor ends without handing a table back: our own data file again, rather than
    // a program without profiles until it is started anew.
    WriteLog("OnMsgFromZUDAdor: no table to take back; the data file is read\r\n");
    m_store.LoadProfiles(m_config.dataFile, m_config.defaultTable);
    SetModified(false);
    m_view.FillApplicationList();
    if (blHadEdits) m_view.TellEditsDropped();
  }
  const bool blWasConnected = Connected();
  if (m_blLent) {
    m_blLent = false;
    ConnectController();
  }
  PostSelectUnlessConnecting(blWasConnected);  // the current profile went with the old view
}

void CResidentCore::DropEdits() {
  const bool blHadEdits = m_store.IsModified();
  CancelEdits();
  if (blHadEdits) m_view.TellEditsDropped();
}

void CResidentCore::OnDestroyMemory() {
  WriteLog("From ZUDADor : Destroy memory\r\n");
  // Only a controller that is open is lent: one that arrives meanwhile may connect, and
  // finds no profile until the table comes back.
  if (Connected()) {
    m_blLent = true;
  }
  CloseController();
  ClearCurrentProfile();
  m_store.ReleaseLiveTable();
  m_blEditorTable = false;
  PostToEditor(LINK_READY);
  m_view.HideWindow();
  m_hostLink.HostLibraryControl(HL_FREE);
}

void CResidentCore::OnCreateMemory(std::uint16_t nCount, UniqueFd block) {
  WriteLog("From ZUDADor : Create memory\r\n");
  WriteLog("m_dwComSet = %d OnMsgFromZUDAdor\r\n", static_cast<int>(nCount));
  // Ours first, if still held: after the device thread has let go of it.
  ClearCurrentProfile();
  std::string sError;
  if (!m_store.AdoptEditorTable(std::move(block), nCount, &sError)) {
    WriteLog("OnMsgFromZUDAdor: the editor's block is refused: %s\r\n", sError.c_str());
    if (m_store.Profiles() == nullptr) {
      return;  // still without a table, and without the controller
    }
  } else {
    m_blEditorTable = true;
    m_view.FillApplicationList();
    m_hostLink.HostLibraryControl(HL_LOAD);
  }
  m_blLent = false;
  // Work on the new table at once: choose the profile of the application in front now,
  // not at the next change of application.
  const bool blWasConnected = Connected();
  ConnectController();
  PostSelectUnlessConnecting(blWasConnected);
}

bool CResidentCore::ConnectController() {
  if (m_blConnecting || m_blDestroyed || m_blLent) {
    return Connected();
  }
  m_blConnecting = true;
  if (m_record.sDevicePath.empty() && FindAndOpenController(m_record)) {
    WriteLog("Controller connected!\r\n");
    StartDeviceThread();
    m_window.Post(WM_SELECTPROFILE, 0, 0);
  }
  m_blConnecting = false;
  return Connected();
}

bool CResidentCore::ControllerPresentButClosed() {
  if (Connected() || m_blLent) {
    return false;  // lent: nothing to open until the editor gives it back
  }
  for (const platform::HidDeviceInfo& info : platform::CurrentHidBackend().Enumerate()) {
    if (IsKnownController(info.nVendorId, info.nProductId)) {
      return true;
    }
  }
  return false;
}

void CResidentCore::StartDeviceThread() {
  m_params.pWindow = &m_window;
  m_params.pDevice = &m_record;
  m_params.pblRepeat = &g_blRepeatCommand;
  m_params.pblSelf = &m_blSelf;
  m_params.pKeySink = m_config.pKeySink;
  m_params.ppProfile = &m_pCurProfile;
  m_params.pClock = m_config.pClock;
  m_params.pfnProfileLoaded = m_config.pfnProfileLoaded;
  m_deviceThread.Start(m_params);
}

void CResidentCore::StopDeviceThread() { m_deviceThread.Stop(); }

void CResidentCore::OnDeviceRemoved() {
  if (m_record.sDevicePath.empty()) {
    return;  // a late message for a device already closed
  }
  m_deviceThread.RequestStop();
  WriteLog("Device Removed!\r\n");
  CloseController();
}

void CResidentCore::SetModified(bool blModified) {
  m_store.SetModified(blModified);
  m_view.EnableApply(blModified);
}

bool CResidentCore::SaveProfiles() {
  const bool blWritten = m_store.SaveProfiles(m_config.dataFile);
  m_view.EnableApply(false);
  if (blWritten) {
    PostToEditor(LINK_UPDATE);
  }
  return blWritten;
}

void CResidentCore::CancelEdits() {
  m_store.CancelEdits();
  m_view.EnableApply(false);
}

void CResidentCore::OnSetDefault() {
  if (!m_view.AskOkCancel(LoadString(kIdsSetDefault, m_config.language),
                          LoadString(kIdsProductName, m_config.language))) {
    return;
  }
  const bool blHadTable = m_store.Profiles() != nullptr;
  if (m_store.ResetToDefault(m_config.defaultTable)) {
    SetModified(false);
    m_view.RefreshPanel();
    if (!blHadTable) {
      m_window.Post(WM_SELECTPROFILE, 0, 0);  // a table where there was none: choose again
    }
  }
  m_view.ResetStartupSettings();
}

void CResidentCore::SaveAtEnd() {
  // With no table there is nothing to save, and that is no failure.
  if (m_store.Profiles() != nullptr) {
    if (m_store.SaveProfiles(m_config.dataFile)) {
      PostToEditor(LINK_UPDATE);
    } else {
      m_blExitSaveFailed = true;
      WriteLog("Destroy: the profiles are not saved: %s\r\n", m_store.SaveProblem().c_str());
    }
  }
  // A table counted but not mapped is the one the editor holds: it most needs to hear.
  if (m_store.ComSet() != 0) {
    PostToEditor(LINK_END_APPLICATION);
  }
  StopWatchingEditor();
}

void CResidentCore::EndAbruptly() {
  if (m_blDestroyed) {
    return;
  }
  m_blDestroyed = true;
  // The process is inside exit(): the device thread may still read, and what it reads
  // through may be gone already, so it is left alone; the kernel closes the device. Only
  // what would be lost is done: the save and the word to the editor.
  SaveAtEnd();
}

void CResidentCore::Destroy() {
  if (m_blDestroyed) {
    return;
  }
  m_blDestroyed = true;
  m_hostLink.HostLibraryControl(HL_FREE);
  StopDeviceThread();  // nothing to wait for when none was started
  SaveAtEnd();
  m_pCurProfile.store(nullptr);
  m_hostLink.SetCurrentProfile(nullptr);
  m_store.ReleaseTable();
  if (Connected()) {
    SendModeBits(m_record, 0);
    CloseDeviceRecord(m_record, true);
  }
}

}  // namespace orb
