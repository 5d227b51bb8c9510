#include "profiles/profile_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support/temp_dir.h"

namespace orb {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t nSize) {
  std::vector<std::uint8_t> bytes(nSize);
  for (std::size_t i = 0; i < nSize; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  return bytes;
}

TEST(ProfileTable, CountComesFromTheSizeAndPartialRecordsAreLeftOut) {
  struct Case {
    std::size_t nBytes, nRecords, nTrailing;
  } const cases[] = {{0, 0, 0},         {5007, 0, 5007}, {5008, 1, 0},
                     {10020, 2, 4},     {75120, 15, 0},  {80128, 16, 0}};
  for (const Case& c : cases) {
    // Exactly sized heap blocks: a read past the end shows up under ASan.
    const std::vector<std::uint8_t> bytes = Pattern(c.nBytes);
    const std::vector<ProfileRecord> records = ReadProfileTable(bytes);
    EXPECT_EQ(records.size(), c.nRecords) << c.nBytes;
    EXPECT_EQ(TableTrailingBytes(c.nBytes), c.nTrailing) << c.nBytes;
    const std::vector<std::uint8_t> written = WriteProfileTable(records);
    ASSERT_EQ(written.size(), c.nRecords * 5008);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), bytes.begin()));
  }
}

TEST(ProfileTable, ControlCodesChooseTheirEntryAndTheModeChoosesTheCommand) {
  ProfileRecord record{};
  record.entries[0].deck.keys[0] = 0x41;
  record.entries[0].file.keys[0] = 0x42;
  record.entries[37].file.keys[0] = 0x43;
  record.dwFlags = PF_DECK;
  EXPECT_EQ(SelectCommand(record, 601)->keys[0], 0x41u);
  record.dwFlags = 0;
  EXPECT_EQ(SelectCommand(record, 601)->keys[0], 0x42u);
  EXPECT_EQ(SelectCommand(record, 638)->keys[0], 0x43u);
  EXPECT_EQ(SelectCommand(record, 600), nullptr);
  EXPECT_EQ(SelectCommand(record, 639), nullptr);
  EXPECT_EQ(FindControlEntry(record, 617 + 2 * 5 + 1), &record.entries[27]);
}

TEST(ProfileTable, TextsEndAtTheirFirstNulOrAtTheFieldsEnd) {
  ProfileRecord record{};
  std::memcpy(record.szExeName, "KDENLIVE\0OLD", 12);
  EXPECT_EQ(FieldText(record.szExeName), "KDENLIVE");
  EXPECT_FALSE(FieldLacksNul(record.szExeName));
  std::memset(record.szAppName, 'A', sizeof record.szAppName);
  EXPECT_EQ(FieldText(record.szAppName).size(), 64u);
  EXPECT_TRUE(FieldLacksNul(record.szAppName));
  // The label field is followed by dwOption; its text must not run into it.
  KeyCommand command{};
  std::memset(command.szLabel, 'x', sizeof command.szLabel);
  command.dwOption = 0x41414141;
  EXPECT_EQ(FieldText(command.szLabel).size(), 32u);
}

ProfileRecord VersionedRecord(unsigned nRule, std::uint32_t dwMS, std::uint32_t dwLS) {
  ProfileRecord record{};
  record.dwVersionMS = dwMS;
  record.dwVersionLS = dwLS;
  record.dwFlags = PF_DECKFILE | (nRule << PF_VERRULE_SHIFT);
  return record;
}

constexpr std::uint32_t Ms(std::uint32_t nMajor, std::uint32_t nMinor) { return (nMajor << 16) | nMinor; }

