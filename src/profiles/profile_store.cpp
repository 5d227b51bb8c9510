#include "profiles/profile_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/bounded_read.h"
#include "base/link_owner.h"
#include "base/write_log.h"
#include "platform/shm/shared_block.h"
#include "profiles/host_library.h"
#include "profiles/profile_table.h"

namespace orb {

namespace {

// The shared name of the live table, as the editor link knows it.
constexpr const char* kSharedName = "ORB.DAT";

// What the data file gave: its bytes, nothing (missing), or a reason it cannot be used.
enum class DataFile { Missing, Read, Unusable };

DataFile ReadDataFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& sProblem) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 && errno == ENOENT) {
    return DataFile::Missing;
  }
  std::string sError;
  if (!MayFollowLink(path.c_str(), sError) || !ReadRegularFile(path.c_str(), kTableFileLimit, bytes, sError)) {
    sProblem = path.string() + ": " + sError;
    return DataFile::Unusable;
  }
  return DataFile::Read;
}

}  // namespace

CProfileStore::CProfileStore(CHostLibraryLink& hostLink) : m_hostLink(hostLink) {}

CProfileStore::~CProfileStore() = default;

void CProfileStore::LoadProfiles(const std::filesystem::path& dataFile, std::span<const std::uint8_t> defaultTable) {
  // A running companion editor means no table of our own until it answers; that branch
  // (find the editor, tell it we are ready, build nothing) comes first, here, once the
  // editor link exists.
  std::vector<std::uint8_t> bytes;
  std::span<const std::uint8_t> source;
  switch (ReadDataFile(dataFile, bytes, m_sLoadProblem)) {
    case DataFile::Read:
      source = bytes;  // an existing file always wins, even one shorter than a record
      break;
    case DataFile::Missing:
      source = defaultTable;
      break;
    case DataFile::Unusable:
      WriteLog("LoadProfiles: %s; the default table is used and the file is left as it is\r\n",
               m_sLoadProblem.c_str());
      m_blKeepDataFile = true;
      source = defaultTable;
      break;
  }
  if (source.data() == defaultTable.data() && TableRecordCount(defaultTable.size()) == 0) {
    // Only a broken build has no default table; the program then runs without profiles.
    WriteLog("LoadProfiles: there is no default table\r\n");
  }
  BuildLiveTable(source);
  m_blModified = false;
}

bool CProfileStore::BuildLiveTable(std::span<const std::uint8_t> bytes) {
  const std::size_t nCount = TableRecordCount(bytes.size());
  if (nCount == 0) {
    return false;  // no block of 0 bytes: the program runs without profiles
  }
  std::string sError;
  m_pProfileMap = platform::SharedBlock::Create(kSharedName, nCount * kProfileRecordSize, &sError);
  if (!m_pProfileMap) {
    WriteLog("LoadProfiles: no live table: %s\r\n", sError.c_str());
    return false;
  }
  std::memcpy(m_pProfileMap->Data(), bytes.data(), m_pProfileMap->Size());
  m_pProfiles = reinterpret_cast<ProfileRecord*>(m_pProfileMap->Data());
  m_dwComSet = static_cast<std::uint32_t>(nCount);
  m_hostLink.SetTable(m_pProfiles, m_dwComSet);
  m_hostLink.HostLibraryControl(HL_LOAD);
  FindFallbackProfile();
  m_editCopy.assign(m_pProfiles, m_pProfiles + m_dwComSet);
  return true;
}

bool CProfileStore::SaveProfiles(const std::filesystem::path& dataFile) {
  m_sSaveProblem.clear();
  if (m_pProfiles == nullptr) {
    m_sSaveProblem = "there is no table to save";
    return false;
  }
  const std::size_t nBytes = std::size_t{m_dwComSet} * kProfileRecordSize;
  if (m_blModified && !m_editCopy.empty()) {
    // The mode bits the program set in the live table go too: the working copy's win.
    std::memcpy(m_pProfiles, m_editCopy.data(), nBytes);
  }
  bool blWritten = false;
  if (m_blKeepDataFile) {
    WriteLog("SaveProfiles: %s was not read, so it is not written over\r\n", dataFile.c_str());
    m_sSaveProblem = m_sLoadProblem;
  } else {
    std::string sError;
    blWritten = SaveTableFile(dataFile, {reinterpret_cast<const std::uint8_t*>(m_pProfiles), nBytes}, &sError,
                              kPrivateFileMode);
    if (!blWritten) m_sSaveProblem = dataFile.string() + ": " + sError;
  }
  m_blModified = false;
  return blWritten;
}

