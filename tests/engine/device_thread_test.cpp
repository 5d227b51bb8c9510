// The worker threads end to end: the real DeviceThread and PostThread over the simulated
// controller and its real decoder, with the recording key sink. Most run on virtual time
// (exact times, no waiting); the last ones on the real clock.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <chrono>
#include <thread>
#include <cstring>
#include <string>
#include <vector>

#include "base/log_capture.h"
#include "device/device_discovery.h"
#include "engine/command_buffer.h"
#include "engine/device_thread.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/sim_hid_backend.h"
#include "platform/keys/key_sink.h"
#include "platform/time/clock.h"
#include "platform/time/sync.h"
#include "test_profile.h"
#include "tools/orbctl/play_script.h"
#include "tools/orbctl/play_session.h"

namespace orb {
namespace {

using play::ButtonReport;
using play::WheelReport;
using test::Flags;
using test::Key;
using test::TestProfile;

constexpr int kUsagePgm1 = 3;
constexpr int kUsagePgm2 = 9;
constexpr int kUsageCap = 5;
constexpr int kUsagePlay = 13;

std::vector<ProfileRecord> Table() {
  TestProfile editor(Flags(0, 4, 0));  // FILE mode, shuttle, every report a step
  editor.Both(601, {Key('A')});
  editor.Both(602, {Key('B'), Key('C')});
  editor.Both(609, {Key('R')}, true);                         // CAP repeats
  editor.Both(610, {Key('P', 0, 2)});                         // PLAY: P, then 200 ms
  editor.Both(CC_SHUTTLE_FIRST + 2 * 6 + 1, {Key('L')}, true);  // +1 forward repeats
  editor.Both(CC_SHUTTLE_FIRST + 2 * 5 + 0, {Key('K')});       // centre backward
  std::strcpy(editor->szExeName, "EDITOR.EXE");
  TestProfile other(Flags(0, 0, 0));
  other.Both(601, {Key('Z')});
  return {*editor.Get(), *other.Get()};
}

class SessionTest : public ::testing::Test {
 protected:
  SessionTest()
      : m_session(Table(), true, [this](const std::string& line) { m_lines.push_back(line); }) {}

  void SetUp() override { ASSERT_TRUE(m_session.Start()); }

  // The key and post lines only.
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (const std::string& line : m_lines) {
      if (line.find(" log ") == std::string::npos) {
        keys.push_back(line);
      }
    }
    return keys;
  }
  bool Logged(const std::string& text) const {
    return std::find(m_lines.begin(), m_lines.end(), text) != m_lines.end();
  }
  std::ptrdiff_t IndexOf(const std::string& text) const {
    return std::find(m_lines.begin(), m_lines.end(), text) - m_lines.begin();
  }
  std::ptrdiff_t IndexOfEnding(const std::string& tail) const {
    return std::find_if(m_lines.begin(), m_lines.end(),
                        [&](const std::string& line) {
                          return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
                        }) -
           m_lines.begin();
  }

