// The real program, run on Qt's offscreen platform: start-up, options, log, signals.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <string>

#include "orb_program.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::test;

class OrbProgram : public ::testing::Test {
 protected:
  // Each test has its own working directory and settings; the runtime directory (and
  // with it the single-instance lock) is the test process's own.
  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args) {
    return StartOrb(args, m_dir.Path(),
                    {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_CONFIG_HOME", (m_dir / "config").string()}});
  }
  fs::path LogFile() const { return m_dir / "ORB.LOG"; }
  void WriteSettings(const std::string& text) {
    fs::create_directories(m_dir / "config" / "TARN");
    WriteFileBytes(m_dir / "config" / "TARN" / "ORB.conf", text.data(), text.size());
  }
  // Running and serving: the instance socket answers. Offscreen there is no notification
  // area, so the question itself brings the window up ("shown").
  static bool WaitUntilServing() {
    return WaitUntil(
        [] {
          const std::string reply = AskOverSocket(SocketFile(), std::chrono::seconds(2));
          return reply == "hidden\n" || reply == "shown\n";
        },
        kStartTimeout);
  }

  TempDir m_dir;
};

TEST_F(OrbProgram, HelpPrintsUsageAndStartsNothing) {
  auto orb = Start({"--help"});
  const auto status = orb->WaitForExit(kExitTimeout);
  ASSERT_TRUE(ExitedWithZero(status)) << DescribeStatus(status);
  const std::string usage = orb->Stdout();
  for (const char* pItem : {"Usage: orb", "/S", "/m", "ORB.LOG", "ORB.DAT", "TARN/ORB.conf", "XDG_RUNTIME_DIR",
                            "XDG_CONFIG_HOME", "LC_MESSAGES", "ORB_HID=sim:PATH", "ORB_KEYS=xtest|uinput|wayland|record"}) {
    EXPECT_NE(usage.find(pItem), std::string::npos) << pItem;
  }
  EXPECT_FALSE(fs::exists(RuntimeDir() / "Running ORB"));
  EXPECT_FALSE(fs::exists(LogFile()));
}

TEST_F(OrbProgram, LogOptionRecreatesTheLogAndSigtermEndsInOrder) {
  WriteFileBytes(LogFile(), "old line\r\n", 10);
  auto orb = Start({"/M"});
  ASSERT_TRUE(WaitForFileText(LogFile(), "Make main window")) << orb->Stderr();
  const std::string head = ReadFileText(LogFile());
  EXPECT_TRUE(std::regex_search(head, std::regex("^Make main window : -?[0-9]+\r\n"))) << head;
  EXPECT_EQ(head.find("old line"), std::string::npos);

  ASSERT_TRUE(orb->Signal(SIGTERM));
  const auto status = orb->WaitForExit(kExitTimeout);
  EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status);
  // The window's destruction wrote its line before the log was closed.
  const std::string log = ReadFileText(LogFile());
  EXPECT_TRUE(log.ends_with("CMainDialog: destroyed\r\n")) << log;
  EXPECT_FALSE(fs::exists(SocketFile()));
  EXPECT_FALSE(InstanceLockIsHeld());
}

TEST_F(OrbProgram, InterruptAndHangupEndInOrderToo) {
  for (int nSignal : {SIGINT, SIGHUP}) {
    fs::remove(LogFile());
    auto orb = Start({"/m"});
    ASSERT_TRUE(WaitForFileText(LogFile(), "Make main window")) << orb->Stderr();
    ASSERT_TRUE(orb->Signal(nSignal));
    const auto status = orb->WaitForExit(kExitTimeout);
    EXPECT_TRUE(ExitedWithZero(status)) << "signal " << nSignal << ": " << DescribeStatus(status);
    EXPECT_TRUE(ReadFileText(LogFile()).ends_with("CMainDialog: destroyed\r\n"));
  }
}

// A session manager or `timeout` that repeats its signal while the end saves must not cut
// the save short; and an end that could not save says so in its status.
TEST_F(OrbProgram, MoreSignalsWaitForTheEndAndAFailedSaveEndsWithOne) {
  auto orb = Start({"/m"});
  ASSERT_TRUE(WaitForFileText(LogFile(), "Make main window")) << orb->Stderr();
  ASSERT_TRUE(orb->Signal(SIGTERM));
  ASSERT_TRUE(WaitForFileText(LogFile(), "CSignalWatcher: signal 15, ending"));
  for (int nSignal : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) {
    orb->Signal(nSignal);
  }
  auto status = orb->WaitForExit(kExitTimeout);
  EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status);
  EXPECT_TRUE(fs::exists(m_dir / "ORB.DAT")) << "the built-in table saved at the end";
  for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
    EXPECT_EQ(entry.path().filename().string().find("ORB.DAT.tmp."), std::string::npos) << entry.path();
  }

  fs::permissions(m_dir / "ORB.DAT", fs::perms::owner_read | fs::perms::group_read);
  fs::remove(LogFile());
  orb = Start({"/m"});
  ASSERT_TRUE(WaitForFileText(LogFile(), "Make main window")) << orb->Stderr();
  ASSERT_TRUE(orb->Signal(SIGTERM));
  status = orb->WaitForExit(kExitTimeout);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << DescribeStatus(status);
  EXPECT_NE(ReadFileText(LogFile()).find("the profiles are not saved"), std::string::npos) << ReadFileText(LogFile());
}

