// The resident program without a display: the real core over the simulated controller,
// the real device threads and the recording key sink, with a scripted application in
// front and a window that records what the core asks of it and dispatches what is posted
// to it as the Qt window does.
#include "resident/resident_core.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <thread>

#include "base/log_capture.h"
#include "base/message_target.h"
#include "engine/command_buffer.h"
#include "platform/hid/sim_hid_backend.h"
#include "platform/keys/key_sink.h"
#include "platform/shm/shared_block.h"
#include "platform/time/clock.h"
#include "profiles/profile_table.h"
#include "resident/editor_link.h"
#include "resident/resident_view.h"
#include "support/temp_dir.h"
#include "tools/orbctl/play_script.h"

namespace orb {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kUsagePgm1 = 3;    // programmable button 1 (code 601)
constexpr int kUsageDeck = 4;    // DECK/FILE selector (606)
constexpr std::uint16_t kVkA = 'A';

ProfileRecord Record(const char* pExe, const char* pApp, std::uint32_t dwFlags, std::uint16_t nVk = 0) {
  ProfileRecord record{};
  std::strncpy(record.szExeName, pExe, sizeof record.szExeName - 1);
  std::strncpy(record.szAppName, pApp, sizeof record.szAppName - 1);
  record.dwFlags = dwFlags;
  if (nVk != 0) {
    const KeyStroke key = nVk;
    std::memcpy(reinterpret_cast<char*>(&record.entries[0].deck) + offsetof(KeyCommand, keys), &key, sizeof key);
    std::memcpy(reinterpret_cast<char*>(&record.entries[0].file) + offsetof(KeyCommand, keys), &key, sizeof key);
  }
  return record;
}

std::uint32_t Rule(unsigned nRule) { return nRule << PF_VERRULE_SHIFT; }
std::uint32_t MajorWord(std::uint16_t nMajor) { return std::uint32_t{nMajor} << 16; }

// A real child process (spawned, not forked: the test runs threads, and sanitizers too).
pid_t Spawn(std::vector<const char*> args) {
  args.push_back(nullptr);
  pid_t nPid = -1;
  if (::posix_spawnp(&nPid, args[0], nullptr, nullptr, const_cast<char* const*>(args.data()), environ) != 0) {
    return -1;
  }
  return nPid;
}

// A real process as an editor: the core watches it, and sees it die.
class EditorProcess final {
 public:
  EditorProcess() { m_nPid = Spawn({"sleep", "600"}); }
  ~EditorProcess() { Kill(); }
  int Pid() const { return m_nPid; }
  void Kill() {
    if (m_nPid > 0) {
      ::kill(m_nPid, SIGKILL);
      ::waitpid(m_nPid, nullptr, 0);
      m_nPid = -1;
    }
  }

 private:
  pid_t m_nPid = -1;
};

bool Readable(int nFd) {
  pollfd item{nFd, POLLIN, 0};
  return ::poll(&item, 1, 20000) == 1;
}

class RecordingView final : public ResidentView {
 public:
  void SetTrayTip(const std::string& sTip) override { tips.push_back(sTip); }
  void SelectApplication(std::uint32_t nIndex) override { selected.push_back(nIndex); }
  void RefreshPanel() override { ++nRefreshes; }
  void EnableApply(bool blEnable) override { blApply = blEnable; }
  bool AskOkCancel(const std::string& sText, const std::string& sCaption) override {
    questions.push_back(sCaption + ": " + sText);
    return blAnswerOk;
  }
  void ResetStartupSettings() override { ++nStartupResets; }
  void SetHostModePolling(bool blOn) override { blPolling = blOn; }
  void HideWindow() override { ++nHides; }
  void FillApplicationList() override { ++nFills; }

  std::vector<std::string> tips;
  int nHides = 0;
  int nFills = 0;
  std::vector<std::uint32_t> selected;
  int nRefreshes = 0;
  bool blApply = true;
  std::vector<std::string> questions;
  bool blAnswerOk = true;
  int nStartupResets = 0;
  bool blPolling = false;
};

// What the core posted to editors, and the endpoints each editor process has.
class RecordingLink final : public EditorLink {
 public:
  bool Post(const std::string& sEndpoint, std::uint32_t dwWParam) override {
    posts.push_back(sEndpoint + " " + std::to_string(dwWParam));
    return true;
  }
  std::vector<std::string> EndpointsOfProcess(int nPid) override { return endpoints[nPid]; }

  std::vector<std::string> posts;
  std::map<int, std::vector<std::string>> endpoints;
};

// Posted messages wait here until the test lets the "window thread" handle them.
class QueueWindow final : public MessageTarget {
 public:
  struct Posted {
    std::uint32_t nMsg;
    std::uintptr_t wParam;
  };
  void Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t) override {
    std::lock_guard lock(m_m);
    m_queue.push_back({nMsg, wParam});
    m_cv.notify_all();
  }
  bool WaitFor(std::uint32_t nMsg) {
    std::unique_lock lock(m_m);
    return m_cv.wait_for(lock, std::chrono::seconds(20), [&] {
      for (const Posted& p : m_queue) {
        if (p.nMsg == nMsg) return true;
      }
      return false;
    });
  }
  std::deque<Posted> Take() {
    std::lock_guard lock(m_m);
    return std::exchange(m_queue, {});
  }

 private:
  std::mutex m_m;
  std::condition_variable m_cv;
  std::deque<Posted> m_queue;
};

