// GetAppInfo over a /proc tree laid out by the test (Wine, native and interpreted
// programs, sandbox roots, over-long texts), then over real processes: this test, a shell
// script blocked reading a pipe, and a zombie.
#include "platform/process/app_info.h"
#include "platform/process/editor_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "pe_builder.h"
#include "support/temp_dir.h"

namespace orb::platform {
namespace {

namespace fs = std::filesystem;

constexpr int kPid = 4242;

class FakeProc : public ::testing::Test {
 protected:
  FakeProc() {
    fs::create_directories(Dir());
    fs::create_directory_symlink("/", Dir() / "root");
  }

  fs::path Dir() const { return m_dir / "proc" / std::to_string(kPid); }
  std::string ProcRoot() const { return (m_dir / "proc").string(); }

  void Write(const char* pName, const std::string& sText) const {
    test::WriteFileBytes(Dir() / pName, sText.data(), sText.size());
  }
  void Exe(const std::string& sTarget) const { fs::create_symlink(sTarget, Dir() / "exe"); }
  void Cmdline(const std::vector<std::string>& args) const {
    std::string sText;
    for (const std::string& sArg : args) sText += sArg + '\0';
    Write("cmdline", sText);
  }
  // A maps line for a file, with the kernel's padding before the path.
  static std::string MapsLine(const std::string& sPath) {
    return "140000000-140001000 r--p 00000000 08:02 2000001                  " + sPath + "\n";
  }
  std::string WritePe(const fs::path& path, std::uint32_t dwMS, std::uint32_t dwLS) const {
    fs::create_directories(path.parent_path());
    const test::PeFile pe = test::BuildPe(false, dwMS, dwLS);
    test::WriteFileBytes(path, pe.bytes.data(), pe.bytes.size());
    return path.string();
  }

  AppInfo Get() const {
    AppInfo info;
    info.sExeName = "stale";
    info.blHasVersion = true;
    info.dwVersionMS = 1;
    m_blResult = GetAppInfo(kPid, ProcRoot(), &info);
    return info;
  }