TEST(ProfileTable, VersionRules) {
  const ProfileRecord major6 = VersionedRecord(1, Ms(6, 0), 0);
  EXPECT_TRUE(MatchVersion(major6, Ms(6, 0), Ms(0, 0)));
  EXPECT_TRUE(MatchVersion(major6, Ms(6, 5), Ms(1, 2)));
  EXPECT_FALSE(MatchVersion(major6, Ms(5, 9), Ms(0, 0)));
  // Rule 1 looks only at the major word, whatever the stored minor.
  EXPECT_TRUE(MatchVersion(VersionedRecord(1, Ms(6, 9), Ms(3, 3)), Ms(6, 0), 0));

  const ProfileRecord minor = VersionedRecord(2, Ms(6, 0), Ms(7, 7));
  EXPECT_TRUE(MatchVersion(minor, Ms(6, 0), Ms(1, 2)));
  EXPECT_FALSE(MatchVersion(minor, Ms(6, 5), Ms(7, 7)));

  const ProfileRecord build = VersionedRecord(3, Ms(6, 5), Ms(1, 2));
  EXPECT_TRUE(MatchVersion(build, Ms(6, 5), Ms(1, 99)));
  EXPECT_FALSE(MatchVersion(build, Ms(6, 5), Ms(2, 2)));
  EXPECT_FALSE(MatchVersion(build, Ms(6, 4), Ms(1, 2)));

  const ProfileRecord all = VersionedRecord(4, Ms(6, 5), Ms(1, 2));
  EXPECT_TRUE(MatchVersion(all, Ms(6, 5), Ms(1, 2)));
  EXPECT_FALSE(MatchVersion(all, Ms(6, 5), Ms(1, 3)));

  EXPECT_TRUE(MatchVersion(VersionedRecord(0, Ms(9, 9), 1), Ms(1, 0), 0));
  for (unsigned nRule = 5; nRule <= 7; ++nRule) {
    EXPECT_FALSE(MatchVersion(VersionedRecord(nRule, 0, 0), 0, 0)) << nRule;
    EXPECT_FALSE(MatchVersion(VersionedRecord(nRule, Ms(6, 0), 0), Ms(6, 0), 0)) << nRule;
  }
}

TEST(ProfileTableFile, SaveReplacesTheWholeFileAndLeavesNothingBeside) {
  test::TempDir dir;
  const auto path = dir / "ORB.DAT";
  const std::vector<std::uint8_t> first = Pattern(10016);
  ASSERT_TRUE(SaveTableFile(path, first));
  ::chmod(path.c_str(), 0640);
  const std::vector<std::uint8_t> second = Pattern(5008);
  ASSERT_TRUE(SaveTableFile(path, second));

  std::vector<std::uint8_t> loaded;
  ASSERT_TRUE(LoadTableFile(path, loaded));
  EXPECT_EQ(loaded, second);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  int nFiles = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    ++nFiles;
  }
  EXPECT_EQ(nFiles, 1);
}

TEST(ProfileTableFile, SaveThroughASymlinkReplacesItsTarget) {
  test::TempDir dir;
  ASSERT_TRUE(SaveTableFile(dir / "real.dat", Pattern(5008)));
  std::filesystem::create_symlink("real.dat", dir / "ORB.DAT");
  ASSERT_TRUE(SaveTableFile(dir / "ORB.DAT", Pattern(3)));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "ORB.DAT"));
  EXPECT_EQ(std::filesystem::file_size(dir / "real.dat"), 3u);
}

TEST(ProfileTableFile, FailuresAreReportedAndLeaveTheOldFile) {
  test::TempDir dir;
  std::vector<std::uint8_t> loaded;
  EXPECT_FALSE(SaveTableFile(dir / "missing" / "ORB.DAT", Pattern(5008)));
  EXPECT_FALSE(LoadTableFile(dir / "missing.dat", loaded));
  EXPECT_FALSE(LoadTableFile(dir.Path(), loaded));  // a directory is no table

  if (::geteuid() != 0) {  // root writes into read-only directories
    ASSERT_TRUE(SaveTableFile(dir / "ORB.DAT", Pattern(5008)));
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(SaveTableFile(dir / "ORB.DAT", Pattern(10016)));
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
    ASSERT_TRUE(LoadTableFile(dir / "ORB.DAT", loaded));
    EXPECT_EQ(loaded.size(), 5008u);
  }
}

// The rename would go around the mode bits, and root's save around any permission.
TEST(ProfileTableFile, AReadOnlyFileIsLeftAsItIs) {
  test::TempDir dir;
  const auto path = dir / "ORB.DAT";
  ASSERT_TRUE(SaveTableFile(path, Pattern(5008)));
  ::chmod(path.c_str(), 0444);
  std::string error;
  EXPECT_FALSE(SaveTableFile(path, Pattern(10016), &error));
  EXPECT_EQ(error, "the file is read-only; it is left as it is");
  EXPECT_EQ(std::filesystem::file_size(path), 5008u);
  ::chmod(path.c_str(), 0644);
  EXPECT_TRUE(SaveTableFile(path, Pattern(10016)));
}