class ResidentCoreTest : public ::testing::Test {
 protected:
  ResidentCoreTest() { platform::SetCurrentHidBackend(&m_backend); }
  ~ResidentCoreTest() override {
    m_pCore.reset();
    platform::SetCurrentHidBackend(nullptr);
    g_blRepeatCommand.store(false);
  }

  // Pid 100: the program itself. The applications the test puts in front are pids 200+.
  void Start(const std::vector<ProfileRecord>& table, std::uint64_t nFrontWindow = 1, int nFrontPid = 200,
             std::uint64_t nFrontStartTime = 0) {
    const std::vector<std::uint8_t> bytes = WriteProfileTable(table);
    test::WriteFileBytes(m_dataFile, bytes.data(), bytes.size());
    ResidentConfig config;
    config.dataFile = m_dataFile;
    config.defaultTable = m_defaults;
    config.nOwnPid = 100;
    config.pKeySink = &m_sink;
    config.pClock = &m_clock;
    config.hostSleep = [](unsigned) {};
    config.getAppInfo = [this](int nPid, platform::AppInfo* pInfo) {
      const auto it = m_processes.find(nPid);
      if (it == m_processes.end()) return false;
      *pInfo = it->second;
      return true;
    };
    config.pEditorLink = &m_link;
    config.pfnProfileLoaded = m_pfnProfileLoaded;
    config.findEditor = [this] { return m_nEditorPid; };
    m_pCore = std::make_unique<CResidentCore>(m_view, m_window, std::move(config));
    m_pCore->Initialise(nFrontWindow, nFrontPid, nFrontStartTime);
  }
  void Process(int nPid, const char* pExe, bool blVersion = false, std::uint32_t dwMS = 0) {
    m_processes[nPid] = platform::AppInfo{pExe, blVersion, dwMS, 0};
  }
  // The window thread handles what was posted, and what that posts in turn.
  void Pump() {
    for (std::deque<QueueWindow::Posted> queue; !(queue = m_window.Take()).empty();) {
      for (const QueueWindow::Posted& p : queue) {
        m_handled.push_back(p.nMsg);
        if (p.nMsg == WM_SELECTPROFILE) m_pCore->OnSelectProfile();
        if (p.nMsg == WM_MODECHANGE) m_pCore->OnModeChange(p.wParam);
        if (p.nMsg == WM_DEVICEREMOVED) m_pCore->OnDeviceRemoved();
      }
    }
  }
  void Front(std::uint64_t nWindow, int nPid, std::uint64_t nStartTime = 0, const std::string& sApplication = {}) {
    m_pCore->CheckForegroundWindow(nWindow, nPid, nStartTime, sApplication);
    Pump();
  }
  std::string CurrentExe() const {
    const ProfileRecord* p = m_pCore->CurrentProfile();
    return p == nullptr ? "(none)" : std::string(FieldText(p->szExeName));
  }
  bool WaitForKeys(std::size_t nCount) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (m_sink.Count() < nCount && Clock::now() < deadline) std::this_thread::yield();
    return m_sink.Count() >= nCount;
  }
  std::vector<std::uint8_t> LastFeature() const {
    const auto reports = m_backend.FeatureReports(m_sPath);
    return reports.empty() ? std::vector<std::uint8_t>{} : reports.back();
  }

  test::TempDir m_dir;
  std::filesystem::path m_dataFile = m_dir / "ORB.DAT";
  std::vector<std::uint8_t> m_defaults = WriteProfileTable(std::vector<ProfileRecord>{Record("DEFAULT.EXE", "Default", 0)});
  platform::SimulatedHidBackend m_backend;
  std::string m_sPath;
  platform::ManualClock m_clock;
  platform::RecordingKeySink m_sink{m_clock};
  RecordingView m_view;
  QueueWindow m_window;
  std::map<int, platform::AppInfo> m_processes;
  std::vector<std::uint32_t> m_handled;
  RecordingLink m_link;
  int m_nEditorPid = 0;
  void (*m_pfnProfileLoaded)() = nullptr;
  std::unique_ptr<CResidentCore> m_pCore;
};

// An editor's block holding `table`, and the descriptor it hands over with it.
struct EditorBlock {
  explicit EditorBlock(const std::vector<ProfileRecord>& table)
      : pBlock(platform::SharedBlock::Create("ORB.DAT", table.size() * sizeof(ProfileRecord))) {
    std::memcpy(pBlock->Data(), table.data(), pBlock->Size());
  }
  UniqueFd Handed() const { return UniqueFd(::dup(pBlock->Fd())); }
  ProfileRecord* Records() const { return reinterpret_cast<ProfileRecord*>(pBlock->Data()); }
  std::unique_ptr<platform::SharedBlock> pBlock;
};

std::uint32_t Create(std::size_t nCount) { return LINK_CREATE_MEMORY | static_cast<std::uint32_t>(nCount << 16); }

