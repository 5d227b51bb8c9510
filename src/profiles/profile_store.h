#pragma once
// The profile table in its three copies: the live table, in a sealed shared block that
// the device thread reads through the current profile; the working copy that the
// settings window edits; and the data file. Main thread only. The live table and the
// working copy always hold the same number of records, m_dwComSet.
//
// Loading, in the order that decides it:
//   data file missing                    the default table of the UI language
//   data file shorter than one record    no table; the file is never rewritten
//   data file of whole records           its records (bytes after the last whole record
//                                        are dropped at the next save)
//   data file there but not usable       the default table, and the file is never
//   (not a regular file, unreadable,     rewritten: what it holds may be the user's
//   larger than any table may be)        profiles, which a save of the defaults would lose
// The reason for the last case is kept in LoadProblem() for the window to show.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "profiles/profile_record.h"

namespace orb {

namespace platform {
class SharedBlock;
}
class CHostLibraryLink;

class CProfileStore final {
 public:
  explicit CProfileStore(CHostLibraryLink& hostLink);
  ~CProfileStore();
  CProfileStore(const CProfileStore&) = delete;
  CProfileStore& operator=(const CProfileStore&) = delete;

  // Builds the live table from the data file or the default table, loads the host
  // libraries, finds the fallback profile, makes the working copy; then not modified.
  void LoadProfiles(const std::filesystem::path& dataFile, std::span<const std::uint8_t> defaultTable);

  // Apply, OK and exit: with a live table, copies the working copy over it when modified,
  // writes the data file, then not modified. False when there is no live table or the
  // file could not be written (the live table keeps the new contents; the next save
  // tries again).
  bool SaveProfiles(const std::filesystem::path& dataFile);

  // Cancel: the working copy becomes the live table again.
  void CancelEdits();

  // Set to default: the default table over the live table and the working copy. The live
  // block cannot grow, so a longer default table gives only as many records as the live
  // table holds; with no live table at all a new one is made from the defaults. False
  // when there is no default table to set.
  bool ResetToDefault(std::span<const std::uint8_t> defaultTable);

  // The first record with PF_FALLBACK, or null.
  void FindFallbackProfile();

  void SetModified(bool blModified) { m_blModified = blModified; }
  bool IsModified() const { return m_blModified; }

  // The companion editor's table (the editor link). The caller has made sure that no
  // other thread still reads a record of the live table before any of these unmaps it.
  //
  // Release the table: the live table unmapped, and the fallback pointer into it gone;
  // the record count and the working copy stay. False when there was none.
  bool ReleaseLiveTable();
  // The editor's block, sealed and exactly nCount records, becomes the live table, with a
  // new working copy and its fallback. A table of our own still held is replaced only
  // once the editor's block is taken; refused (reason in *pError), nothing changes.
  bool AdoptEditorTable(UniqueFd block, std::uint32_t nCount, std::string* pError);
  // The editor ends: the table it leaves is copied into a block of our own, which then
  // is the live table. False when there is no table to take back.
  bool TakeBackTable();

  // Exit: the working copy freed, the live table unmapped. Nothing is saved here.
  void ReleaseTable();

  std::uint32_t ComSet() const { return m_dwComSet; }
  ProfileRecord* Profiles() const { return m_pProfiles; }
  ProfileRecord* EditProfiles() { return m_editCopy.empty() ? nullptr : m_editCopy.data(); }
  ProfileRecord* FallbackProfile() const { return m_pFallbackProfile; }
  // The live block, for handing it to a peer. Null without a live table.
  const platform::SharedBlock* LiveBlock() const { return m_pProfileMap.get(); }
  const std::string& LoadProblem() const { return m_sLoadProblem; }
  // Why the last SaveProfiles wrote no file; empty after a save that wrote it.
  const std::string& SaveProblem() const { return m_sSaveProblem; }

 private:
  bool BuildLiveTable(std::span<const std::uint8_t> bytes);

  CHostLibraryLink& m_hostLink;
  std::uint32_t m_dwComSet = 0;
  std::unique_ptr<platform::SharedBlock> m_pProfileMap;
  ProfileRecord* m_pProfiles = nullptr;
  std::vector<ProfileRecord> m_editCopy;  // the working copy (m_pEditProfiles)
  bool m_blModified = false;
  ProfileRecord* m_pFallbackProfile = nullptr;
  bool m_blKeepDataFile = false;  // the data file could not be read: never write over it
  std::string m_sLoadProblem;
  std::string m_sSaveProblem;
};

}  // namespace orb