  std::vector<std::string> m_lines;
  play::PlaySession m_session;
};

TEST_F(SessionTest, RepeatCommandPlaysUntilTheNextCommandWhichPlaysOnce) {
  m_session.SelectProfile(0);
  m_session.QueueReport(ButtonReport({kUsageCap}));
  m_session.QueueReport(ButtonReport({}));
  m_session.Wait(300);
  m_session.QueueReport(ButtonReport({kUsagePgm1}));
  m_session.Wait(500);
  // DeviceThread plays R at 0; PostThread takes over at once when the lock is free, then
  // every 100 ms play + 10 ms. PGM1 at 300 waits for the play in progress (its flush
  // needs the lock), then A is played exactly once and nothing repeats any more.
  EXPECT_EQ(Keys(), (std::vector<std::string>{"0.0 down 0x52", "100.0 up 0x52", "100.0 down 0x52", "200.0 up 0x52",
                                              "210.0 down 0x52", "310.0 up 0x52", "310.0 down 0x41",
                                              "410.0 up 0x41"}));
  EXPECT_TRUE(CommandBufferEmpty());
  EXPECT_TRUE(Logged("410.0 log DeviceThread: Flush for non-repeat command"));
  EXPECT_TRUE(Logged("410.0 log DeviceThread: flushCommand"));
}

TEST_F(SessionTest, ChoosingTheProfileAgainStopsTheRepetitionButLeavesTheBuffer) {
  m_session.SelectProfile(0);
  m_session.QueueReport(WheelReport(1));  // shuttle +1 forward: L, repeating
  m_session.Wait(150);
  m_session.SelectProfile(0);  // the foreground check found another process
  m_session.Wait(1000);
  EXPECT_EQ(Keys(), (std::vector<std::string>{"0.0 down 0x4C", "100.0 up 0x4C", "100.0 down 0x4C", "200.0 up 0x4C"}));
  EXPECT_FALSE(CommandBufferEmpty());  // stale until the next command flushes it
  EXPECT_FALSE(g_blRepeatCommand.load());
}

TEST_F(SessionTest, OwnWindowInFrontPlaysNothingAndSelectsButtons) {
  m_session.SelectProfile(0);
  m_session.SetSelf(true);
  m_session.QueueReport(ButtonReport({kUsagePgm2}));
  m_session.QueueReport(ButtonReport({kUsagePlay}));
  m_session.QueueReport(WheelReport(1));
  m_session.Wait(100);
  m_session.SelectProfile(-1);  // our own executable has no profile: still selects
  m_session.QueueReport(ButtonReport({kUsagePgm1}));
  m_session.Wait(100);
  // The wheel only tells the window how far it moved (its speed test).
  EXPECT_EQ(Keys(), (std::vector<std::string>{"0.0 post 1038 602 0", "0.0 post 1040 0 1", "100.0 post 1038 601 0"}));
}

TEST_F(SessionTest, WithoutAProfileEveryReportIsReadAndDropped) {
  m_session.SelectProfile(-1);
  for (int i = 0; i < 5; ++i) {
    m_session.QueueReport(ButtonReport({kUsagePgm1}));
    m_session.QueueReport(WheelReport(-1));
  }
  m_session.Wait(100);
  EXPECT_TRUE(Keys().empty());
  m_session.SelectProfile(1);
  m_session.QueueReport(ButtonReport({kUsagePgm1}));
  m_session.Wait(100);
  EXPECT_EQ(Keys(), (std::vector<std::string>{"100.0 down 0x5A", "200.0 up 0x5A"}));
}

TEST_F(SessionTest, UnplugEndsBothThreadsInOrderAndPlugStartsAFreshPair) {
  m_session.SelectProfile(0);
  m_session.QueueReport(ButtonReport({kUsageCap}));  // a repeat is running when it goes
  m_session.Wait(50);
  m_session.Unplug();
  m_session.Wait(500);
  EXPECT_FALSE(m_session.Connected());
  // The read fails after the hold of R ends at 100; PostThread, which took the repeat
  // over at that moment, finishes its play (to 200) and its 10 ms before it ends.
  const auto posted = IndexOf("100.0 post 1039 0 0");
  const auto postEnd = IndexOf("210.0 log PostThread: terminate");
  const auto deviceEnd = IndexOf("210.0 log DeviceThread: terminate");
  ASSERT_LT(deviceEnd, static_cast<std::ptrdiff_t>(m_lines.size()));
  EXPECT_LT(posted, postEnd);
  EXPECT_LT(postEnd, deviceEnd);
  EXPECT_TRUE(Logged("100.0 log Device Removed!"));
  EXPECT_FALSE(g_blRepeatCommand.load());
  const std::size_t nKeysBefore = Keys().size();

  // Twice more: each time the stop waits for the thread that is running now.
  for (int nCycle = 0; nCycle < 2; ++nCycle) {
    m_session.Plug();
    ASSERT_TRUE(m_session.Connected());
    m_session.QueueReport(ButtonReport({kUsagePgm1}));
    m_session.Wait(50);
    m_session.Unplug();  // during the hold of A: the play ends first
    m_session.Wait(100);
    EXPECT_FALSE(m_session.Connected());
  }
  const std::vector<std::string> keys = Keys();
  EXPECT_EQ(std::vector<std::string>(keys.begin() + static_cast<std::ptrdiff_t>(nKeysBefore), keys.end()),
            (std::vector<std::string>{"550.0 down 0x41", "650.0 up 0x41", "650.0 post 1039 0 0", "700.0 down 0x41",
                                      "800.0 up 0x41", "800.0 post 1039 0 0"}));
  EXPECT_EQ(std::count(m_lines.begin(), m_lines.end(), "800.0 log DeviceThread: terminate"), 1);
}

TEST_F(SessionTest, EndingWhileACommandPlaysWaitsForThePlayToEnd) {
  m_session.SelectProfile(0);
  m_session.QueueReport(ButtonReport({kUsagePlay}));  // P held 100 ms, then a 200 ms pause
  m_session.Wait(50);
  m_session.Finish();
  EXPECT_EQ(m_session.NowUs(), 300000u);
  EXPECT_EQ(Keys(), (std::vector<std::string>{"0.0 down 0x50", "100.0 up 0x50"}));
  EXPECT_EQ(m_lines.back(), "300.0 log DeviceThread: terminate");
}

TEST(SessionDeterminismTest, TheSameStepsGiveTheSameLinesEveryRun) {
  std::vector<std::string> first;
  for (int nRun = 0; nRun < 5; ++nRun) {
    std::vector<std::string> lines;
    {
      play::PlaySession session(Table(), true, [&](const std::string& line) { lines.push_back(line); });
      ASSERT_TRUE(session.Start());
      session.SelectProfile(0);
      session.QueueReport(WheelReport(1));
      session.QueueReport(WheelReport(-1));
      session.QueueReport(ButtonReport({kUsageCap}));
      session.Wait(230);
      session.QueueReport(ButtonReport({kUsagePgm2}));
      session.QueueReport(WheelReport(1));
      session.Wait(777);
    }
    if (nRun == 0) {
      first = lines;
      EXPECT_GT(first.size(), 40u);
    } else {
      ASSERT_EQ(lines, first) << "run " << nRun;
    }
  }
}

TEST(SessionRestartTest, ANewThreadPairNeverReplaysTheCommandOfTheLastOne) {
  // The controller was lent to the editor while a repeat ran: the threads were stopped
  // without the repeat flag being cleared, and the buffer still holds the command.
  CopyToCommandBuffer({Key('L'), 0, 0, 0, 0});
  g_blRepeatCommand = true;
  std::vector<std::string> lines;
  play::PlaySession session(Table(), false, [&](const std::string& line) { lines.push_back(line); });
  ASSERT_TRUE(session.Start());  // the threads run before the profile is chosen again
  session.Wait(500);
  EXPECT_TRUE(lines.empty());
}

// The real clock: the threads sleep on the device and the events, so nothing here needs a
// time-out to come round; a lost wake-up would hang the test.
class RealClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetCurrentHidBackend(&m_backend);
    m_sPath = m_backend.AddController();
    ASSERT_TRUE(FindAndOpenController(m_record));
    m_params.pWindow = &m_window;
    m_params.pDevice = &m_record;
    m_params.pblRepeat = &g_blRepeatCommand;
    m_params.pblSelf = &m_blSelf;
    m_params.pKeySink = &m_sink;
    m_params.ppProfile = &m_pProfile;
    m_params.pClock = &platform::RealClock();
  }
  void TearDown() override {
    m_control.Stop();
    CloseDeviceRecord(m_record, true);
    platform::SetCurrentHidBackend(nullptr);
  }

  platform::SimulatedHidBackend m_backend;
  std::string m_sPath;
  HidDeviceRecord m_record;
  test::RecordingWindow m_window;
  std::atomic<bool> m_blSelf{false};
  std::atomic<ProfileRecord*> m_pProfile{nullptr};
  platform::RecordingKeySink m_sink{platform::RealClock()};
  DeviceThreadParams m_params;
  DeviceThreadControl m_control;

 public:  // for the sink's observer
  int m_nEvents = 0;  // under the sink's lock
  platform::Event m_sixEvents{platform::RealClock()};
};