TEST_F(ResidentCoreTest, WithTheEditorRunningAtStartItIsToldAndItsBlockBecomesTheTable) {
  EditorProcess editor;
  m_nEditorPid = editor.Pid();
  m_link.endpoints[editor.Pid()] = {"/link/300-1", "/link/300-2"};
  m_sPath = m_backend.AddController();
  Start({Record("OWN.EXE", "Own", 0)});
  EXPECT_EQ(m_link.posts, (std::vector<std::string>{"/link/300-1 1", "/link/300-2 1"}));
  EXPECT_EQ(m_pCore->Store().Profiles(), nullptr) << "the data file is not read";
  // Nothing is lent: the controller connects, and plays nothing until a table comes.
  EXPECT_TRUE(m_pCore->ConnectController());
  EXPECT_FALSE(m_pCore->ControllerPresentButClosed());

  std::vector<ProfileRecord> table(15, Record("EDIT.EXE", "Edit", 0, kVkA));
  EditorBlock block(table);
  m_pCore->OnEditorMessage(Create(15), "/link/300-1", block.Handed());
  EXPECT_EQ(m_pCore->Store().ComSet(), 15u);
  EXPECT_EQ(m_view.nFills, 1);
  EXPECT_TRUE(m_pCore->Connected());
  // The program works on the editor's block itself.
  block.Records()[3].dwFlags = PF_FALLBACK;
  m_pCore->Store().FindFallbackProfile();
  EXPECT_EQ(m_pCore->Store().FallbackProfile(), &m_pCore->Store().Profiles()[3]);
}

TEST_F(ResidentCoreTest, AnEditorThatHasNoLinkEndpointCannotHoldUpOurOwnTable) {
  m_nEditorPid = 300;  // under Wine, say: it runs, but cannot talk to us
  Start({Record("OWN.EXE", "Own", 0)});
  EXPECT_TRUE(m_link.posts.empty());
  ASSERT_NE(m_pCore->Store().Profiles(), nullptr);
  EXPECT_STREQ(m_pCore->Store().Profiles()[0].szExeName, "OWN.EXE");
}

TEST_F(ResidentCoreTest, DestroyMemoryLendsTheControllerAndCreateMemoryTakesItBack) {
  test::LogCapture log;
  Start({Record("EDIT.EXE", "Edit", 0, kVkA)});
  m_sPath = m_backend.AddController();
  ASSERT_TRUE(m_pCore->ConnectController());

  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  EXPECT_FALSE(m_pCore->Connected());
  EXPECT_EQ(m_pCore->Store().Profiles(), nullptr);
  EXPECT_EQ(m_pCore->Store().ComSet(), 1u) << "the count and the working copy stay";
  EXPECT_EQ(m_view.nHides, 1);
  EXPECT_EQ(m_link.posts, (std::vector<std::string>{"/link/editor 1"}));
  EXPECT_FALSE(m_pCore->ConnectController()) << "lent: a plug notice must not take it back";
  EXPECT_FALSE(m_pCore->ControllerPresentButClosed()) << "nothing to look for while it is lent";

  // A block that is not what the count says is refused: still no table, still lent.
  EditorBlock wrong({Record("EDIT.EXE", "Edit", 0)});
  m_pCore->OnEditorMessage(Create(2), "/link/editor", wrong.Handed());
  EXPECT_EQ(m_pCore->Store().Profiles(), nullptr);
  EXPECT_FALSE(m_pCore->Connected());
  EXPECT_NE(log.Text().find("the editor's block is refused"), std::string::npos);

  EditorBlock block({Record("EDIT.EXE", "Edit", 0, kVkA), Record("X.EXE", "X", 0)});
  m_pCore->OnEditorMessage(Create(2), "/link/editor", block.Handed());
  EXPECT_EQ(m_pCore->Store().ComSet(), 2u);
  EXPECT_TRUE(m_pCore->Connected());
  const std::string text = log.Text();
  EXPECT_NE(text.find("From ZUDADor : Destroy memory\r\n"), std::string::npos);
  EXPECT_NE(text.find("From ZUDADor : Create memory\r\nm_dwComSet = 2 OnMsgFromZUDAdor\r\n"), std::string::npos);
}

TEST_F(ResidentCoreTest, TheEditorsTableSurvivesItsEndAndTheNextSaveWritesIt) {
  Start({Record("OWN.EXE", "Own", 0)});
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  EditorBlock block({Record("EDITED.EXE", "Edited", 0)});
  m_pCore->OnEditorMessage(Create(1), "/link/editor", block.Handed());
  m_link.posts.clear();
  EXPECT_TRUE(m_pCore->SaveProfiles());
  EXPECT_EQ(m_link.posts, (std::vector<std::string>{"/link/editor 5"})) << "a save tells the editor";

  // The editor changes its block and says so: the working copy follows, so that an Apply
  // cannot put the old record back.
  std::strcpy(block.Records()[0].szAppName, "Renamed");
  m_pCore->OnEditorMessage(LINK_UPDATE, "/link/editor", UniqueFd());
  EXPECT_STREQ(m_pCore->Store().EditProfiles()[0].szAppName, "Renamed");
  EXPECT_GE(m_view.nRefreshes, 1);

  m_pCore->OnEditorMessage(LINK_END_APPLICATION, "/link/editor", UniqueFd());
  EXPECT_EQ(m_pCore->EditorWindow(), "");
  std::strcpy(block.Records()[0].szExeName, "LATER.EXE");  // the editor's block is no longer ours
  EXPECT_STREQ(m_pCore->Store().Profiles()[0].szExeName, "EDITED.EXE");
  m_pCore->SetModified(true);
  EXPECT_TRUE(m_pCore->SaveProfiles());
  const std::string saved = test::ReadFileText(m_dataFile);
  EXPECT_EQ(saved.substr(offsetof(ProfileRecord, szExeName), 10), "EDITED.EXE");
  m_link.posts.clear();
  m_pCore->Destroy();
  EXPECT_TRUE(m_link.posts.empty()) << "the editor that ended is not told of our end";
}

