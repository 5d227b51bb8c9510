#include "tools/orbctl/play_session.h"

#include <cinttypes>
#include <cstdio>

#include "base/ascii_text.h"
#include "base/write_log.h"
#include "device/device_discovery.h"
#include "engine/profile_flags.h"
#include "engine/translation.h"
#include "platform/hid/hid_backend.h"
#include "profiles/profile_table.h"

namespace orb::play {
namespace {

std::string TimeText(std::uint64_t nUs) {
  char szTime[32];
  std::snprintf(szTime, sizeof szTime, "%" PRIu64 ".%" PRIu64, nUs / 1000, (nUs % 1000) / 100);
  return szTime;
}

}  // namespace

PlaySession::PlaySession(std::vector<ProfileRecord> table, bool blLog, LineSink lineSink)
    : m_table(std::move(table)), m_blLog(blLog), m_lineSink(std::move(lineSink)), m_sink(m_clock), m_window(*this) {
  m_sink.SetObserver(&PlaySession::OnKey, this);
  if (m_blLog) {
    SetLogObserver(&PlaySession::OnLog, this);
  }
  platform::SetCurrentHidBackend(&m_backend);
}

PlaySession::~PlaySession() {
  Finish();
  if (m_blLog) {
    SetLogObserver(nullptr, nullptr);
  }
  platform::SetCurrentHidBackend(nullptr);
  m_sink.SetObserver(nullptr, nullptr);
}

void PlaySession::Emit(const std::string& text) {
  std::lock_guard lock(m_emitLock);
  m_lineSink(TimeText(m_clock.NowUs()) + " " + text);
}

void PlaySession::OnKey(void* pContext, const platform::RecordingKeySink::Record& record) {
  char szText[32];
  std::snprintf(szText, sizeof szText, "%s 0x%02X", record.blUp ? "up" : "down", record.nVk);
  static_cast<PlaySession*>(pContext)->Emit(szText);
}

void PlaySession::OnLog(void* pContext, const char* pLine, std::size_t nLength) {
  auto* pSelf = static_cast<PlaySession*>(pContext);
  std::string_view line(pLine, nLength);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  pSelf->Emit("log " + std::string(line));
}

void PlaySession::Window::Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) {
  char szText[80];
  std::snprintf(szText, sizeof szText, "post %" PRIu32 " %" PRIuPTR " %" PRIdPTR, nMsg, wParam, lParam);
  m_session.Emit(szText);
  std::lock_guard lock(m_session.m_messageLock);
  m_session.m_messages.push_back({nMsg, wParam});
}

bool PlaySession::Start() {
  m_sPath = m_backend.AddController();
  m_blPlugged = true;
  return Connect();
}

// The connection poll's success path (without its 100 ms tick: it connects at once).
bool PlaySession::Connect() {
  if (!FindAndOpenController(m_record)) {
    return false;
  }
  WriteLog("Controller connected!\r\n");
  m_params.pWindow = &m_window;
  m_params.pDevice = &m_record;
  m_params.pblRepeat = &g_blRepeatCommand;
  m_params.pblSelf = &m_blSelf;
  m_params.pKeySink = &m_sink;
  m_params.ppProfile = &m_pCurProfile;
  m_params.pClock = &m_clock;
  if (!m_control.Start(m_params)) {
    CloseDeviceRecord(m_record, true);
    m_record = HidDeviceRecord{};
    return false;
  }
  Idle();
  OnSelectProfile();  // the poll posts WM_USER+12 after the start: the profile is chosen again
  Idle();
  return true;
}

void PlaySession::Finish() {
  if (m_control.Running()) {
    m_control.Stop();  // runs virtual time until the play in progress has ended
  }
  Idle();
  if (Connected()) {
    CloseDeviceRecord(m_record, true);
    m_record = HidDeviceRecord{};
  }
}

int FindProfile(const std::vector<ProfileRecord>& table, std::string_view exeName) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (EqualsIgnoringCase(FieldText(table[i].szExeName), exeName)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void PlaySession::OnSelectProfile() {
  ResetWheelState();
  g_blRepeatCommand.store(false);
}

void PlaySession::SelectProfile(int nIndex) {
  Idle();
  OnSelectProfile();
  m_pCurProfile.store(nIndex < 0 ? nullptr : &m_table[static_cast<std::size_t>(nIndex)]);
  Idle();
}

void PlaySession::SetSelf(bool blSelf) {
  Idle();
  m_blSelf.store(blSelf);
}

void PlaySession::QueueReport(const std::vector<std::uint8_t>& report) {
  Idle();
  if (!m_blPlugged || !Connected()) {
    return;
  }
  // Told before the report exists, so the clock never counts the reader idle while the
  // report waits for it.
  m_clock.NoteOutsideWake();
  m_backend.QueueInputReport(m_sPath, report);
  Idle();
}

void PlaySession::Unplug() {
  Idle();
  if (!m_blPlugged) {
    return;
  }
  if (Connected()) {
    m_clock.NoteOutsideWake();
  }
  m_backend.Unplug(m_sPath);
  m_blPlugged = false;
  Idle();
}

void PlaySession::Plug() {
  Idle();
  if (m_blPlugged) {
    return;
  }
  m_backend.Plug(m_sPath);
  m_blPlugged = true;
  if (!Connected()) {
    Connect();
  }
}

void PlaySession::Wait(std::uint32_t nMs) {
  const std::uint64_t nTargetUs = m_clock.NowUs() + std::uint64_t{nMs} * 1000u;
  Idle();
  while (m_clock.StepTo(nTargetUs)) {
    Idle();
  }
  Idle();
}

// Settles the threads and handles what they posted, as the window's thread would, until
// nothing is left to do at this moment.
void PlaySession::Idle() {
  for (;;) {
    m_clock.Settle();
    Message message{};
    {
      std::lock_guard lock(m_messageLock);
      if (m_messages.empty()) {
        return;
      }
      message = m_messages.front();
      m_messages.pop_front();
    }
    HandleMessage(message);
  }
}

void PlaySession::HandleMessage(const Message& message) {
  if (message.nMsg == WM_MODECHANGE) {
    OnModeChange(message.wParam);
  } else if (message.nMsg == WM_DEVICEREMOVED) {
    OnDeviceRemoved();
  }
  // WM_USER+14 selects a button in the settings window: nothing to do here.
}

void PlaySession::OnModeChange(std::uintptr_t wParam) {
  ProfileRecord* pProfile = m_pCurProfile.load();
  if (pProfile == nullptr) {
    return;
  }
  const std::uint32_t dwFlags = LoadProfileFlags(*pProfile);
  if (wParam == 2 && (dwFlags & PF_DECKFILE) != 0) {
    StoreProfileFlags(*pProfile, dwFlags ^ PF_DECK);
  } else if (wParam == 1 && (dwFlags & PF_HOSTMODE) == 0) {
    StoreProfileFlags(*pProfile, dwFlags ^ PF_JOG);
  }
  // With PF_HOSTMODE the editor's own mode would be read; there is no editor here.
}

void PlaySession::OnDeviceRemoved() {
  m_control.RequestStop();
  WriteLog("Device Removed!\r\n");
  m_control.WaitStopped();
  CloseDeviceRecord(m_record, true);
  m_record = HidDeviceRecord{};
  g_blRepeatCommand.store(false);
}

}  // namespace orb::play
