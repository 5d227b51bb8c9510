#pragma once
// Small PE files with a version resource, built byte by byte, and where their fields sit
// so that a test can bend any of them. The layout (file offsets):
//
//   0x000 DOS header, e_lfanew = 0x80       0x600 .rsrc (RVA 0x3000):
//   0x080 PE header, optional header          +0x00 root: 1 named type, ids 3, 16, 24
//   ...   section table: .text, .rsrc         +0x30 an empty directory (the other types)
//   0x400 .text (RVA 0x1000), 0x200 bytes     +0x40 names of RT_VERSION: id 1
//                                             +0x58 languages: id 0x409
//                                             +0x70 data entry -> +0x90
//                                             +0x80 the named type's name
//                                             +0x90 VS_VERSIONINFO with VS_FIXEDFILEINFO
// The version block ends the file, so every shorter prefix lacks something it needs.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orb::test {

struct PeFile {
  std::vector<std::uint8_t> bytes;
  std::size_t nLfanew;  // e_lfanew
  std::size_t nPeSignature;
  std::size_t nSectionCount;  // NumberOfSections
  std::size_t nOptionalSize;  // SizeOfOptionalHeader
  std::size_t nMagic;
  std::size_t nRvaCount;     // NumberOfRvaAndSizes
  std::size_t nResourceDir;  // data directory 2: RVA, size
  std::size_t nRsrcSection;  // the .rsrc section header
  std::size_t nRoot;
  std::size_t nTypeEntry;  // the root's RT_VERSION entry
  std::size_t nNameDir;
  std::size_t nNameEntry;
  std::size_t nLangDir;
  std::size_t nLangEntry;
  std::size_t nDataEntry;
  std::size_t nVersion;    // VS_VERSIONINFO
  std::size_t nFixedInfo;  // VS_FIXEDFILEINFO
};

inline constexpr std::uint32_t kRsrcRva = 0x3000;
inline constexpr std::uint32_t kRsrcFileOffset = 0x600;

// File version dwMS.dwLS; the product version is set to other words, so that a reader
// that takes the wrong pair is caught.
PeFile BuildPe(bool blPe32Plus, std::uint32_t dwMS, std::uint32_t dwLS);

void Put16(std::vector<std::uint8_t>& bytes, std::size_t nAt, std::uint16_t nValue);
void Put32(std::vector<std::uint8_t>& bytes, std::size_t nAt, std::uint32_t nValue);

}  // namespace orb::test
