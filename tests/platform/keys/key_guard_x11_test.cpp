// The key guard under a real X server: a program holding keys through the real XTest
// sink is killed or crashes, and the server must show the keys up within a second; a
// start after a run whose guard went too must release what that run left down.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/keys/held_keys.h"
#include "platform/keys/key_guard.h"
#include "support/temp_dir.h"

namespace orb::platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kVkA = "41";
constexpr const char* kVkShift = "10";
constexpr const char* kVkControl = "11";

// key_guard_driver as a child: "down" read from it once its keys are pressed.
class Driver {
 public:
  Driver(const test::TempDir& dir, std::vector<std::string> args) {
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
      return;
    }
    args.insert(args.begin(), {ORB_KEY_GUARD_DRIVER, dir.Path().string()});
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(toChild[0], STDIN_FILENO);
      ::dup2(fromChild[1], STDOUT_FILENO);
      ::execv(ORB_KEY_GUARD_DRIVER, argv.data());
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_nStdin = toChild[1];
    m_nStdout = fromChild[0];
  }
  ~Driver() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      Wait();
    }
    if (m_nStdin >= 0) {
      ::close(m_nStdin);
    }
    ::close(m_nStdout);
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  bool WaitForDown() {
    pollfd fd{m_nStdout, POLLIN, 0};
    char text[5] = {};
    return ::poll(&fd, 1, 20000) == 1 && ::read(m_nStdout, text, 5) == 5 && std::string(text, 5) == "down\n";
  }
  void Send() { (void)!::write(m_nStdin, "x\n", 2); }
  void CloseInput() {
    ::close(m_nStdin);
    m_nStdin = -1;
  }
  void Kill() { ::kill(m_pid, SIGKILL); }
  // The wait status.
  int Wait() {
    int nStatus = -1;
    ::waitpid(m_pid, &nStatus, 0);
    m_pid = -1;
    return nStatus;
  }

 private:
  pid_t m_pid = -1;
  int m_nStdin = -1;
  int m_nStdout = -1;
};

class KeyGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* pDisplay = std::getenv("DISPLAY");
    if (pDisplay == nullptr || *pDisplay == '\0') {
      GTEST_SKIP() << "DISPLAY is not set: no X server to hold keys on";
    }
    m_pDisplay = XOpenDisplay(nullptr);
    ASSERT_NE(m_pDisplay, nullptr);
    for (const KeySym nKeysym : {XK_a, XK_Shift_L, XK_Control_L}) {
      m_keyCodes.push_back(XKeysymToKeycode(m_pDisplay, nKeysym));
      ASSERT_NE(m_keyCodes.back(), 0) << "keysym 0x" << std::hex << nKeysym << " is not in the keyboard map";
    }
    ASSERT_TRUE(WaitForDownCount(0)) << "a key of the test is down before it starts";
  }
  void TearDown() override {
    if (m_pDisplay != nullptr) {
      XCloseDisplay(m_pDisplay);
    }
  }

  // How many of the test's keys the server holds down now.
  std::size_t DownCount() {
    char keys[32] = {};
    XQueryKeymap(m_pDisplay, keys);
    std::size_t nDown = 0;
    for (const KeyCode nCode : m_keyCodes) {
      nDown += (keys[nCode / 8] >> (nCode % 8)) & 1;
    }
    return nDown;
  }

  // The driver's presses reach the server on its own connection: seen from ours a moment
  // later. True once exactly nCount of the test's keys are down (5 s at most).
  bool WaitForDownCount(std::size_t nCount) {
    const auto start = Clock::now();
    while (DownCount() != nCount && Clock::now() - start < 5s) {
      std::this_thread::sleep_for(5ms);
    }
    return DownCount() == nCount;
  }

  // The time until none of the test's keys is down, or 5 s when they stay.
  Clock::duration TimeUntilAllUp() {
    const auto start = Clock::now();
    while (DownCount() != 0 && Clock::now() - start < 5s) {
      std::this_thread::sleep_for(5ms);
    }
    return Clock::now() - start;
  }

  // The guard's pid, from the driver's log.
  pid_t GuardPid() {
    const std::string log = test::ReadFileText(m_dir / "driver.log");
    const std::string prefix = "KeyGuard: guard process ";
    const std::size_t nAt = log.find(prefix);
    return nAt == std::string::npos ? -1 : static_cast<pid_t>(std::atoi(log.c_str() + nAt + prefix.size()));
  }

  test::TempDir m_dir;
  Display* m_pDisplay = nullptr;
  std::vector<KeyCode> m_keyCodes;
};

TEST_F(KeyGuardTest, KeysHeldByAProgramKilledWithSigkillAreUpWithinASecond) {
  for (int i = 0; i < 3; ++i) {
    Driver driver(m_dir, {"hold", kVkControl, kVkShift, kVkA});
    ASSERT_TRUE(driver.WaitForDown());
    ASSERT_TRUE(WaitForDownCount(3));
    driver.Kill();
    const auto took = TimeUntilAllUp();
    EXPECT_LT(took, 1s) << "run " << i << ": keys still down after "
                        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    const int nStatus = driver.Wait();
    EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL);
  }
}

TEST_F(KeyGuardTest, ACrashReleasesTheKeysAndStillEndsByItsSignal) {
  for (const char* pMode : {"segv", "abort"}) {
    Driver driver(m_dir, {pMode, kVkShift, kVkA});
    ASSERT_TRUE(driver.WaitForDown());
    ASSERT_TRUE(WaitForDownCount(2));
    driver.Send();
    EXPECT_LT(TimeUntilAllUp(), 1s) << pMode;
    const int nStatus = driver.Wait();
    // The handler passes the signal on: the program still dies of it (a sanitizer's own
    // handler may end it with a status instead).
    EXPECT_TRUE(WIFSIGNALED(nStatus) || (WIFEXITED(nStatus) && WEXITSTATUS(nStatus) != 0)) << pMode;
  }
}

TEST_F(KeyGuardTest, AnOrderlyEndWithKeysDownReleasesThem) {
  Driver driver(m_dir, {"hold", kVkA});
  ASSERT_TRUE(driver.WaitForDown());
  ASSERT_TRUE(WaitForDownCount(1));
  driver.CloseInput();
  const int nStatus = driver.Wait();
  EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
  EXPECT_TRUE(WaitForDownCount(0)) << "released by the sink itself as it went";
}

TEST_F(KeyGuardTest, AStartReleasesWhatARunWhoseGuardWentTooLeftDown) {
  {
    Driver driver(m_dir, {"hold", kVkControl, kVkA});
    ASSERT_TRUE(driver.WaitForDown());
    const pid_t nGuard = GuardPid();
    ASSERT_GT(nGuard, 0) << test::ReadFileText(m_dir / "driver.log");
    // Both killed at once, as a kill of the whole session would: nobody releases.
    ASSERT_EQ(::kill(nGuard, SIGKILL), 0);
    driver.Kill();
    driver.Wait();
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(WaitForDownCount(2)) << "without its guard the server keeps the keys down";
  }
  Driver next(m_dir, {"start"});
  const int nStatus = next.Wait();
  EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
  EXPECT_TRUE(WaitForDownCount(0));
  EXPECT_NE(test::ReadFileText(m_dir / "driver.log").find("KeyGuard: released 2 key(s) left down by process "),
            std::string::npos)
      << test::ReadFileText(m_dir / "driver.log");
}

}  // namespace
}  // namespace orb::platform
