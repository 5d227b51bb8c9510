#pragma once
// The file version of a Windows program (VS_FIXEDFILEINFO dwFileVersionMS/LS), read from
// the version resource of its PE file, as profiles were matched against it on Windows.
// The bytes come from any file a process has mapped, so every offset and length in them
// is checked before use, the walk through the resource tree has a fixed depth, and nothing
// is allocated from a size the file gives.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orb::platform {

// Directory entries looked at per resource directory, and sections per file: more than
// any real program has, few enough to keep a hostile file's cost small.
inline constexpr std::uint32_t kPeMaxDirectoryEntries = 1024;
inline constexpr std::uint32_t kPeMaxSections = 96;
// All a file read may take: the headers, the section table, three directories and the
// version block fit in a few 4 KiB blocks, however large the file is.
inline constexpr std::size_t kPeMaxFileReadBytes = 128 * 1024;

// From the bytes of a PE file (PE32 or PE32+). False when they hold no well-formed
// version resource with a fixed file info; the words are then left alone.
bool ReadPeFileVersion(const std::uint8_t* p, std::size_t n, std::uint32_t* pMS, std::uint32_t* pLS);

// The same from a file, read with pread up to kPeMaxFileReadBytes. Anything but a regular
// file is refused before it is opened for reading.
bool ReadPeFileVersionOfFile(const std::string& sPath, std::uint32_t* pMS, std::uint32_t* pLS);

}  // namespace orb::platform