  test::TempDir m_dir;
  mutable bool m_blResult = false;
};

TEST_F(FakeProc, AWineProgramIsNamedByItsExeAndVersionedByItsFile) {
  const std::string sExe =
      WritePe(m_dir / "drive_c" / "Program Files" / "Edit  Suite" / "Editor.exe", 0x00050001, 0x00020003);
  Write("maps", "00400000-00401000 r--p 00000000 08:02 11 /usr/bin/wine64-preloader\n" +
                    MapsLine("/usr/lib/wine/x86_64-unix/notepad.exe.so") + MapsLine(sExe) +
                    MapsLine(WritePe(m_dir / "later.exe", 9, 9)));
  Exe("/usr/bin/wine64-preloader");
  const AppInfo info = Get();
  ASSERT_TRUE(m_blResult);
  EXPECT_EQ(info.sExeName, "EDITOR.EXE");
  EXPECT_TRUE(info.blHasVersion);
  EXPECT_EQ(info.dwVersionMS, 0x00050001u);
  EXPECT_EQ(info.dwVersionLS, 0x00020003u);
}

TEST_F(FakeProc, TheExeIsReadThroughTheProcessRoot) {
  // A sandboxed Wine: the path in maps is inside the process's own root, not ours.
  const fs::path sandbox = m_dir / "sandbox";
  WritePe(sandbox / "app" / "Tool.exe", 0x00010002, 0x00030004);
  fs::remove(Dir() / "root");
  fs::create_directory_symlink(sandbox, Dir() / "root");
  Write("maps", MapsLine("/app/Tool.exe"));
  const AppInfo info = Get();
  ASSERT_TRUE(m_blResult);
  EXPECT_EQ(info.sExeName, "TOOL.EXE");
  EXPECT_TRUE(info.blHasVersion);
  EXPECT_EQ(info.dwVersionLS, 0x00030004u);
}

TEST_F(FakeProc, AWineProgramWithoutAReadableVersionHasNone) {
  // Deleted: the path now holds another file (here a valid one), which must not be read.
  const std::string sExe = WritePe(m_dir / "Setup.exe", 7, 7);
  Write("maps", MapsLine(sExe + " (deleted)"));
  AppInfo info = Get();
  ASSERT_TRUE(m_blResult);
  EXPECT_EQ(info.sExeName, "SETUP.EXE");
  EXPECT_FALSE(info.blHasVersion);
  EXPECT_EQ(info.dwVersionMS, 0u);
  EXPECT_EQ(info.dwVersionLS, 0u);

  const fs::path bare = m_dir / "Bare.com";
  test::WriteFileBytes(bare, "MZ", 2);
  Write("maps", MapsLine(bare.string()));
  info = Get();
  ASSERT_TRUE(m_blResult);
  EXPECT_EQ(info.sExeName, "BARE.COM");
  EXPECT_FALSE(info.blHasVersion);
  EXPECT_EQ(info.dwVersionMS, 0u);
}

TEST_F(FakeProc, TheExeIsFoundFarIntoALongMapsText) {
  // Many lines, more than one read's worth, and one line longer than any the kernel
  // writes: the scan goes on past it and across read boundaries.
  std::string sMaps = "0-1 r--p 0 08:02 1 /" + std::string(40000, 'x') + ".exe\n";
  for (int i = 0; i < 3000; ++i)
    sMaps += MapsLine("/usr/lib/x86_64-linux-gnu/libsomething-" + std::to_string(i) + ".so");
  sMaps += MapsLine("/games/Late Start.EXE");
  Write("maps", sMaps.substr(0, sMaps.size() - 1));  // no final line end
  const AppInfo info = Get();
  ASSERT_TRUE(m_blResult);
  EXPECT_EQ(info.sExeName, "LATE START.EXE");
  EXPECT_FALSE(info.blHasVersion);  // no such file
}

TEST_F(FakeProc, ANativeProgramIsNamedByItsExecutable) {
  Write("maps", MapsLine("/usr/bin/kdenlive") + MapsLine("/usr/lib/wine/notepad.exe.so"));
  Exe("/usr/bin/kdenlive");
  AppInfo info = Get();
  ASSERT_TRUE(m_blResult);
  EXPECT_EQ(info.sExeName, "KDENLIVE");
  EXPECT_FALSE(info.blHasVersion);
  EXPECT_EQ(info.dwVersionMS, 0u);

  // Upgraded while it runs; a dot-extension stays.
  fs::remove(Dir() / "exe");
  Exe("/opt/Studio/studio.bin (deleted)");
  info = Get();
  ASSERT_TRUE(m_blResult);
  EXPECT_EQ(info.sExeName, "STUDIO.BIN");
}

TEST_F(FakeProc, AnInterpretedProgramIsNamedByItsScript) {
  Write("maps", "");
  Exe("/usr/bin/python3.11");
  Cmdline({"/usr/bin/python3", "/usr/share/flowblade/flowblade"});
  EXPECT_EQ(Get().sExeName, "FLOWBLADE");
  Cmdline({"python3", "-s", "/usr/lib/openshot/openshot-qt.py"});
  EXPECT_EQ(Get().sExeName, "OPENSHOT-QT.PY");
  Cmdline({"python3", "-m", "openshot_qt"});
  EXPECT_EQ(Get().sExeName, "OPENSHOT_QT");
  // No script file: the interpreter names itself.
  Cmdline({"python3", "-c", "import openshot_qt"});
  EXPECT_EQ(Get().sExeName, "PYTHON3.11");
  Cmdline({"python3", "/srv/app/"});
  EXPECT_EQ(Get().sExeName, "APP");
  Cmdline({"python3", "/"});
  EXPECT_EQ(Get().sExeName, "PYTHON3.11");
  fs::remove(Dir() / "cmdline");
  EXPECT_EQ(Get().sExeName, "PYTHON3.11");
  EXPECT_TRUE(m_blResult);
}

TEST_F(FakeProc, ALongCommandLineIsReadOnlyAsFarAsItsLimit) {
  Write("maps", "");
  Exe("/usr/bin/python3");
  Cmdline({"python3", "tool.py", std::string(100000, 'a')});
  EXPECT_EQ(Get().sExeName, "TOOL.PY");
  // The script itself runs past the limit: what was read of it is no name.
  Cmdline({"python3", "/" + std::string(100000, 'b') + "/tool.py"});
  EXPECT_EQ(Get().sExeName, "PYTHON3");
}

TEST_F(FakeProc, AGoneProcessGivesNothing) {
  Write("maps", "");  // a zombie: empty maps, no executable
  AppInfo info = Get();
  EXPECT_FALSE(m_blResult);
  EXPECT_EQ(info.sExeName, "");
  EXPECT_FALSE(info.blHasVersion);
  EXPECT_EQ(info.dwVersionMS, 0u);

  fs::remove_all(Dir());
  info = Get();
  EXPECT_FALSE(m_blResult);
  EXPECT_EQ(info.sExeName, "");
  EXPECT_FALSE(GetAppInfo(0, ProcRoot(), &info));
  EXPECT_FALSE(GetAppInfo(-1, &info));
}

std::string UpperFileName(const fs::path& path) {
  std::string sName = path.filename().string();
  for (char& ch : sName) ch = (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
  return sName;
}

TEST(RealProcess, ThisTestIsNamedByItsExecutable) {
  AppInfo info;
  ASSERT_TRUE(GetAppInfo(::getpid(), &info));
  EXPECT_EQ(info.sExeName, UpperFileName(fs::read_symlink("/proc/self/exe")));
  EXPECT_FALSE(info.blHasVersion);
}

// A child running /bin/sh with arguments, its standard input a pipe we hold. Once the
// constructor returns, the exec has happened: the close-on-exec pipe reached its end.
class ShellChild final {
 public:
  explicit ShellChild(std::vector<std::string> args) {
    int stdinPipe[2];
    int execPipe[2];
    if (::pipe(stdinPipe) != 0 || ::pipe2(execPipe, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (std::string& sArg : args) argv.push_back(sArg.data());
    argv.push_back(nullptr);
    m_nPid = ::fork();
    if (m_nPid == 0) {
      ::dup2(stdinPipe[0], 0);
      ::close(stdinPipe[0]);
      ::close(stdinPipe[1]);
      ::close(execPipe[0]);
      ::execv("/bin/sh", argv.data());
      const char chFailed = 1;
      (void)!::write(execPipe[1], &chFailed, 1);
      ::_exit(127);
    }
    ::close(stdinPipe[0]);
    ::close(execPipe[1]);
    m_nStdin = stdinPipe[1];
    char ch = 0;
    ssize_t nRead = 0;
    do {
      nRead = ::read(execPipe[0], &ch, 1);
    } while (nRead < 0 && errno == EINTR);
    m_blExecuted = m_nPid > 0 && nRead == 0;
    ::close(execPipe[0]);
  }
  ~ShellChild() {
    if (m_nStdin >= 0) ::close(m_nStdin);  // the shell's read ends, and so does the shell
    if (m_nPid > 0) {
      int nStatus = 0;
      ::waitpid(m_nPid, &nStatus, 0);
    }
  }
  ShellChild(const ShellChild&) = delete;
  ShellChild& operator=(const ShellChild&) = delete;

  pid_t Pid() const { return m_nPid; }
  bool Executed() const { return m_blExecuted; }

 private:
  pid_t m_nPid = -1;
  int m_nStdin = -1;
  bool m_blExecuted = false;
};

TEST(RealProcess, AShellScriptIsNamedByTheScriptAndInlineCodeByTheShell) {
  test::TempDir dir;
  const fs::path script = dir / "wait-for-input.sh";
  const std::string sScript = "read line\n";
  test::WriteFileBytes(script, sScript.data(), sScript.size());
  {
    ShellChild child({"sh", script.string()});
    ASSERT_TRUE(child.Executed());
    AppInfo info;
    ASSERT_TRUE(GetAppInfo(child.Pid(), &info));
    EXPECT_EQ(info.sExeName, "WAIT-FOR-INPUT.SH");
  }
  {
    ShellChild child({"sh", "-c", "read line"});
    ASSERT_TRUE(child.Executed());
    AppInfo info;
    ASSERT_TRUE(GetAppInfo(child.Pid(), &info));
    EXPECT_EQ(info.sExeName, UpperFileName(fs::canonical("/bin/sh")));
  }
}

TEST(RealProcess, AZombieGivesNothing) {
  const pid_t nPid = ::fork();
  ASSERT_GE(nPid, 0);
  if (nPid == 0) ::_exit(0);
  // Wait until it has exited, but leave it unreaped.
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(nPid), &info, WEXITED | WNOWAIT), 0);
  AppInfo app;
  EXPECT_FALSE(GetAppInfo(nPid, &app));
  EXPECT_EQ(app.sExeName, "");
  int nStatus = 0;
  ::waitpid(nPid, &nStatus, 0);
}

constexpr std::string_view kEditors[] = {"ZUDADOR.EXE", "MAPEDIT.EXE"};

TEST(EditorProcess, NamesMatchInAnyCaseWithOrWithoutTheExtension) {
  EXPECT_TRUE(IsEditorName("MAPEDIT.EXE", kEditors));
  EXPECT_TRUE(IsEditorName("mapedit.exe", kEditors));
  EXPECT_TRUE(IsEditorName("ZUDADOR", kEditors));  // a native port's own file name
  EXPECT_FALSE(IsEditorName("MAPEDITOR.EXE", kEditors));
  EXPECT_FALSE(IsEditorName("MAPEDIT.COM", kEditors));
  EXPECT_FALSE(IsEditorName("", kEditors));
}

TEST(EditorProcess, ARunningEditorIsFoundByItsPidAndOurOwnProcessNever) {
  test::TempDir dir;
  const std::string sScript = "read line\n";
  for (const char* pName : {"MapEdit.exe", "zudador"}) {
    const fs::path script = dir / pName;
    test::WriteFileBytes(script, sScript.data(), sScript.size());
  }
  EXPECT_EQ(FindEditorProcess(kEditors, ::getpid()), 0) << "no editor runs yet";
  {
    ShellChild editor({"sh", (dir / "MapEdit.exe").string()});
    ASSERT_TRUE(editor.Executed());
    EXPECT_EQ(FindEditorProcess(kEditors, ::getpid()), editor.Pid());
    EXPECT_EQ(FindEditorProcess(kEditors, editor.Pid()), 0) << "the caller itself is no editor";
  }
  {
    ShellChild editor({"sh", (dir / "zudador").string()});
    ASSERT_TRUE(editor.Executed());
    EXPECT_EQ(FindEditorProcess(kEditors, ::getpid()), editor.Pid());
  }
}

// Kernel threads and other users' processes cannot be an editor that talks to us: they
// are passed over unread (a look at each filled the log with a line per kernel thread).
TEST(EditorProcess, OnlyOurOwnProgramsAreLookedAt) {
  test::TempDir root;
  const auto makeProcess = [&](int nPid, const std::string& sCmdline) {
    const fs::path dir = root / std::to_string(nPid);
    fs::create_directories(dir);
    test::WriteFileBytes(dir / "cmdline", sCmdline.data(), sCmdline.size());
  };
  makeProcess(2, "");                      // a kernel thread
  makeProcess(40, std::string("sh\0x", 4));  // a program of ours
  makeProcess(41, std::string("sh\0y", 4));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((root / "41").c_str(), 4242, 4242), 0);  // another user's
  }
  std::vector<int> looked;
  const auto read = [&](int nPid, AppInfo* pInfo) {
    looked.push_back(nPid);
    pInfo->sExeName = "MAPEDIT.EXE";
    return true;
  };
  EXPECT_EQ(FindEditorProcess(kEditors, 0, root.Path().string(), read), 40);
  EXPECT_EQ(looked, std::vector<int>{40});
  if (::geteuid() == 0) {
    looked.clear();
    EXPECT_EQ(FindEditorProcess(kEditors, 40, root.Path().string(), read), 0);
    EXPECT_TRUE(looked.empty()) << "another user's process is no editor of ours";
  }
}

}  // namespace
}  // namespace orb::platform