// Another user's link in a shared sticky folder must not make us write the file it names.
TEST(ProfileTableFile, AnotherUsersLinkIsNotFollowedOursIs) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to give a link to another user";
  }
  test::TempDir dir;
  const auto shared = dir / "shared";
  std::filesystem::create_directory(shared);
  ::chmod(shared.c_str(), 01777);
  test::WriteFileBytes(dir / "victim", "precious!", 9);
  std::filesystem::create_symlink(dir / "victim", shared / "ORB.DAT");
  ASSERT_EQ(::lchown((shared / "ORB.DAT").c_str(), 4242, 4242), 0);

  std::string error;
  EXPECT_FALSE(SaveTableFile(shared / "ORB.DAT", Pattern(5008), &error));
  EXPECT_NE(error.find("a symbolic link of user 4242"), std::string::npos) << error;
  EXPECT_EQ(test::ReadFileText(dir / "victim"), "precious!");
  EXPECT_TRUE(std::filesystem::is_symlink(shared / "ORB.DAT"));

  // A link of the folder's owner is that owner's doing: followed.
  ASSERT_EQ(::lchown((shared / "ORB.DAT").c_str(), 0, 0), 0);
  EXPECT_TRUE(SaveTableFile(shared / "ORB.DAT", Pattern(5008), &error)) << error;
  EXPECT_EQ(std::filesystem::file_size(dir / "victim"), 5008u);
}

// The save renames a new file over the target: over a device node or a FIFO that would
// put a regular file in its place.
TEST(ProfileTableFile, SaveReplacesNothingButARegularFile) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "directory");
  std::filesystem::create_symlink("fifo", dir / "to_fifo");
  std::filesystem::create_symlink("nothing/ORB.DAT", dir / "dangling");
  struct Case {
    const char* pName;
    const char* pError;
  };
  const Case cases[] = {
      {"fifo", "it is a FIFO; only a regular file is replaced"},
      {"to_fifo", "it is a FIFO; only a regular file is replaced"},
      {"directory", "it is a directory; only a regular file is replaced"},
      {"dangling", "a symbolic link that cannot be followed: "},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(SaveTableFile(dir / c.pName, Pattern(5008), &error)) << c.pName;
    EXPECT_EQ(error.rfind(c.pError, 0), 0u) << c.pName << ": " << error;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "directory"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "directory"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "to_fifo"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling"));
  int nEntries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    ++nEntries;
  }
  EXPECT_EQ(nEntries, 4);  // no temporary file left beside them
}

TEST(ProfileTableFile, LoadRefusesWhatNoTableCanBe) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: opening it would wait
  {
    std::ofstream big(dir / "big.dat", std::ios::binary);
  }
  std::filesystem::resize_file(dir / "big.dat", kMaxTableBytes + 1);
  std::vector<std::uint8_t> loaded;
  std::string error;
  EXPECT_FALSE(LoadTableFile(dir / "fifo", loaded, &error));
  EXPECT_EQ(error, "a FIFO, not a regular file");
  EXPECT_FALSE(LoadTableFile(dir / "big.dat", loaded, &error));
  EXPECT_EQ(error, "larger than 20512768 bytes, the limit for a profile table (4096 records)");

  std::filesystem::resize_file(dir / "big.dat", kMaxTableBytes);
  ASSERT_TRUE(LoadTableFile(dir / "big.dat", loaded, &error)) << error;
  EXPECT_EQ(TableRecordCount(loaded.size()), kMaxTableRecords);
  // A table's text has a limit of its own.
  EXPECT_FALSE(LoadTableFile(dir / "big.dat", loaded, &error, ReadLimit{kMaxTableBytes - 1, "a test"}));
  EXPECT_EQ(error, "larger than 20512767 bytes, the limit for a test");
}

}  // namespace
}  // namespace orb