TEST_F(ResidentCoreTest, AnEditorThatEndsWithoutHandingATableBackLeavesTheDataFileInUse) {
  Start({Record("OWN.EXE", "Own", 0)});
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  m_pCore->OnEditorMessage(LINK_END_APPLICATION, "/link/editor", UniqueFd());
  ASSERT_NE(m_pCore->Store().Profiles(), nullptr);
  EXPECT_STREQ(m_pCore->Store().Profiles()[0].szExeName, "OWN.EXE");
  EXPECT_EQ(m_view.nFills, 1);
}

TEST_F(ResidentCoreTest, ACommandWithoutMeaningOnlyNamesTheEditorAndOurEndIsToldToIt) {
  Start({Record("OWN.EXE", "Own", 0)});
  m_pCore->OnEditorMessage(7, "/link/other", UniqueFd());
  EXPECT_EQ(m_pCore->EditorWindow(), "/link/other");
  EXPECT_NE(m_pCore->Store().Profiles(), nullptr);
  m_pCore->Destroy();
  EXPECT_EQ(m_link.posts, (std::vector<std::string>{"/link/other 5", "/link/other 2"}))
      << "the exit save is told, then our end";
}

TEST_F(ResidentCoreTest, AnEditorThatHoldsOurTableHearsOfOurEnd) {
  Start({Record("OWN.EXE", "Own", 0)});
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  m_link.posts.clear();
  const std::string before = test::ReadFileText(m_dataFile);
  m_pCore->Destroy();
  EXPECT_EQ(m_link.posts, (std::vector<std::string>{"/link/editor 2"}));
  EXPECT_EQ(test::ReadFileText(m_dataFile), before) << "no table held: nothing written";
  EXPECT_FALSE(m_pCore->ExitSaveFailed()) << "nothing to save is no failure";
}

TEST_F(ResidentCoreTest, NoControllerAtTheLendMayConnectWhileTheEditorHoldsTheTable) {
  Start({Record("EDIT.EXE", "Edit", 0, kVkA)});
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  m_sPath = m_backend.AddController();
  ASSERT_TRUE(m_pCore->ConnectController()) << "plugged in while the editor holds the table";
  Pump();
  EXPECT_EQ(m_pCore->CurrentProfile(), nullptr);
  m_backend.QueueInputReport(m_sPath, play::ButtonReport({kUsagePgm1}));
  m_backend.QueueInputReport(m_sPath, play::ButtonReport({}));

  // The table comes back: chosen once, with the controller that stayed connected.
  m_window.Take();
  EditorBlock block({Record("", "Any", PF_FALLBACK, kVkA)});
  m_pCore->OnEditorMessage(Create(1), "/link/editor", block.Handed());
  const auto posted = m_window.Take();
  EXPECT_EQ(std::count_if(posted.begin(), posted.end(), [](const auto& p) { return p.nMsg == WM_SELECTPROFILE; }), 1);
  EXPECT_EQ(m_sink.Count(), 0u) << "a press without a table plays nothing";
}

TEST_F(ResidentCoreTest, TheProfileIsChosenOnceWhenTheTableComesBackWithTheController) {
  Start({Record("EDIT.EXE", "Edit", 0)});
  m_sPath = m_backend.AddController();
  ASSERT_TRUE(m_pCore->ConnectController());
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  m_window.Take();
  EditorBlock block({Record("EDIT.EXE", "Edit", 0)});
  m_pCore->OnEditorMessage(Create(1), "/link/editor", block.Handed());
  ASSERT_TRUE(m_pCore->Connected());
  auto posted = m_window.Take();
  EXPECT_EQ(std::count_if(posted.begin(), posted.end(), [](const auto& p) { return p.nMsg == WM_SELECTPROFILE; }), 1);

  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  m_window.Take();
  m_pCore->OnEditorMessage(LINK_END_APPLICATION, "/link/editor", UniqueFd());
  posted = m_window.Take();
  EXPECT_EQ(std::count_if(posted.begin(), posted.end(), [](const auto& p) { return p.nMsg == WM_SELECTPROFILE; }), 1);
}

TEST_F(ResidentCoreTest, TheTableAnEditorLeavesIsSavedAtOnce) {
  Start({Record("OWN.EXE", "Own", 0)});
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/editor", UniqueFd());
  EditorBlock block({Record("LOADED.EXE", "Loaded", 0), Record("TWO.EXE", "Two", 0)});
  m_pCore->OnEditorMessage(Create(2), "/link/editor", block.Handed());
  m_pCore->OnEditorMessage(LINK_END_APPLICATION, "/link/editor", UniqueFd());
  const std::string saved = test::ReadFileText(m_dataFile);
  ASSERT_EQ(saved.size(), 2 * kProfileRecordSize) << "on disk before our own end";
  EXPECT_EQ(saved.substr(offsetof(ProfileRecord, szExeName), 10), "LOADED.EXE");
}

TEST_F(ResidentCoreTest, AFailedExitSaveIsReported) {
  Start({Record("OWN.EXE", "Own", 0)});
  ::chmod(m_dataFile.c_str(), 0444);  // read-only: left alone by the save
  m_pCore->Destroy();
  EXPECT_TRUE(m_pCore->ExitSaveFailed());
  EXPECT_EQ(m_pCore->Store().SaveProblem().find("read-only") != std::string::npos, true)
      << m_pCore->Store().SaveProblem();
}