TEST_F(OrbProgram, WithoutLogOptionNoFileIsWritten) {
  auto orb = Start({"-x", "/n"});
  ASSERT_TRUE(WaitUntilServing()) << orb->Stderr();
  ASSERT_TRUE(orb->Signal(SIGTERM));
  const auto status = orb->WaitForExit(kExitTimeout);
  EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status);
  EXPECT_FALSE(fs::exists(LogFile()));
}

TEST_F(OrbProgram, SilentStartEndsAtOnceWhenStartupIsOff) {
  WriteSettings("[General]\nStartup=0\n");
  auto orb = Start({"/s", "/m"});
  const auto status = orb->WaitForExit(kExitTimeout);
  EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status);
  EXPECT_FALSE(fs::exists(LogFile())) << "it ended before the log is opened";
  EXPECT_FALSE(InstanceLockIsHeld());
  EXPECT_FALSE(fs::exists(SocketFile()));
}

TEST_F(OrbProgram, SilentStartStaysWhenStartupIsOnOrMissing) {
  for (const char* pSettings : {"", "[General]\nStartup=1\n"}) {
    WriteSettings(pSettings);
    fs::remove(LogFile());
    auto orb = Start({"/S", "/m"});
    EXPECT_TRUE(WaitForFileText(LogFile(), "Make main window")) << pSettings;
    EXPECT_TRUE(orb->IsRunning());
    orb->Signal(SIGTERM);
    EXPECT_TRUE(ExitedWithZero(orb->WaitForExit(kExitTimeout)));
  }
}

TEST_F(OrbProgram, ACrashedInstanceDoesNotBlockTheNextStart) {
  auto crashed = Start({});
  ASSERT_TRUE(WaitUntilServing()) << crashed->Stderr();
  crashed->Signal(SIGKILL);
  crashed->WaitForExit(kExitTimeout);
  ASSERT_TRUE(fs::exists(SocketFile())) << "a killed instance leaves its socket file";

  auto orb = Start({"/m"});
  ASSERT_TRUE(WaitForFileText(LogFile(), "Make main window")) << orb->Stderr();
  EXPECT_TRUE(WaitUntilServing()) << "the new instance took the stale socket over";
  orb->Signal(SIGTERM);
  EXPECT_TRUE(ExitedWithZero(orb->WaitForExit(kExitTimeout)));
}

}  // namespace

namespace {

// A companion editor at start: orbctl's link watch under the editor's name is one, as a
// native port would be (its own file name is its application name).
TEST_F(OrbProgram, WithTheEditorRunningAtStartItIsToldAndNoDataFileIsRead) {
  fs::copy_file(ORBCTL_BINARY, m_dir / "mapedit");
  ChildProcess editor({(m_dir / "mapedit").string(), "link", "watch", "--count", "1"}, m_dir.Path());
  const fs::path links = RuntimeDir() / "orb-link";
  const std::string sPrefix = std::to_string(editor.Pid()) + "-";
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(links, error)) {
          if (entry.path().filename().string().starts_with(sPrefix)) return true;
        }
        return false;
      },
      kStartTimeout))
      << editor.Stderr();

  auto orb = Start({"/m"});
  const auto editorStatus = editor.WaitForExit(kStartTimeout);
  ASSERT_TRUE(ExitedWithZero(editorStatus)) << DescribeStatus(editorStatus) << editor.Stderr();
  EXPECT_NE(editor.Stdout().find("LINK_READY 1"), std::string::npos) << editor.Stdout();
  ASSERT_TRUE(WaitForFileText(LogFile(), "the editor runs as process " + std::to_string(editor.Pid())));

  // This editor ends after LINK_READY without handing a table: orb, watching it, takes its
  // own table rather than wait for one that will not come.
  ASSERT_TRUE(WaitForFileText(LogFile(), "ended without a word")) << ReadFileText(LogFile());
  ASSERT_TRUE(WaitForFileText(LogFile(), "no table to take back; the data file is read"));

  ASSERT_TRUE(orb->Signal(SIGTERM));
  const auto status = orb->WaitForExit(kExitTimeout);
  EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status);
  EXPECT_TRUE(fs::exists(m_dir / "ORB.DAT")) << "our own table, saved at the end";
}

}  // namespace