TEST_F(RealClockTest, StopEndsAnIdleThreadPairAndSignalsTheStopEvent) {
  test::LogCapture log;
  ASSERT_TRUE(m_control.Start(m_params));
  m_control.Stop();
  EXPECT_TRUE(m_control.Finished());
  const std::string text = log.Text();
  EXPECT_EQ(text.rfind("DeviceThread: start\r\n", 0), 0u);
  EXPECT_LT(text.find("PostThread: terminate"), text.find("DeviceThread: terminate"));
  // A second start resets the stop event first, and the next stop waits for that thread.
  ASSERT_TRUE(m_control.Start(m_params));
  EXPECT_FALSE(m_control.Finished());
  m_control.Stop();
  EXPECT_TRUE(m_control.Finished());
}

TEST_F(RealClockTest, AReportBecomesKeyStrokesAndARepeatGoesOnUntilStopped) {
  TestProfile profile(Flags(0, 0, 0));
  profile.Both(601, {Key('A')}, true);
  m_pProfile = profile.Get();
  m_sink.SetObserver(
      [](void* pContext, const platform::RecordingKeySink::Record&) {
        auto* pSelf = static_cast<RealClockTest*>(pContext);
        if (++pSelf->m_nEvents == 6) {
          pSelf->m_sixEvents.Set();
        }
      },
      this);
  ASSERT_TRUE(m_control.Start(m_params));
  ASSERT_TRUE(m_backend.QueueInputReport(m_sPath, ButtonReport({kUsagePgm1})));
  // Wait for the thing itself: the end of PostThread's second play.
  ASSERT_TRUE(m_sixEvents.Wait(60000));
  m_control.Stop();
  const auto records = m_sink.Records();
  ASSERT_GE(records.size(), 6u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].nVk, 'A');
    EXPECT_EQ(records[i].blUp, i % 2 == 1);
  }
  // Each key held at least 100 ms.
  EXPECT_GE(records[1].nTimeUs - records[0].nTimeUs, 100000u);
  EXPECT_EQ(records.size() % 2, 0u);  // the stop let the play in progress finish
}