TEST_F(ResidentCoreTest, ASaveKilledBeforeItsRenameLeavesNoFileAfterTheNextStart) {
  // A process that has ended (its pid is free now) and one that still runs.
  const pid_t nEnded = Spawn({"true"});
  ASSERT_GT(nEnded, 0);
  ::waitpid(nEnded, nullptr, 0);
  const std::string sDead = "ORB.DAT.tmp." + std::to_string(nEnded) + ".0";
  const std::string sLive = "ORB.DAT.tmp." + std::to_string(::getppid()) + ".3";
  test::WriteFileBytes(m_dir / sDead, "x", 1);
  test::WriteFileBytes(m_dir / sLive, "x", 1);
  test::WriteFileBytes(m_dir / "ORB.DAT.tmp.notes", "x", 1);
  Start({Record("OWN.EXE", "Own", 0)});
  EXPECT_FALSE(std::filesystem::exists(m_dir / sDead));
  EXPECT_TRUE(std::filesystem::exists(m_dir / sLive)) << "a save that may still run";
  EXPECT_TRUE(std::filesystem::exists(m_dir / "ORB.DAT.tmp.notes")) << "not a save's name";
}

TEST_F(ResidentCoreTest, AnEditorThatDiesHoldingTheTableGivesBackTableControllerAndTray) {
  Process(201, "EDIT.EXE");
  Start({Record("EDIT.EXE", "Edit", 0, kVkA)}, 1, 201);
  m_sPath = m_backend.AddController();
  ASSERT_TRUE(m_pCore->ConnectController());
  EditorProcess editor;
  ASSERT_GT(editor.Pid(), 0);
  m_link.endpoints[editor.Pid()] = {"/link/dying"};
  test::LogCapture log;
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/dying", UniqueFd(), editor.Pid());
  ASSERT_FALSE(m_pCore->Connected());
  ASSERT_GE(m_pCore->EditorWatchFd(), 0);
  m_pCore->OnEditorGone();  // a wake-up while it still runs changes nothing
  EXPECT_EQ(m_pCore->EditorWindow(), "/link/dying");

  editor.Kill();
  ASSERT_TRUE(Readable(m_pCore->EditorWatchFd()));
  m_pCore->OnEditorGone();
  EXPECT_EQ(m_pCore->EditorWindow(), "") << "the tray icon takes clicks again";
  EXPECT_EQ(m_pCore->EditorWatchFd(), -1);
  ASSERT_NE(m_pCore->Store().Profiles(), nullptr) << "our own table again";
  EXPECT_TRUE(m_pCore->Connected()) << "and the controller";
  Pump();
  EXPECT_EQ(CurrentExe(), "EDIT.EXE");
  ASSERT_TRUE(m_backend.QueueInputReport(m_sPath, play::ButtonReport({kUsagePgm1})));
  EXPECT_TRUE(WaitForKeys(2));
  EXPECT_NE(log.Text().find("ended without a word"), std::string::npos);
}

TEST_F(ResidentCoreTest, ASenderThatDiesWithoutTakingTheTableOnlyFreesTheTray) {
  Start({Record("OWN.EXE", "Own", 0)});
  EditorProcess sender;
  m_link.endpoints[sender.Pid()] = {"/link/sender"};
  m_pCore->OnEditorMessage(7, "/link/sender", UniqueFd(), sender.Pid());
  ASSERT_EQ(m_pCore->EditorWindow(), "/link/sender");
  const ProfileRecord* pTable = m_pCore->Store().Profiles();
  sender.Kill();
  ASSERT_TRUE(Readable(m_pCore->EditorWatchFd()));
  m_pCore->OnEditorGone();
  EXPECT_EQ(m_pCore->EditorWindow(), "");
  EXPECT_EQ(m_pCore->Store().Profiles(), pTable) << "the same table, not reloaded";
}

TEST_F(ResidentCoreTest, ASenderAlreadyGoneWhenItsMessageIsReadIsGoneAtOnce) {
  Start({Record("OWN.EXE", "Own", 0)});
  EditorProcess sender;
  const int nPid = sender.Pid();
  sender.Kill();  // its pid may be anybody's now: its endpoint is no longer bound
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/gone", UniqueFd(), nPid);
  EXPECT_EQ(m_pCore->EditorWindow(), "");
  EXPECT_NE(m_pCore->Store().Profiles(), nullptr) << "our own table again";

  // The same with a pid that another process took: it has no such endpoint.
  EditorProcess other;
  m_link.endpoints[other.Pid()] = {"/link/other-1"};
  m_pCore->OnEditorMessage(LINK_DESTROY_MEMORY, "/link/gone", UniqueFd(), other.Pid());
  EXPECT_EQ(m_pCore->EditorWindow(), "");
  EXPECT_NE(m_pCore->Store().Profiles(), nullptr);
}

TEST_F(ResidentCoreTest, AnEditorRunningAtStartThatDiesBeforeAnsweringLeavesUsOurTable) {
  EditorProcess editor;
  m_nEditorPid = editor.Pid();
  m_link.endpoints[editor.Pid()] = {"/link/slow"};
  Start({Record("OWN.EXE", "Own", 0)});
  ASSERT_EQ(m_pCore->Store().Profiles(), nullptr);
  ASSERT_GE(m_pCore->EditorWatchFd(), 0);
  editor.Kill();
  ASSERT_TRUE(Readable(m_pCore->EditorWatchFd()));
  m_pCore->OnEditorGone();
  ASSERT_NE(m_pCore->Store().Profiles(), nullptr);
  EXPECT_STREQ(m_pCore->Store().Profiles()[0].szExeName, "OWN.EXE");
}

