#pragma once
// A profile table is a bare run of 5008-byte records: no header, no count, no checksum.
// Whatever block it comes from (a file, shared memory, a default table) is untrusted, so
// records are copied out of the block and texts are read only within their fields.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "profiles/profile_record.h"

namespace orb {

inline constexpr std::size_t kProfileRecordSize = sizeof(ProfileRecord);

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

// Reads a whole file. False (and one log line) when it cannot be read.
bool LoadTableFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);

// Writes `bytes` to a new file beside `path`, flushes it to the disk and renames it over
// `path`, so that a crash leaves either the old table or the new one, never a part.
// An existing file's permissions are kept. False (and one log line) on failure, and the
// old file is then untouched.
bool SaveTableFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace orb
