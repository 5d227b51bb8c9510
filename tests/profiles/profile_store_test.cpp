#include "profiles/profile_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/shm/shared_block.h"
#include "profiles/host_library.h"
#include "profiles/profile_table.h"
#include "support/temp_dir.h"

namespace orb {
namespace {

ProfileRecord Record(const char* pExe, std::uint32_t dwFlags = 0) {
  ProfileRecord record{};
  std::strncpy(record.szExeName, pExe, sizeof record.szExeName - 1);
  std::strncpy(record.szAppName, pExe, sizeof record.szAppName - 1);
  record.dwFlags = dwFlags;
  return record;
}

std::vector<std::uint8_t> Bytes(const std::vector<ProfileRecord>& records) { return WriteProfileTable(records); }

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
  const std::string text = test::ReadFileText(path);
  return {text.begin(), text.end()};
}

class ProfileStoreTest : public ::testing::Test {
 protected:
  void WriteDataFile(const std::vector<std::uint8_t>& bytes) {
    test::WriteFileBytes(m_dataFile, bytes.data(), bytes.size());
  }
  std::string ExeOf(std::uint32_t i) const { return std::string(FieldText(m_store.Profiles()[i].szExeName)); }

  test::TempDir m_dir;
  std::filesystem::path m_dataFile = m_dir / "ORB.DAT";
  std::vector<std::uint8_t> m_defaults = Bytes({Record("DEFAULT1.EXE"), Record("DEFAULT2.EXE", PF_FALLBACK)});
  CHostLibraryLink m_hostLink{[](unsigned) {}};
  CProfileStore m_store{m_hostLink};
};

TEST_F(ProfileStoreTest, NoDataFileGivesTheDefaultTableInASealedLiveBlockAndAnEqualWorkingCopy) {
  m_store.LoadProfiles(m_dataFile, m_defaults);
  ASSERT_EQ(m_store.ComSet(), 2u);
  EXPECT_EQ(ExeOf(0), "DEFAULT1.EXE");
  EXPECT_EQ(m_store.FallbackProfile(), &m_store.Profiles()[1]);
  EXPECT_EQ(std::memcmp(m_store.EditProfiles(), m_store.Profiles(), 2 * 5008), 0);
  EXPECT_FALSE(m_store.IsModified());
  ASSERT_NE(m_store.LiveBlock(), nullptr);
  const int nSeals = ::fcntl(m_store.LiveBlock()->Fd(), F_GET_SEALS);
  EXPECT_EQ(nSeals & (F_SEAL_SHRINK | F_SEAL_GROW), F_SEAL_SHRINK | F_SEAL_GROW);
  EXPECT_FALSE(std::filesystem::exists(m_dataFile)) << "loading writes nothing";

  // The first save creates the file, private to the user.
  ASSERT_TRUE(m_store.SaveProfiles(m_dataFile));
  EXPECT_EQ(FileBytes(m_dataFile), m_defaults);
  struct stat st {};
  ASSERT_EQ(::stat(m_dataFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProfileStoreTest, AnExistingDataFileWinsAndATrailingPartRecordIsDropped) {
  std::vector<std::uint8_t> bytes = Bytes({Record("MINE.EXE"), Record("OTHER.EXE"), Record("THIRD.EXE")});
  bytes.resize(bytes.size() + 7, 0xAA);
  WriteDataFile(bytes);
  m_store.LoadProfiles(m_dataFile, m_defaults);
  ASSERT_EQ(m_store.ComSet(), 3u);
  EXPECT_EQ(ExeOf(2), "THIRD.EXE");
  EXPECT_EQ(m_store.FallbackProfile(), nullptr);
  ASSERT_TRUE(m_store.SaveProfiles(m_dataFile));
  EXPECT_EQ(FileBytes(m_dataFile).size(), 3u * 5008);
}

TEST_F(ProfileStoreTest, ADataFileShorterThanARecordGivesNoTableAndIsNeverRewritten) {
  for (std::size_t nSize : {0u, 5007u}) {
    SCOPED_TRACE(nSize);
    WriteDataFile(std::vector<std::uint8_t>(nSize, 0x11));
    CProfileStore store(m_hostLink);
    store.LoadProfiles(m_dataFile, m_defaults);
    EXPECT_EQ(store.ComSet(), 0u);
    EXPECT_EQ(store.Profiles(), nullptr);
    EXPECT_EQ(store.EditProfiles(), nullptr);
    EXPECT_EQ(store.FallbackProfile(), nullptr);
    store.SetModified(true);
    EXPECT_FALSE(store.SaveProfiles(m_dataFile));
    EXPECT_EQ(FileBytes(m_dataFile).size(), nSize);
  }
}

TEST_F(ProfileStoreTest, ADataFileThatCannotBeReadGivesTheDefaultsAndIsNeverWrittenOver) {
  // Each stands where the data file should be; a save of the defaults over it would lose
  // whatever it holds, or replace a device node.
  const std::filesystem::path big = m_dir / "big.dat";
  {
    test::WriteFileBytes(big, "x", 1);
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(kMaxTableBytes + 5008)), 0);  // sparse
  }
  struct Case {
    const char* pWhat;
    std::function<void()> make;
    const char* pProblem;
  } cases[] = {
      {"a directory", [&] { std::filesystem::create_directory(m_dataFile); }, "a directory"},
      {"a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", m_dataFile); }, "character device"},
      {"a table larger than any may be", [&] { std::filesystem::create_symlink(big, m_dataFile); }, "larger than"},
      // Planted by another user: its table is not ours to play, its target not ours to write.
      {"another user's link",
       [&] {
         test::WriteFileBytes(m_dir / "theirs.dat", Bytes({Record("THEIRS.EXE")}).data(), 5008);
         std::filesystem::create_symlink(m_dir / "theirs.dat", m_dataFile);
         if (::geteuid() == 0) {
           ASSERT_EQ(::lchown(m_dataFile.c_str(), 4242, 4242), 0);
         }
       },
       ::geteuid() == 0 ? "a symbolic link of user 4242" : ""},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.pWhat);
    if (*c.pProblem == '\0') {
      continue;  // not root: no other user to give the link to
    }
    std::filesystem::remove_all(m_dataFile);
    c.make();
    CProfileStore store(m_hostLink);
    store.LoadProfiles(m_dataFile, m_defaults);
    EXPECT_EQ(store.ComSet(), 2u);
    EXPECT_NE(store.LoadProblem().find(c.pProblem), std::string::npos) << store.LoadProblem();
    store.SetModified(true);
    EXPECT_FALSE(store.SaveProfiles(m_dataFile));
    EXPECT_TRUE(std::filesystem::is_directory(m_dataFile) || std::filesystem::is_symlink(m_dataFile));
  }
  std::filesystem::remove(m_dataFile);
  EXPECT_EQ(std::filesystem::file_size(big), kMaxTableBytes + 5008);
}