void CProfileStore::CancelEdits() {
  if (m_pProfiles != nullptr && !m_editCopy.empty()) {
    std::memcpy(m_editCopy.data(), m_pProfiles, std::size_t{m_dwComSet} * kProfileRecordSize);
  }
  m_blModified = false;
}

bool CProfileStore::ResetToDefault(std::span<const std::uint8_t> defaultTable) {
  const std::size_t nDefault = TableRecordCount(defaultTable.size());
  if (nDefault == 0) {
    WriteLog("OnSetDefault: there is no default table\r\n");
    return false;
  }
  if (m_pProfiles == nullptr) {
    // Asked for the defaults while holding none (a data file of 0 bytes): make the table.
    if (!BuildLiveTable(defaultTable)) {
      return false;
    }
    m_blModified = false;
    return true;
  }
  const std::size_t nCopy = std::min<std::size_t>(nDefault, m_dwComSet);
  if (nCopy < nDefault) {
    WriteLog("OnSetDefault: the default table has %u records, the live table %u; the first %u are set\r\n",
             static_cast<unsigned>(nDefault), static_cast<unsigned>(m_dwComSet), static_cast<unsigned>(nCopy));
  }
  std::memcpy(m_pProfiles, defaultTable.data(), nCopy * kProfileRecordSize);
  std::memcpy(m_editCopy.data(), m_pProfiles, nCopy * kProfileRecordSize);
  m_blModified = false;
  return true;
}

void CProfileStore::FindFallbackProfile() {
  m_pFallbackProfile = nullptr;
  for (std::uint32_t i = 0; i < m_dwComSet; ++i) {
    if ((m_pProfiles[i].dwFlags & PF_FALLBACK) != 0) {
      m_pFallbackProfile = &m_pProfiles[i];
      return;
    }
  }
}

bool CProfileStore::ReleaseLiveTable() {
  if (m_pProfiles == nullptr) {
    return false;
  }
  m_pFallbackProfile = nullptr;  // it pointed into the view that goes now
  m_pProfiles = nullptr;
  m_pProfileMap.reset();
  m_hostLink.SetTable(nullptr, 0);
  return true;
}

bool CProfileStore::AdoptEditorTable(UniqueFd block, std::uint32_t nCount, std::string* pError) {
  if (nCount == 0 || nCount > kMaxTableRecords) {
    if (pError != nullptr) *pError = "a table of " + std::to_string(nCount) + " records";
    return false;
  }
  auto pMap = platform::SharedBlock::Adopt(std::move(block), std::size_t{nCount} * kProfileRecordSize, pError);
  if (!pMap) {
    return false;
  }
  m_pFallbackProfile = nullptr;
  m_pProfileMap = std::move(pMap);  // our own table, if one was left, goes here
  m_pProfiles = reinterpret_cast<ProfileRecord*>(m_pProfileMap->Data());
  m_dwComSet = nCount;
  m_editCopy.assign(m_pProfiles, m_pProfiles + m_dwComSet);
  m_hostLink.SetTable(m_pProfiles, m_dwComSet);
  FindFallbackProfile();
  m_blModified = false;
  return true;
}

bool CProfileStore::TakeBackTable() {
  if (m_pProfiles == nullptr) {
    return false;
  }
  const std::vector<std::uint8_t> copy(reinterpret_cast<const std::uint8_t*>(m_pProfiles),
                                       reinterpret_cast<const std::uint8_t*>(m_pProfiles) +
                                           std::size_t{m_dwComSet} * kProfileRecordSize);
  std::string sError;
  auto pMap = platform::SharedBlock::Create(kSharedName, copy.size(), &sError);
  if (!pMap) {
    // Keep working on the editor's block: it stays mapped, and nothing is lost.
    WriteLog("OnMsgFromZUDAdor: no block of our own: %s; the editor's block stays in use\r\n", sError.c_str());
    return true;
  }
  std::memcpy(pMap->Data(), copy.data(), copy.size());
  m_pFallbackProfile = nullptr;
  m_pProfileMap = std::move(pMap);
  m_pProfiles = reinterpret_cast<ProfileRecord*>(m_pProfileMap->Data());
  m_hostLink.SetTable(m_pProfiles, m_dwComSet);
  FindFallbackProfile();
  return true;
}

void CProfileStore::ReleaseTable() {
  m_editCopy.clear();
  m_editCopy.shrink_to_fit();
  m_pFallbackProfile = nullptr;
  m_pProfiles = nullptr;
  m_pProfileMap.reset();
  m_dwComSet = 0;
}

}  // namespace orb