// The window waits for the device thread to let go of a record before a table goes; that
// hold can last as long as a repeating command plays, so the wait must sleep, not spin.
TEST(ProfileRelease, TheWaitSleepsUntilTheThreadLetsGo) {
  DeviceThreadParams params;
  params.blHoldingProfile.store(true);
  std::atomic<bool> blDone{false};
  std::atomic<long long> nCpuNs{-1};
  std::thread waiter([&] {
    timespec begin{}, end{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
    WaitUntilProfileReleased(params);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    nCpuNs = (end.tv_sec - begin.tv_sec) * 1000000000LL + (end.tv_nsec - begin.tv_nsec);
    blDone = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the hold itself
  EXPECT_FALSE(blDone.load()) << "returned while the record was held";
  ReleaseProfile(params);
  waiter.join();
  EXPECT_TRUE(blDone.load());
  EXPECT_LT(nCpuNs.load(), 20'000'000LL) << "the waiting thread burnt CPU for the whole hold";
}

// Fills the process's file table, so that the next eventfd fails as it does when the
// descriptors are used up; Release gives them back.
class FileTableFull final {
 public:
  FileTableFull() {
    ::getrlimit(RLIMIT_NOFILE, &m_old);
    rlimit low = m_old;
    low.rlim_cur = std::min<rlim_t>(m_old.rlim_cur, 256);
    ::setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;) m_fds.push_back(fd);
  }
  ~FileTableFull() { Release(); }
  void Release() {
    for (int fd : m_fds) ::close(fd);
    m_fds.clear();
    ::setrlimit(RLIMIT_NOFILE, &m_old);
  }

 private:
  rlimit m_old{};
  std::vector<int> m_fds;
};

TEST_F(RealClockTest, StopEndsAnIdleThreadWhoseReadEventGotNoFd) {
#if defined(__SANITIZE_ADDRESS__)
  // Its checks open pipes of their own, and fail (with false reports) in a full file table.
  GTEST_SKIP() << "the address sanitizer's runtime needs free file descriptors";
#endif
  test::LogCapture log;
  FileTableFull full;
  ASSERT_TRUE(m_control.Start(m_params));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (log.Text().find("DeviceThread: EVENT READ has no fd") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  full.Release();
  ASSERT_NE(log.Text().find("DeviceThread: EVENT READ has no fd; checking for a stop every 10 ms"), std::string::npos);
  // The controller lies still: only the timed wait can see the request.
  m_control.RequestStop();
  std::shared_ptr<platform::Event> pStopped = platform::OpenNamedEvent(kEventStopDevice);
  ASSERT_TRUE(pStopped);
  const bool blStopped = pStopped->Wait(20000);
  if (!blStopped) m_backend.Unplug(m_sPath);  // let TearDown end the thread anyway
  EXPECT_TRUE(blStopped);
}

TEST_F(RealClockTest, UnplugPostsDeviceRemovedAndEndsTheThreads) {
  ASSERT_TRUE(m_control.Start(m_params));
  m_backend.Unplug(m_sPath);
  m_control.WaitStopped();  // the thread ends by itself
  EXPECT_EQ(m_window.Messages(), (std::vector<test::RecordingWindow::Posted>{{WM_DEVICEREMOVED, 0, 0}}));
}

}  // namespace
}  // namespace orb
