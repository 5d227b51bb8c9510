#pragma once
// The resident core in this process, with what the Qt window would give it: a view that
// draws nothing and a message queue that the benchmark's own loop empties, as the
// window's loop does. Posts may come from the device threads, so the queue is locked.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/message_target.h"
#include "platform/keys/key_sink.h"
#include "platform/process/app_info.h"
#include "profiles/profile_record.h"
#include "resident/resident_core.h"
#include "resident/resident_view.h"
#include "scratch_dir.h"

namespace orb::bench {

class SilentView final : public ResidentView {
 public:
  void SetTrayTip(const std::string&) override {}
  void SelectApplication(std::uint32_t) override {}
  void RefreshPanel() override {}
  void EnableApply(bool) override {}
  bool AskOkCancel(const std::string&, const std::string&) override { return false; }
  void ResetStartupSettings() override {}
  void SetHostModePolling(bool) override {}
  void HideWindow() override {}
  void FillApplicationList() override {}
};

struct PostedMessage {
  std::uint32_t nMsg;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

class MessageQueue final : public MessageTarget {
 public:
  void Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) override;
  // The oldest message, waiting up to `timeout` for one.
  std::optional<PostedMessage> Take(std::chrono::milliseconds timeout);

 private:
  std::mutex m_m;
  std::condition_variable m_posted;
  std::deque<PostedMessage> m_messages;
};

// Two applications and the fallback: "APP_A" and "APP_B" (ordinary profiles, no version
// rule), then "Everything else". Built from the readable form, as `orbctl table build`
// builds it.
std::vector<std::uint8_t> TwoApplicationTable(std::string* pError);

class CoreRig final {
 public:
  // The table is the core's default table; the data file (missing, in a scratch
  // directory) is where its end saves it.
  explicit CoreRig(std::vector<std::uint8_t> table);
  ~CoreRig();
  CoreRig(const CoreRig&) = delete;
  CoreRig& operator=(const CoreRig&) = delete;

  // Which application each pid runs, after the real /proc read: the processes at hand
  // all run one executable, so the names the table knows are set per pid on top.
  void NameApplication(int nPid, std::string sExeName);

  CResidentCore& Core() { return *m_pCore; }
  MessageQueue& Queue() { return m_queue; }
  // The record of the table whose exe name is `sExeName`, in the live table.
  ProfileRecord* RecordOf(const std::string& sExeName);

  // Handles one posted message as CMainDialog::OnMessage does; false when none came.
  bool HandleNext(std::chrono::milliseconds timeout, std::uint32_t* pMsg = nullptr);

 private:
  ScratchDir m_dir;
  std::vector<std::uint8_t> m_table;
  std::vector<std::pair<int, std::string>> m_names;
  SilentView m_view;
  MessageQueue m_queue;
  platform::NullKeySink m_sink;
  std::unique_ptr<CResidentCore> m_pCore;
};

}  // namespace orb::bench