TEST_F(ProfileStoreTest, SavingWritesTheLiveTableChangedOrNotAndApplyCarriesTheWorkingCopysModeBits) {
  WriteDataFile(Bytes({Record("EDIT.EXE", PF_DECKFILE | PF_DECK)}));
  m_store.LoadProfiles(m_dataFile, m_defaults);
  // The program toggles DECK/FILE in the live table only.
  m_store.Profiles()[0].dwFlags &= ~PF_DECK;
  ASSERT_TRUE(m_store.SaveProfiles(m_dataFile));  // OK without changes still writes
  EXPECT_EQ(ReadProfileTable(FileBytes(m_dataFile))[0].dwFlags, PF_DECKFILE);

  // An edit, then Apply: the working copy wins, mode bits and all.
  std::strcpy(m_store.EditProfiles()[0].szAppName, "Edited");
  m_store.SetModified(true);
  ASSERT_TRUE(m_store.SaveProfiles(m_dataFile));
  EXPECT_FALSE(m_store.IsModified());
  const ProfileRecord saved = ReadProfileTable(FileBytes(m_dataFile))[0];
  EXPECT_STREQ(saved.szAppName, "Edited");
  EXPECT_EQ(saved.dwFlags, PF_DECKFILE | PF_DECK);
  EXPECT_EQ(m_store.Profiles()[0].dwFlags, PF_DECKFILE | PF_DECK);
}