// The editor's block replaced while the device thread translates button presses from it:
// a record of an unmapped view would be a crash (and TSan sees any race on the pointer).
TEST_F(ResidentCoreTest, ReplacingTheTableWhileTheControllerIsBusyNeverReadsAnOldView) {
  // The thread lingers between taking the record and reading it, where an early unmap hits.
  m_pfnProfileLoaded = [] { std::this_thread::sleep_for(std::chrono::microseconds(300)); };
  Start({Record("", "Any", PF_FALLBACK, kVkA)});
  m_sPath = m_backend.AddController();
  ASSERT_TRUE(m_pCore->ConnectController());
  Pump();
  std::atomic<bool> blStop{false};
  std::thread presses([&] {
    while (!blStop.load()) {
      m_backend.QueueInputReport(m_sPath, play::ButtonReport({kUsagePgm1}));
      m_backend.QueueInputReport(m_sPath, play::ButtonReport({}));
      std::this_thread::yield();
    }
  });
  struct Joiner {  // also when an assertion returns early
    std::atomic<bool>& blStop;
    std::thread& thread;
    ~Joiner() {
      blStop.store(true);
      if (thread.joinable()) thread.join();
    }
  } joiner{blStop, presses};
  for (int i = 0; i < 40; ++i) {
    EditorBlock block({Record("", "Any", PF_FALLBACK, kVkA)});
    m_pCore->OnEditorMessage(Create(1), "/link/editor", block.Handed());
    Pump();
    // A press played from this view before it goes: the thread is reading it right now.
    ASSERT_TRUE(WaitForKeys(m_sink.Count() + 1)) << i;
    m_pCore->OnEditorMessage(LINK_END_APPLICATION, "/link/editor", UniqueFd());
    Pump();
    ASSERT_TRUE(WaitForKeys(m_sink.Count() + 1)) << i;
  }
  EXPECT_TRUE(m_pCore->Connected());
}

TEST_F(ResidentCoreTest, TheFirstMatchingRecordWinsByNameAndVersionRuleElseTheFallback) {
  // Rule 1 compares the major version: the high word of dwVersionMS (offset 590).
  ProfileRecord cut6 = Record("SCNCUT.EXE", "Cut 6", Rule(1));
  cut6.dwVersionMS = MajorWord(6);
  ProfileRecord cut5 = Record("SCNCUT.EXE", "Cut 5", Rule(1));
  cut5.dwVersionMS = MajorWord(5);
  Start({cut6, cut5, Record("EDIT.EXE", "Edit A", 0), Record("edit.exe", "Edit B", 0), Record("", "Any", PF_FALLBACK)});
  Process(201, "SCNCUT.EXE", true, MajorWord(6) | 1);
  Process(202, "SCNCUT.EXE", true, MajorWord(5));
  Process(203, "SCNCUT.EXE", true, MajorWord(7));
  Process(204, "EDIT.EXE");
  Process(205, "SCNCUT.EXE");  // a native build: no version resource
  Process(206, "UNKNOWN");

  const struct {
    int nPid;
    const char* pExpected;
    bool blListMoves;
  } steps[] = {{201, "Cut 6", true}, {202, "Cut 5", true}, {203, "Any", false},
               {204, "Edit A", true}, {205, "Any", false},  {206, "Any", false}};
  const ProfileRecord* pTable = m_pCore->Store().Profiles();
  const ProfileRecord* pExpected[] = {&pTable[0], &pTable[1], &pTable[4], &pTable[2], &pTable[4], &pTable[4]};
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(steps[i].nPid);
    m_view.selected.clear();
    Front(1000 + i, steps[i].nPid);
    EXPECT_EQ(m_pCore->CurrentProfile(), pExpected[i]);
    ASSERT_NE(m_pCore->CurrentProfile(), nullptr);
    EXPECT_EQ(FieldText(m_pCore->CurrentProfile()->szAppName), steps[i].pExpected);
    EXPECT_EQ(!m_view.selected.empty(), steps[i].blListMoves);
  }
}

TEST_F(ResidentCoreTest, OnlyAChangeOfProcessChoosesAgainAndTheOwnWindowSetsSelf) {
  Process(201, "EDIT.EXE");
  Start({Record("EDIT.EXE", "Edit", 0)}, 1, 201);
  test::LogCapture log;
  Front(2, 201);  // another window of the application already in front
  Front(0, 0);    // the window manager between two windows: no window in front
  Front(1, 201);
  EXPECT_TRUE(m_handled.empty());
  EXPECT_EQ(log.Text(), "");
  Front(3, 100);  // our own settings window
  EXPECT_TRUE(m_pCore->Self());
  EXPECT_EQ(log.Text().find("CheckForegroundWindow: m_blSelf = 1\r\n"), 0u) << log.Text();
  Front(4, 201);
  EXPECT_FALSE(m_pCore->Self());
  EXPECT_EQ(CurrentExe(), "EDIT.EXE");
  EXPECT_EQ(std::count(m_handled.begin(), m_handled.end(), WM_SELECTPROFILE), 2);
}

