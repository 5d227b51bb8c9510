#pragma once
// A profile table is a bare run of 5008-byte records: no header, no count, no checksum.
// Whatever block it comes from (a file, shared memory, a default table) is untrusted, so
// records are copied out of the block and texts are read only within their fields.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bounded_read.h"
#include "profiles/profile_record.h"

namespace orb {

inline constexpr std::size_t kProfileRecordSize = sizeof(ProfileRecord);

// The most records a table may have, for every path that reads or makes one: one profile
// per application, and no user has four thousand of them. It keeps a table file at about
// 20 MB and its text (some 2.7 KB a profile) well within kMaxTableTextBytes.
inline constexpr std::size_t kMaxTableRecords = 4096;
inline constexpr std::size_t kMaxTableBytes = kMaxTableRecords * kProfileRecordSize;
// The readable form's limit: the text of a full table of ordinary profiles is some 11 MB,
// and the TOML parser needs many times the text's size in memory.
inline constexpr std::size_t kMaxTableTextBytes = 16u * 1024 * 1024;
inline constexpr ReadLimit kTableFileLimit{kMaxTableBytes, "a profile table (4096 records)"};
inline constexpr ReadLimit kTableTextLimit{kMaxTableTextBytes, "a table's text"};
static_assert(kMaxTableRecords == 4096, "the limits' names above say 4096 records");

// Whole records in a block of nBytes; a partial record at the end does not count.
inline constexpr std::size_t TableRecordCount(std::size_t nBytes) { return nBytes / kProfileRecordSize; }
inline constexpr std::size_t TableTrailingBytes(std::size_t nBytes) { return nBytes % kProfileRecordSize; }

// Copies the whole records of `bytes`; the bytes after the last whole record are left
// out (TableTrailingBytes says how many).
std::vector<ProfileRecord> ReadProfileTable(std::span<const std::uint8_t> bytes);

// The records back to back, count x 5008 bytes, nothing else.
std::vector<std::uint8_t> WriteProfileTable(std::span<const ProfileRecord> records);

// Code 601 + k names entry k. Null for codes outside 601-638.
const ControlEntry* FindControlEntry(const ProfileRecord& record, int nControlCode);

// The command a control plays under the given flags: `deck` when PF_DECK is set, else
// `file`. Live records pass the flags they read atomically.
inline const KeyCommand& SelectCommand(const ControlEntry& entry, std::uint32_t dwFlags) {
  return (dwFlags & PF_DECK) != 0 ? entry.deck : entry.file;
}

// Null for codes outside 601-638; reads the record's own flags.
const KeyCommand* SelectCommand(const ProfileRecord& record, int nControlCode);

// The text of a fixed field: up to its first NUL, or the whole field when it has none.
inline std::string_view FieldText(const char* pField, std::size_t nFieldSize) {
  std::size_t nLength = 0;
  while (nLength < nFieldSize && pField[nLength] != '\0') {
    ++nLength;
  }
  return {pField, nLength};
}
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return FieldText(field, N);
}

// True when the field holds no NUL at all (its text fills it to the end).
template <std::size_t N>
bool FieldLacksNul(const char (&field)[N]) {
  return FieldText(field).size() == N;
}

// Does an executable of file version (dwVersionMS, dwVersionLS) match the record's
// version rule? 0 always; 1 major; 2 major and minor; 3 major, minor and build; 4 all
// four parts; 5-7 never.
bool MatchVersion(const ProfileRecord& record, std::uint32_t dwVersionMS, std::uint32_t dwVersionLS);
bool MatchVersionRule(unsigned nRule, std::uint32_t dwStoredMS, std::uint32_t dwStoredLS, std::uint32_t dwVersionMS,
                      std::uint32_t dwVersionLS);

// Reads a whole regular file within the limit (kTableTextLimit for a table's text). False
// (and one log line) when it cannot be read, with the reason in *pError when it is given.
bool LoadTableFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string* pError = nullptr,
                   const ReadLimit& limit = kTableFileLimit);

// Writes `bytes` to a new file beside `path`, flushes it to the disk and renames it over
// `path`, so that a crash leaves either the old table or the new one, never a part.
// An existing file's permissions are kept, and a read-only file is refused. A symbolic link
// of ours is followed: the file it names is replaced, and the link stays; another user's
// link is refused. Only a regular file is ever replaced: a target that
// is anything else (a device, a directory, a FIFO), or a link that names nothing or
// such a thing, is refused. False (and one log line) on failure, with the reason in
// *pError when it is given, and the old file is then untouched. A new file gets
// nNewFileMode (less the umask).
inline constexpr unsigned kPublicFileMode = 0666;
inline constexpr unsigned kPrivateFileMode = 0600;  // the program's data file: the user's alone
bool SaveTableFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string* pError = nullptr, unsigned nNewFileMode = kPublicFileMode);

// The temporary files of saves live beside the target as "<name>.tmp.<pid>.<n>". A save
// killed before its rename leaves one (a whole table); this removes those of processes
// that no longer run, ours only. Returns how many went.
std::string TempFilePrefix(const std::filesystem::path& target);
int RemoveStaleTempFiles(const std::filesystem::path& path);

}  // namespace orb
