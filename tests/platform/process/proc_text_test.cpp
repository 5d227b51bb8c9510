// The /proc text parsers: maps lines as the kernel writes them for Wine and native
// processes, names made from paths, and which argument of an interpreter is the script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process/app_name.h"
#include "platform/process/maps_text.h"
#include "platform/process/script_name.h"

namespace orb::platform {
namespace {

using namespace std::string_literals;

// Shaped like a 64-bit Wine process: the loader, Unix libraries, PE builtins, the heap,
// a Unix builtin named *.exe.so, then the program.
const char kWineMaps[] =
    "00010000-00011000 r--p 00000000 00:00 0 \n"
    "7d000000-7d001000 r--p 00000000 08:02 1835123                    /usr/bin/wine64-preloader\n"
    "7d400000-7d500000 rw-p 00000000 00:00 0                          [heap]\n"
    "7e000000-7e001000 r--p 00000000 00:00 0                          [anon:wine]\n"
    "7f1000000000-7f1000100000 r-xp 00000000 08:02 1835300            /usr/lib/wine/x86_64-unix/notepad.exe.so\n"
    "7f2000000000-7f2000100000 r-xp 00000000 08:02 1835301            /opt/tool.exe/lib/libhelper.so\n"
    "140000000-140001000 r--p 00000000 08:02 2000001       /home/u/.wine/drive_c/Program Files/Edit  Suite/EDITOR.EXE\n"
    "140001000-140200000 r-xp 00001000 08:02 2000001       /home/u/.wine/drive_c/Program Files/Edit  Suite/EDITOR.EXE\n"
    "150000000-150001000 r--p 00000000 08:02 2000002          /home/u/.wine/drive_c/windows/system32/other.exe\n"
    "7ffd0000-7ffd1000 r-xp 00000000 00:00 0                          [vdso]\n";

std::string Module(std::string_view sMaps, bool* pblDeleted = nullptr) {
  MapsModule module{};
  if (!FindWindowsModule(sMaps, &module)) return "<none>";
  if (pblDeleted != nullptr) *pblDeleted = module.blDeleted;
  return std::string(module.sPath);
}

TEST(MapsText, TheFirstExeInFileOrderNamesTheProgram) {
  bool blDeleted = true;
  EXPECT_EQ(Module(kWineMaps, &blDeleted), "/home/u/.wine/drive_c/Program Files/Edit  Suite/EDITOR.EXE");
  EXPECT_FALSE(blDeleted);
  // Extensions in any case, .com too; the last line may lack its line end.
  EXPECT_EQ(Module("00400000-00401000 r--p 00000000 08:02 12 /mnt/games/Old/Game.Com"), "/mnt/games/Old/Game.Com");
  EXPECT_EQ(Module("00400000-00401000 r--p 00000000 fe:01 12 /a/b.eXe\n"), "/a/b.eXe");
}

TEST(MapsText, NativeLinesAndNearMissesAreNoModule) {
  const char kNative[] =
      "55d0c0000000-55d0c0010000 r--p 00000000 08:02 393 /usr/bin/kdenlive\n"
      "7f0000000000-7f0000001000 r--p 00000000 08:02 394 /usr/lib/x86_64-linux-gnu/wine/notepad.exe.so\n"
      "7f0000002000-7f0000003000 r--p 00000000 08:02 395 /usr/share/tool.exe/data.bin\n"
      "7f0000004000-7f0000005000 rw-s 00000000 00:01 396 /memfd:pool.exe.cache (deleted)\n"
      "7f0000006000-7f0000007000 r--p 00000000 08:02 397 /srv/app.exe \n"
      "7f0000008000-7f0000009000 rw-p 00000000 00:00 0 [stack]\n";
  EXPECT_EQ(Module(kNative), "<none>");
  EXPECT_EQ(Module(""), "<none>");
  // Not the kernel's fields: no module, however the path ends.
  EXPECT_EQ(Module("garbage /x/app.exe\n"), "<none>");
  EXPECT_EQ(Module("0-1 r--p 0 08:02 /x/app.exe\n"), "<none>");
  EXPECT_EQ(Module("0-1 r--p zz 08:02 1 /x/app.exe\n"), "<none>");
  EXPECT_EQ(Module("0-1 r--p 0 08:02 1 relative/app.exe\n"), "<none>");
  EXPECT_EQ(Module("0-1 r--p 0 08:02 1 /x/.exe/\n"), "<none>");
  EXPECT_EQ(Module("0-1 r--p 0 08:02 1 [app.exe]\n"), "<none>");
}

TEST(MapsText, ADeletedFileIsMarkedAndItsPathKept) {
  bool blDeleted = false;
  EXPECT_EQ(Module("140000000-140001000 r--p 00000000 08:02 7 /games/Run Me/setup.exe (deleted)\n", &blDeleted),
            "/games/Run Me/setup.exe");
  EXPECT_TRUE(blDeleted);
  std::string_view sPath;
  ASSERT_TRUE(ParseMapsPath("0-1 r--p 0 0:1 5 /memfd:wine (deleted)", &sPath));
  EXPECT_EQ(sPath, "/memfd:wine (deleted)");
  EXPECT_FALSE(ParseMapsPath("0-1 rw-p 0 00:00 0 ", &sPath));
}

TEST(AppName, FileNamesAreUpperCasedInAsciiAndCutAtAWholeCharacter) {
  EXPECT_EQ(FileNameOf("/usr/share/flowblade/flowblade"), "flowblade");
  EXPECT_EQ(FileNameOf("/opt/app/"), "app");
  EXPECT_EQ(FileNameOf("openshot-qt.py"), "openshot-qt.py");
  EXPECT_EQ(FileNameOf("/"), "");
  EXPECT_EQ(FileNameOf("./"), "");
  EXPECT_EQ(FileNameOf("/a/.."), "");
  EXPECT_EQ(AppNameOf("kdenlive"), "KDENLIVE");
  EXPECT_EQ(AppNameOf("openshot-qt.py"), "OPENSHOT-QT.PY");
  EXPECT_EQ(AppNameOf("caf\xc3\xa9-\xe7\xb7\xa8\xe9\x9b\x86.exe"), "CAF\xc3\xa9-\xe7\xb7\xa8\xe9\x9b\x86.EXE");

  EXPECT_EQ(AppNameOf(std::string(300, 'a')), std::string(kMaxAppName, 'A'));
  // A two-byte character at bytes 259 and 260 does not fit: the name stops before it.
  EXPECT_EQ(AppNameOf(std::string(259, 'a') + "\xc3\xa9zz"), std::string(259, 'A'));
  // Bytes that are no UTF-8 are cut at the limit.
  EXPECT_EQ(AppNameOf(std::string(300, '\x80')), std::string(kMaxAppName, '\x80'));

  bool blDeleted = false;
  EXPECT_EQ(StripDeletedSuffix("/usr/bin/kdenlive (deleted)", &blDeleted), "/usr/bin/kdenlive");
  EXPECT_TRUE(blDeleted);
  EXPECT_EQ(StripDeletedSuffix(" (deleted)", &blDeleted), " (deleted)");
  EXPECT_FALSE(blDeleted);
}

TEST(Cmdline, SplitsAtNulsAndKeepsAnUnterminatedLastWord) {
  using Words = std::vector<std::string_view>;
  EXPECT_EQ(SplitCmdline("python3\0app.py\0\0x\0"s), (Words{"python3", "app.py", "", "x"}));
  EXPECT_EQ(SplitCmdline("retitled process"s), (Words{"retitled process"}));
  EXPECT_EQ(SplitCmdline(""s), Words{});
}

TEST(Cmdline, InterpretersAreKnownWithVersionSuffixes) {
  for (const char* pName : {"python", "python3", "python3.11", "pypy3", "perl", "perl5.36.0", "ruby3.1", "sh", "bash",
                            "dash", "zsh", "fish", "node", "nodejs", "lua5.4", "luajit", "tclsh8.6"}) {
    EXPECT_TRUE(IsInterpreter(pName)) << pName;
  }
  for (const char* pName : {"", "kdenlive", "python3-config", "bashbug", "shotwell", "nodemon", "sh.real", "3python"}) {
    EXPECT_FALSE(IsInterpreter(pName)) << pName;
  }
}

std::string Script(const char* pExe, std::vector<std::string_view> args) {
  return std::string(ChooseScript(pExe, args));
}

TEST(Cmdline, PythonSkipsOptionsAndTheirValues) {
  EXPECT_EQ(Script("python3.11", {"/usr/bin/python3", "/usr/share/flowblade/flowblade", "--debug"}),
            "/usr/share/flowblade/flowblade");
  EXPECT_EQ(Script("python3", {"python3", "-s", "-W", "ignore", "-X", "dev", "-Bu", "app.py", "-W"}), "app.py");
  EXPECT_EQ(Script("python3", {"python3", "-Wignore", "-Xdev", "app.py"}), "app.py");
  EXPECT_EQ(Script("python3", {"python3", "--check-hash-based-pycs", "always", "app.py"}), "app.py");
  EXPECT_EQ(Script("python3", {"python3", "--", "-odd.py"}), "-odd.py");
  EXPECT_EQ(Script("python3", {"python3", "-W"}), "");
}

TEST(Cmdline, PythonModulesAreNamedAndInlineCodeIsNot) {
  EXPECT_EQ(Script("python3", {"python3", "-m", "openshot_qt", "app.py"}), "openshot_qt");
  EXPECT_EQ(Script("python3", {"python3", "-mhttp.server"}), "http.server");
  EXPECT_EQ(Script("python3", {"python3", "-Im", "pkg.tool"}), "pkg.tool");
  EXPECT_EQ(Script("python3", {"python3", "-m"}), "");
  EXPECT_EQ(Script("python3", {"python3", "-c", "import app", "app.py"}), "");
  EXPECT_EQ(Script("python3", {"python3", "-Ec", "import app"}), "");
  EXPECT_EQ(Script("python3", {"python3", "-", "app.py"}), "");
  EXPECT_EQ(Script("python3", {"python3"}), "");
}

TEST(Cmdline, ShellsTakeCAndSAsFlagsAndPlusOptions) {
  EXPECT_EQ(Script("dash", {"/bin/sh", "/usr/bin/start-editor"}), "/usr/bin/start-editor");
  EXPECT_EQ(Script("bash", {"bash", "-e", "-o", "pipefail", "+O", "extglob", "run.sh"}), "run.sh");
  EXPECT_EQ(Script("bash", {"bash", "--login", "--rcfile", "my.rc", "run.sh"}), "run.sh");
  EXPECT_EQ(Script("dash", {"sh", "-c", "exec editor", "name"}), "");
  EXPECT_EQ(Script("bash", {"bash", "-ec", "exec editor"}), "");
  EXPECT_EQ(Script("zsh", {"zsh", "-s", "arg"}), "");
  EXPECT_EQ(Script("bash", {"bash"}), "");
  EXPECT_EQ(Script("fish", {"fish", "-C", "set x 1", "run.fish"}), "run.fish");
  EXPECT_EQ(Script("fish", {"fish", "--command=ls"}), "");
}

TEST(Cmdline, PerlRubyNodeLuaAndTcl) {
  EXPECT_EQ(Script("perl", {"/usr/bin/perl", "-w -T", "/usr/bin/tool.pl"}), "/usr/bin/tool.pl");  // a shebang's options
  EXPECT_EQ(Script("perl", {"perl", "-I", "lib", "-MData::Dumper", "-i.bak", "x.pl"}), "x.pl");
  EXPECT_EQ(Script("perl", {"perl", "-ne", "print", "file"}), "");
  EXPECT_EQ(Script("ruby", {"ruby", "-r", "bundler/setup", "-W0", "app.rb"}), "app.rb");
  EXPECT_EQ(Script("ruby", {"ruby", "-e", "puts 1"}), "");
  EXPECT_EQ(Script("node", {"node", "--require", "ts-node/register", "--inspect=9229", "-r", "x", "server.js"}),
            "server.js");
  EXPECT_EQ(Script("node", {"node", "--eval=run()"}), "");
  EXPECT_EQ(Script("node", {"node", "-p", "1+1"}), "");
  EXPECT_EQ(Script("lua5.4", {"lua", "-e", "x=1", "-l", "mod", "game.lua"}), "game.lua");
  EXPECT_EQ(Script("tclsh8.6", {"tclsh", "-encoding", "utf-8", "app.tcl"}), "app.tcl");
  EXPECT_EQ(Script("kdenlive", {"kdenlive", "project.kdenlive"}), "");
}

}  // namespace
}  // namespace orb::platform
