#include "shell/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/log_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using orb::MX8RegGetValue;
using orb::MX8RegSetValue;
using orb::test::LogCapture;

// Every test gets a config home of its own.
class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    m_saved = std::getenv("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
  }
  void TearDown() override { ::setenv("XDG_CONFIG_HOME", m_saved.c_str(), 1); }

  fs::path StoreFile() const { return m_dir / "config" / "TARN" / "ORB.conf"; }
  void WriteStore(const std::string& text) {
    fs::create_directories(StoreFile().parent_path());
    orb::test::WriteFileBytes(StoreFile(), text.data(), text.size());
  }

  orb::test::TempDir m_dir;
  std::string m_saved;
};

TEST_F(SettingsStore, FirstReadCreatesTheStoreAndKeepsThePreset) {
  EXPECT_EQ(orb::SettingsFilePath(), StoreFile().string());
  ASSERT_FALSE(fs::exists(StoreFile()));
  std::uint32_t dwValue = 7;
  EXPECT_TRUE(MX8RegGetValue(&dwValue, "Startup"));
  EXPECT_EQ(dwValue, 7u);
  EXPECT_TRUE(fs::exists(StoreFile()));
}

TEST_F(SettingsStore, WrittenValuesReadBackPerName) {
  EXPECT_TRUE(MX8RegSetValue(0, "Startup"));
  EXPECT_TRUE(MX8RegSetValue(0xFFFFFFFFu, "ShowStay"));
  std::uint32_t dwStartup = 1;
  std::uint32_t dwShowStay = 1;
  ASSERT_TRUE(MX8RegGetValue(&dwStartup, "Startup"));
  ASSERT_TRUE(MX8RegGetValue(&dwShowStay, "ShowStay"));
  EXPECT_EQ(dwStartup, 0u);
  EXPECT_EQ(dwShowStay, 0xFFFFFFFFu);

  EXPECT_TRUE(MX8RegSetValue(1, "Startup"));
  ASSERT_TRUE(MX8RegGetValue(&dwStartup, "Startup"));
  EXPECT_EQ(dwStartup, 1u);
}

TEST_F(SettingsStore, EachWriteLogsItsTwoStatusLines) {
  LogCapture log;
  MX8RegSetValue(0, "Startup");
  MX8RegSetValue(1, "Startup");
  EXPECT_EQ(log.Text(),
            "MX8RegSetValue : return = 0x00000000\r\n"
            "MX8RegSetValue : End RegFlushKey(0x00000000)\r\n"
            "MX8RegSetValue : return = 0x00000000\r\n"
            "MX8RegSetValue : End RegFlushKey(0x00000000)\r\n");
}

TEST_F(SettingsStore, UnusableLocationKeepsThePresetAndLogsTheRead) {
  // A plain file where the folder would have to be: no one, not even root, can create it.
  orb::test::WriteFileBytes(m_dir / "config", "x", 1);
  LogCapture log;
  std::uint32_t dwValue = 3;
  EXPECT_FALSE(MX8RegGetValue(&dwValue, "Startup"));
  EXPECT_EQ(dwValue, 3u);
  EXPECT_FALSE(MX8RegSetValue(0, "Startup"));
  EXPECT_EQ(log.Text(), "MX8RegGetValue: RegCreateKeyEx failed\r\n") << "a failed open of a write logs nothing";
}

// A FIFO would hang the reader (and with it the start, deaf to SIGTERM); a directory or a
// device is no store either: each is treated as absent, and nothing replaces it.
TEST_F(SettingsStore, AnythingButARegularFileIsAbsentAndLeftAsItIs) {
  fs::create_directories(StoreFile().parent_path());
  ASSERT_EQ(::mkfifo(StoreFile().c_str(), 0600), 0);
  std::uint32_t dwValue = 5;
  LogCapture log;
  EXPECT_FALSE(MX8RegGetValue(&dwValue, "Startup"));
  EXPECT_EQ(dwValue, 5u);
  EXPECT_FALSE(MX8RegSetValue(0, "Startup"));
  EXPECT_TRUE(fs::is_fifo(StoreFile()));
  EXPECT_NE(log.Text().find("is a FIFO, not a regular file"), std::string::npos) << log.Text();

  fs::remove(StoreFile());
  fs::create_directory(StoreFile());
  EXPECT_FALSE(MX8RegGetValue(&dwValue, "Startup"));
  EXPECT_EQ(dwValue, 5u);
}

TEST_F(SettingsStore, AReadOnlyStoreIsStillRead) {
  WriteStore("[General]\nShowStay=0\nStartup=0\n");
  fs::permissions(StoreFile(), fs::perms::owner_read);
  std::uint32_t dwShowStay = 1;
  std::uint32_t dwStartup = 1;
  EXPECT_TRUE(MX8RegGetValue(&dwShowStay, "ShowStay"));
  EXPECT_TRUE(MX8RegGetValue(&dwStartup, "Startup"));
  EXPECT_EQ(dwShowStay, 0u);
  EXPECT_EQ(dwStartup, 0u);
}

TEST_F(SettingsStore, ValuesThatAreNotA32BitNumberKeepThePreset) {
  WriteStore(
      "[General]\n"
      "Word=yes\n"
      "Empty=\n"
      "Big=4294967296\n"
      "Negative=-1\n"
      "Hex=0x10\n"
      "Spaced= 12 \n"
      "List=1, 2\n");
  const auto read = [](const char* pName) {
    std::uint32_t dwValue = 42;
    EXPECT_TRUE(MX8RegGetValue(&dwValue, pName)) << pName;
    return dwValue;
  };
  EXPECT_EQ(read("Word"), 42u);
  EXPECT_EQ(read("Empty"), 42u);
  EXPECT_EQ(read("Big"), 42u);
  EXPECT_EQ(read("List"), 42u);
  EXPECT_EQ(read("Missing"), 42u);
  EXPECT_EQ(read("Negative"), 0xFFFFFFFFu);
  EXPECT_EQ(read("Hex"), 16u);
  EXPECT_EQ(read("Spaced"), 12u);
}

TEST_F(SettingsStore, WritingKeepsTheOtherValues) {
  WriteStore("[General]\nShowStay=0\n");
  ASSERT_TRUE(MX8RegSetValue(1, "Startup"));
  std::uint32_t dwShowStay = 1;
  ASSERT_TRUE(MX8RegGetValue(&dwShowStay, "ShowStay"));
  EXPECT_EQ(dwShowStay, 0u);
}

}  // namespace
