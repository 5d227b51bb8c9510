// The real program on the X display: what a second start shows, and racing starts.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "orb_program.h"
#include "x11_desktop.h"
#include "x11_windows.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::test;

constexpr const char* kCaption = "SpinPad TK-4";

class OrbOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) {
      GTEST_SKIP() << "needs an X display (DISPLAY is not set)";
    }
    ASSERT_TRUE(m_x11.IsOpen()) << "cannot open DISPLAY " << std::getenv("DISPLAY");
    // Without a tray icon a second start shows the first instance's window instead of the
    // message; the panel of the test session may still be starting.
    X11Desktop desktop;
    if (!desktop.WaitForTrayHost(kStartTimeout)) {
      GTEST_SKIP() << "no tray host on this display (scripts/with-x11 starts tint2 when it is installed)";
    }
    // The resident notice would be a window of the first instance too (its caption is the
    // product name); these tests are about the second start's message.
    const fs::path config = fs::path(std::getenv("XDG_CONFIG_HOME")) / "TARN";
    fs::create_directories(config);
    const std::string text = "[General]\nShowStay=0\n";
    WriteFileBytes(config / "ORB.conf", text.data(), text.size());
  }

  std::unique_ptr<ChildProcess> Start(const TempDir& dir, const std::vector<std::string>& args) {
    // English, so that the box's caption and text are known.
    return StartOrb(args, dir.Path(), {{"QT_QPA_PLATFORM", "xcb"}, {"LC_ALL", "C"}});
  }

  std::vector<unsigned long> Boxes(const ChildProcess& orb) { return m_x11.FindWindows(orb.Pid(), kCaption); }

  X11Windows m_x11;
};

TEST_F(OrbOnX11, SecondStartWhileTheFirstIsHiddenShowsTheMessageAndEnds) {
  TempDir firstDir;
  TempDir secondDir;
  auto first = Start(firstDir, {"/m"});
  ASSERT_TRUE(WaitForFileText(firstDir / "ORB.LOG", "Make main window")) << first->Stderr();

  auto second = Start(secondDir, {"/m"});
  std::vector<unsigned long> boxes;
  ASSERT_TRUE(WaitUntil([&] { return !(boxes = Boxes(*second)).empty(); }, kStartTimeout))
      << DescribeStatus(second->WaitForExit(std::chrono::milliseconds(0))) << second->Stderr();
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(Boxes(*first).empty()) << "the first instance shows nothing";
  EXPECT_FALSE(fs::exists(secondDir / "ORB.LOG")) << "the second start ends before its log";

  m_x11.Close(boxes.front());
  const auto status = second->WaitForExit(kExitTimeout);
  EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status);

  EXPECT_TRUE(first->IsRunning()) << "the first instance is untouched";
  EXPECT_EQ(AskOverSocket(SocketFile(), std::chrono::seconds(5)), "hidden\n");
  first->Signal(SIGTERM);
  EXPECT_TRUE(ExitedWithZero(first->WaitForExit(kExitTimeout)));
}

TEST_F(OrbOnX11, TwoStartsAtOnceLeaveExactlyOneInstance) {
  TempDir dirA;
  TempDir dirB;
  auto a = Start(dirA, {"/m"});
  auto b = Start(dirB, {"/m"});

  // The loser shows the message; the winner opens its log and runs on.
  ChildProcess* pLoser = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        pLoser = !Boxes(*a).empty() ? a.get() : !Boxes(*b).empty() ? b.get() : nullptr;
        return pLoser != nullptr;
      },
      kStartTimeout));
  ChildProcess* pWinner = pLoser == a.get() ? b.get() : a.get();
  const TempDir& winnerDir = pWinner == a.get() ? dirA : dirB;
  const TempDir& loserDir = pWinner == a.get() ? dirB : dirA;
  ASSERT_TRUE(WaitForFileText(winnerDir / "ORB.LOG", "Make main window")) << pWinner->Stderr();
  EXPECT_FALSE(fs::exists(loserDir / "ORB.LOG"));
  EXPECT_TRUE(Boxes(*pWinner).empty());
  EXPECT_TRUE(InstanceLockIsHeld());

  m_x11.Close(Boxes(*pLoser).front());
  EXPECT_TRUE(ExitedWithZero(pLoser->WaitForExit(kExitTimeout)));
  EXPECT_TRUE(pWinner->IsRunning());
  pWinner->Signal(SIGTERM);
  EXPECT_TRUE(ExitedWithZero(pWinner->WaitForExit(kExitTimeout)));
  EXPECT_FALSE(InstanceLockIsHeld());
}

}  // namespace
