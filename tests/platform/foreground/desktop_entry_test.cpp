// Naming an application from a Wayland app_id: the Exec line of its desktop entry, the
// folders entries are looked for in, and app_ids that must not be taken as paths.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/foreground/desktop_entry.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace orb::platform {
namespace {

TEST(DesktopEntryProgramTest, TakesTheMainGroupsExecProgram) {
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nName=Kdenlive\nExec=kdenlive %F\n"), "kdenlive");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\r\nExec = /usr/bin/shotcut\r\n"), "/usr/bin/shotcut");
  // An action's Exec, a translated key and a comment are not the entry's program.
  EXPECT_EQ(DesktopEntryProgram("# Exec=wrong\n[Desktop Entry]\nExec[de]=falsch\nExec=right\n"
                                "[Desktop Action New]\nExec=other --new\n"),
            "right");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Action New]\nExec=other\n[Desktop Entry]\nName=x\n"), "");
  EXPECT_EQ(DesktopEntryProgram("Exec=outside-any-group\n"), "");
  EXPECT_EQ(DesktopEntryProgram(""), "");
}

TEST(DesktopEntryProgramTest, UndoesQuotesAndLooksThroughEnvAndFlatpak) {
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=\"/opt/My Editor/bin/editor\" %u\n"),
            "/opt/My Editor/bin/editor");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=\"/opt/a \\\"b\\\"/run\"\n"), "/opt/a \"b\"/run");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=env QT_QPA_PLATFORM=xcb LANG=C blender %f\n"), "blender");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=/usr/bin/env -u FOO olive-editor\n"), "FOO");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=/usr/bin/flatpak run --branch=stable --arch=x86_64 "
                                "--command=kdenlive --file-forwarding org.kde.kdenlive @@u %U @@\n"),
            "kdenlive");
  // A flatpak entry that says no command names flatpak; an Exec of field codes only, nothing.
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=flatpak run org.example.App\n"), "flatpak");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=%U\n"), "");
  EXPECT_EQ(DesktopEntryProgram("[Desktop Entry]\nExec=env A=1\n"), "");
}

class ApplicationOfAppIdTest : public ::testing::Test {
 protected:
  void Entry(const std::string& folder, const std::string& name, const std::string& text) {
    std::filesystem::create_directories(m_dir / folder);
    std::ofstream(m_dir / folder / name) << text;
  }
  std::string Folder(const std::string& name) const { return (m_dir / name).string(); }

  test::TempDir m_dir;
};

TEST_F(ApplicationOfAppIdTest, NamesTheEntrysProgramElseTheAppIdItself) {
  Entry("user", "org.kde.kdenlive.desktop", "[Desktop Entry]\nExec=/usr/bin/kdenlive %F\n");
  Entry("system", "org.kde.kdenlive.desktop", "[Desktop Entry]\nExec=system-kdenlive\n");
  Entry("system", "shotcut.desktop", "[Desktop Entry]\nExec=\"/opt/Shotcut App/shotcut\"\n");
  Entry("system", "broken.desktop", "[Desktop Entry]\nName=no program\n");
  const std::vector<std::string> folders = {Folder("user"), Folder("missing"), Folder("system")};
  EXPECT_EQ(ApplicationOfAppId("org.kde.kdenlive", folders), "KDENLIVE");  // the first folder wins
  EXPECT_EQ(ApplicationOfAppId("shotcut", folders), "SHOTCUT");
  EXPECT_EQ(ApplicationOfAppId("broken", folders), "BROKEN");
  EXPECT_EQ(ApplicationOfAppId("mpv", folders), "MPV");
  EXPECT_EQ(ApplicationOfAppId("", folders), "");
}

TEST_F(ApplicationOfAppIdTest, AnAppIdThatIsAPathIsOnlyAName) {
  // A client chooses its app_id: it must not make us read a file of its choosing.
  Entry("system", "inside.desktop", "[Desktop Entry]\nExec=inside\n");
  Entry("secret", "x.desktop", "[Desktop Entry]\nExec=secret-program\n");
  const std::vector<std::string> folders = {Folder("system")};
  EXPECT_EQ(ApplicationOfAppId("../secret/x", folders), "../SECRET/X");
  EXPECT_EQ(ApplicationOfAppId("..", folders), "..");
  EXPECT_EQ(ApplicationOfAppId(std::string(300, 'a'), folders).size(), 260u);
  // A folder named as an entry is no entry.
  std::filesystem::create_directories(m_dir / "system" / "dir.desktop");
  EXPECT_EQ(ApplicationOfAppId("dir", folders), "DIR");
}

TEST(DesktopEntryFoldersTest, FollowTheBaseDirectoryVariables) {
  {
    test::ScopedEnv dataHome("XDG_DATA_HOME", "/home/u/data");
    test::ScopedEnv dataDirs("XDG_DATA_DIRS", "/a:relative::/b/");
    EXPECT_EQ(DesktopEntryFolders(),
              (std::vector<std::string>{"/home/u/data/applications", "/a/applications", "/b//applications"}));
  }
  test::ScopedEnv dataHome("XDG_DATA_HOME", nullptr);
  test::ScopedEnv home("HOME", "/home/v");
  test::ScopedEnv dataDirs("XDG_DATA_DIRS", "");
  EXPECT_EQ(DesktopEntryFolders(), (std::vector<std::string>{"/home/v/.local/share/applications",
                                                             "/usr/local/share/applications",
                                                             "/usr/share/applications"}));
}

}  // namespace
}  // namespace orb::platform