TEST_F(ResidentCoreTest, ANewProgramInAReusedWindowIdOrUnderAReusedPidChoosesAgain) {
  Process(201, "EDIT.EXE");
  Process(202, "XEV");
  Start({Record("EDIT.EXE", "Edit", 0), Record("XEV", "Xev", 0)}, 1, 201, 7000);
  Front(2, 201, 7000);  // another window of the process in front at start
  EXPECT_TRUE(m_handled.empty());
  Front(3, 200, 6000);
  Front(2, 201, 7000);
  ASSERT_EQ(CurrentExe(), "EDIT.EXE");
  // The editor closes and X hands its window id to the next client: the window manager
  // names the same id again, now for another process.
  Front(2, 202, 9000);
  EXPECT_EQ(CurrentExe(), "XEV");
  // The editor starts again under the same id and the pid of the one before.
  Process(202, "EDIT.EXE");
  Front(2, 202, 9500);
  EXPECT_EQ(CurrentExe(), "EDIT.EXE");
  // The same process named again, or another of its windows: nothing to choose.
  m_handled.clear();
  Front(2, 202, 9500);
  Front(4, 202, 9500);
  EXPECT_TRUE(m_handled.empty());
}

TEST_F(ResidentCoreTest, ABackendThatKnowsNoPidNamesTheApplicationItself) {
  Process(202, "MPV");
  Start({Record("KDENLIVE", "Kdenlive", 0), Record("MPV", "mpv", 0), Record("", "Any", PF_FALLBACK)}, 1, 0);
  Front(2, 0, 0, "MPV");
  EXPECT_EQ(CurrentExe(), "MPV");
  // Another window of the same application, then another application in the same window
  // id: only the second chooses again.
  m_handled.clear();
  Front(3, 0, 0, "MPV");
  EXPECT_TRUE(m_handled.empty());
  Front(3, 0, 0, "KDENLIVE");
  EXPECT_EQ(CurrentExe(), "KDENLIVE");
  EXPECT_FALSE(m_pCore->Self());
  // A pid says more than a name: the process is asked, not the name taken.
  Front(4, 202, 0, "KDENLIVE");
  EXPECT_EQ(CurrentExe(), "MPV");
  // Nothing known at all: the fallback.
  Front(5, 0, 0, "");
  EXPECT_EQ(CurrentExe(), "");
}

TEST_F(ResidentCoreTest, SelectorsToggleTheLiveFlagsAndTheTipAndBitsFollow) {
  Process(201, "BOTH.EXE");
  Process(202, "PLAIN.EXE");
  Process(203, "WHEEL.EXE");
  Start({Record("BOTH.EXE", "Both", PF_DECKFILE | PF_DECK | PF_JOGSHUTTLE | PF_JOG),
         Record("PLAIN.EXE", "Plain", PF_DECK), Record("WHEEL.EXE", "Wheel", PF_JOGSHUTTLE),
         Record("", "Fallback", PF_FALLBACK | PF_DECKFILE)});
  m_sPath = m_backend.AddController();
  ASSERT_TRUE(m_pCore->ConnectController());
  Pump();

  Front(2, 201);
  EXPECT_EQ(m_pCore->TrayTip(), "DECK/JOG");
  EXPECT_EQ(LastFeature(), (std::vector<std::uint8_t>{3, 1 | 2}));
  m_pCore->OnModeChange(2);
  EXPECT_EQ(m_pCore->TrayTip(), "FILE/JOG");
  m_pCore->OnModeChange(1);
  EXPECT_EQ(m_pCore->TrayTip(), "FILE/SHUTTLE");
  EXPECT_EQ(LastFeature(), (std::vector<std::uint8_t>{3, 4}));
  EXPECT_EQ(m_pCore->Store().Profiles()[0].dwFlags & (PF_DECK | PF_JOG), 0u);

  Front(3, 202);  // no selectors: its own name; DECK/FILE pressed changes nothing
  EXPECT_EQ(m_pCore->TrayTip(), "Plain");
  m_pCore->OnModeChange(2);
  EXPECT_EQ(m_pCore->Store().Profiles()[1].dwFlags, PF_DECK);
  EXPECT_EQ(LastFeature(), (std::vector<std::uint8_t>{3, 1}));

  Front(4, 203);  // JOG/SHUTTLE without DECK/FILE: the mode alone
  EXPECT_EQ(m_pCore->TrayTip(), "SHUTTLE");
  Front(5, 299);  // unknown: the fallback keeps the product name, its DECK bit still counts
  EXPECT_EQ(m_pCore->TrayTip(), "SpinPad TK-4");
  EXPECT_EQ(LastFeature(), (std::vector<std::uint8_t>{3, 0}));
}