TEST_F(ProfileStoreTest, AFailedSaveKeepsTheNewTableLiveAndTheNextSaveWritesIt) {
  m_store.LoadProfiles(m_dataFile, m_defaults);
  std::strcpy(m_store.EditProfiles()[0].szAppName, "Kept");
  m_store.SetModified(true);
  const std::filesystem::path nowhere = m_dir / "missing-dir" / "ORB.DAT";
  EXPECT_FALSE(m_store.SaveProfiles(nowhere));
  EXPECT_STREQ(m_store.Profiles()[0].szAppName, "Kept");
  std::filesystem::create_directory(m_dir / "missing-dir");
  ASSERT_TRUE(m_store.SaveProfiles(nowhere));
  EXPECT_STREQ(ReadProfileTable(FileBytes(nowhere))[0].szAppName, "Kept");
}

TEST_F(ProfileStoreTest, CancelThrowsTheUnappliedEditsAway) {
  m_store.LoadProfiles(m_dataFile, m_defaults);
  std::strcpy(m_store.EditProfiles()[1].szAppName, "Unapplied");
  m_store.SetModified(true);
  m_store.CancelEdits();
  EXPECT_FALSE(m_store.IsModified());
  EXPECT_STREQ(m_store.EditProfiles()[1].szAppName, "DEFAULT2.EXE");
}

TEST_F(ProfileStoreTest, SetToDefaultFillsWhatTheLiveTableHoldsAndMakesATableWhenThereIsNone) {
  // Live table longer than the defaults: the records past them stay.
  WriteDataFile(Bytes({Record("A.EXE"), Record("B.EXE"), Record("C.EXE")}));
  m_store.LoadProfiles(m_dataFile, m_defaults);
  std::strcpy(m_store.EditProfiles()[0].szAppName, "Unapplied");
  m_store.SetModified(true);
  ASSERT_TRUE(m_store.ResetToDefault(m_defaults));
  EXPECT_FALSE(m_store.IsModified());
  EXPECT_EQ(ExeOf(0), "DEFAULT1.EXE");
  EXPECT_EQ(ExeOf(2), "C.EXE");
  EXPECT_EQ(std::memcmp(m_store.EditProfiles(), m_store.Profiles(), 3 * 5008), 0);
  EXPECT_EQ(m_store.FallbackProfile(), nullptr) << "the fallback is found again only after a load";

  // Defaults longer than the live table: the block cannot grow, so the first records only.
  const auto longer = Bytes({Record("L1.EXE"), Record("L2.EXE"), Record("L3.EXE"), Record("L4.EXE")});
  ASSERT_TRUE(m_store.ResetToDefault(longer));
  EXPECT_EQ(m_store.ComSet(), 3u);
  EXPECT_EQ(ExeOf(2), "L3.EXE");

  // No table (a data file of 0 bytes), then Set to default: the defaults become the table.
  WriteDataFile({});
  CProfileStore empty(m_hostLink);
  empty.LoadProfiles(m_dataFile, m_defaults);
  ASSERT_EQ(empty.ComSet(), 0u);
  ASSERT_TRUE(empty.ResetToDefault(m_defaults));
  EXPECT_EQ(empty.ComSet(), 2u);
  EXPECT_EQ(empty.FallbackProfile(), &empty.Profiles()[1]);
  EXPECT_FALSE(empty.ResetToDefault({})) << "no default table: nothing to set";
}

TEST_F(ProfileStoreTest, ReleaseLeavesNoTable) {
  m_store.LoadProfiles(m_dataFile, m_defaults);
  m_store.ReleaseTable();
  EXPECT_EQ(m_store.ComSet(), 0u);
  EXPECT_EQ(m_store.Profiles(), nullptr);
  EXPECT_EQ(m_store.LiveBlock(), nullptr);
  EXPECT_FALSE(m_store.SaveProfiles(m_dataFile));
  EXPECT_FALSE(std::filesystem::exists(m_dataFile));
}

}  // namespace
}  // namespace orb
