#include "core_rig.h"

#include <utility>

#include "platform/time/clock.h"
#include "profiles/profile_table.h"
#include "profiles/table_text.h"

namespace orb::bench {

void MessageQueue::Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) {
  {
    std::lock_guard lock(m_m);
    m_messages.push_back({nMsg, wParam, lParam});
  }
  m_posted.notify_one();
}

std::optional<PostedMessage> MessageQueue::Take(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_m);
  if (!m_posted.wait_for(lock, timeout, [this] { return !m_messages.empty(); })) {
    return std::nullopt;
  }
  const PostedMessage message = m_messages.front();
  m_messages.pop_front();
  return message;
}

std::vector<std::uint8_t> TwoApplicationTable(std::string* pError) {
  std::string sText = "language = \"en\"\n";
  for (const char* pName : {"APP_A", "APP_B"}) {
    sText += std::string("\n[[profile]]\napp = \"") + pName + "\"\nexe = \"" + pName +
             "\"\njog = true\njogshuttle = true\njog_resolution = 4\nshuttle_resolution = 8\n"
             "\n[profile.controls.PGM1]\nboth = { label = \"Mark\", keys = [\"Ctrl+M\"] }\n";
  }
  sText +=
      "\n[[profile]]\napp = \"Everything else\"\nexe = \"\"\njog = true\nfallback = true\n"
      "\n[profile.controls.PLAY]\nboth = { label = \"Play\", keys = [\"Space\"] }\n";
  TableText table;
  if (!BuildTableFromText(sText, table, *pError)) {
    return {};
  }
  return WriteProfileTable(table.records);
}

CoreRig::CoreRig(std::vector<std::uint8_t> table) : m_table(std::move(table)) {
  ResidentConfig config;
  config.dataFile = m_dir / "ORB.DAT";
  config.defaultTable = m_table;
  config.nOwnPid = -1;  // no process of this benchmark counts as the program itself
  config.pKeySink = &m_sink;
  config.pClock = &platform::RealClock();
  config.getAppInfo = [this](int nPid, platform::AppInfo* pInfo) {
    const bool blRead = platform::GetAppInfo(nPid, pInfo);
    for (const auto& [nKnown, sName] : m_names) {
      if (nKnown == nPid) pInfo->sExeName = sName;
    }
    return blRead;
  };
  m_pCore = std::make_unique<CResidentCore>(m_view, m_queue, std::move(config));
  m_pCore->Initialise(0, 0, 0);
}

CoreRig::~CoreRig() { m_pCore->Destroy(); }

void CoreRig::NameApplication(int nPid, std::string sExeName) { m_names.emplace_back(nPid, std::move(sExeName)); }

ProfileRecord* CoreRig::RecordOf(const std::string& sExeName) {
  ProfileRecord* pTable = m_pCore->Store().Profiles();
  for (std::uint32_t i = 0; pTable != nullptr && i < m_pCore->Store().ComSet(); ++i) {
    if (FieldText(pTable[i].szExeName) == sExeName) return &pTable[i];
  }
  return nullptr;
}

bool CoreRig::HandleNext(std::chrono::milliseconds timeout, std::uint32_t* pMsg) {
  const std::optional<PostedMessage> message = m_queue.Take(timeout);
  if (!message) {
    return false;
  }
  if (pMsg != nullptr) *pMsg = message->nMsg;
  switch (message->nMsg) {
    case WM_SELECTPROFILE:
      m_pCore->OnSelectProfile();
      break;
    case WM_MODECHANGE:
      m_pCore->OnModeChange(message->wParam);
      break;
    case WM_DEVICEREMOVED:
      m_pCore->OnDeviceRemoved();
      break;
    default:
      break;
  }
  return true;
}

}  // namespace orb::bench