TEST_F(ResidentCoreTest, PlugUnplugThreeTimesAndTheKeysOfTheApplicationInFrontArrive) {
  Process(201, "EDIT.EXE");
  Start({Record("EDIT.EXE", "Edit", 0, kVkA)}, 1, 201);
  test::LogCapture log;
  EXPECT_FALSE(m_pCore->ConnectController());
  EXPECT_EQ(log.Text(), "") << "no controller: nothing is logged";
  m_sPath = m_backend.AddController();

  for (int nCycle = 0; nCycle < 3; ++nCycle) {
    SCOPED_TRACE(nCycle);
    ASSERT_TRUE(m_pCore->ConnectController());
    Pump();  // connected: the profile of the application in front is chosen again
    EXPECT_EQ(CurrentExe(), "EDIT.EXE");
    m_sink.Clear();
    ASSERT_TRUE(m_backend.QueueInputReport(m_sPath, play::ButtonReport({kUsagePgm1})));
    ASSERT_TRUE(WaitForKeys(2));
    EXPECT_EQ(m_sink.Records()[0].nVk, kVkA);

    m_backend.Unplug(m_sPath);
    ASSERT_TRUE(m_window.WaitFor(WM_DEVICEREMOVED));
    Pump();
    EXPECT_FALSE(m_pCore->Connected());
    EXPECT_FALSE(g_blRepeatCommand.load());
    m_backend.Plug(m_sPath);
  }
  const std::string text = log.Text();
  std::size_t nConnected = 0, nRemoved = 0;
  for (std::size_t at = 0; (at = text.find("Controller connected!\r\n", at)) != std::string::npos; ++at) ++nConnected;
  for (std::size_t at = 0; (at = text.find("Device Removed!\r\n", at)) != std::string::npos; ++at) ++nRemoved;
  EXPECT_EQ(nConnected, 3u);
  EXPECT_EQ(nRemoved, 3u);
}

TEST_F(ResidentCoreTest, AControllerThatCannotBeOpenedIsPresentButClosedUntilItOpens) {
  Start({Record("EDIT.EXE", "Edit", 0)});
  EXPECT_FALSE(m_pCore->ControllerPresentButClosed());
  m_sPath = m_backend.AddController();
  m_backend.SetOpenFails(m_sPath, true);
  EXPECT_FALSE(m_pCore->ConnectController());
  EXPECT_TRUE(m_pCore->ControllerPresentButClosed());
  m_backend.SetOpenFails(m_sPath, false);
  EXPECT_TRUE(m_pCore->ConnectController());
  EXPECT_FALSE(m_pCore->ControllerPresentButClosed());
}

TEST_F(ResidentCoreTest, EndingSavesEverythingSwitchesTheBitsOffAndClosesTheDevice) {
  Process(201, "EDIT.EXE");
  Start({Record("EDIT.EXE", "Edit", PF_DECKFILE | PF_DECK)}, 1, 201);
  m_sPath = m_backend.AddController();
  ASSERT_TRUE(m_pCore->ConnectController());
  Pump();
  std::strcpy(m_pCore->Store().EditProfiles()[0].szAppName, "Unapplied");
  m_pCore->SetModified(true);
  EXPECT_TRUE(m_view.blApply);
  m_pCore->Destroy();
  EXPECT_EQ(LastFeature(), (std::vector<std::uint8_t>{3, 0}));
  EXPECT_FALSE(m_pCore->Connected());
  EXPECT_EQ(m_pCore->Device().pDevice, nullptr);
  const std::string saved = test::ReadFileText(m_dataFile);
  ASSERT_EQ(saved.size(), 5008u);
  EXPECT_STREQ(saved.c_str() + offsetof(ProfileRecord, szAppName), "Unapplied");
}

TEST_F(ResidentCoreTest, EndingWithoutAControllerDoesNotWait) {
  Start({Record("EDIT.EXE", "Edit", 0)});
  m_pCore->Destroy();  // would block for ever if it waited for a thread never started
  EXPECT_FALSE(m_pCore->Connected());
}

TEST_F(ResidentCoreTest, SetToDefaultAsksFirstThenResetsTableAndStartupSettings) {
  Start({Record("MINE.EXE", "Mine", 0)});
  m_view.blAnswerOk = false;
  m_pCore->OnSetDefault();
  EXPECT_EQ(m_view.questions, (std::vector<std::string>{"SpinPad TK-4: can I set to default? (Y/N)"}));
  EXPECT_EQ(FieldText(m_pCore->Store().Profiles()[0].szExeName), "MINE.EXE");
  EXPECT_EQ(m_view.nStartupResets, 0);

  m_view.blAnswerOk = true;
  m_pCore->OnSetDefault();
  EXPECT_EQ(FieldText(m_pCore->Store().Profiles()[0].szExeName), "DEFAULT.EXE");
  EXPECT_EQ(m_view.nRefreshes, 1);
  EXPECT_EQ(m_view.nStartupResets, 1);
  EXPECT_FALSE(m_view.blApply);
  m_pCore->Destroy();  // the defaults reach the data file at exit
  EXPECT_EQ(test::ReadFileText(m_dataFile).substr(offsetof(ProfileRecord, szExeName), 11), "DEFAULT.EXE");
}

TEST_F(ResidentCoreTest, AHostModeProfileIsPolledWhileItIsCurrent) {
  Process(201, "HOSTED.EXE");
  Process(202, "EDIT.EXE");
  Start({Record("HOSTED.EXE", "Hosted", PF_HOSTMODE), Record("EDIT.EXE", "Edit", 0)});
  Front(2, 201);
  EXPECT_TRUE(m_view.blPolling);
  // Each poll asks the window to read the editor's mode again: WM_MODECHANGE with 1, and
  // nothing else (0 would only redraw the tip, 2 would flip DECK/FILE).
  for (int i = 0; i < 2; ++i) {
    m_pCore->PollHostMode();
    const auto posted = m_window.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted.front().nMsg, WM_MODECHANGE);
    EXPECT_EQ(posted.front().wParam, 1u);
  }
  Front(3, 202);
  EXPECT_FALSE(m_view.blPolling);
  // A poll that comes late, after the profile changed, asks for nothing.
  m_pCore->PollHostMode();
  EXPECT_TRUE(m_window.Take().empty());
}

}  // namespace
}  // namespace orb
