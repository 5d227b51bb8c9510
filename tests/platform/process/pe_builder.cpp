#include "pe_builder.h"

namespace orb::test {

void Put16(std::vector<std::uint8_t>& bytes, std::size_t nAt, std::uint16_t nValue) {
  if (bytes.size() < nAt + 2) bytes.resize(nAt + 2);
  bytes[nAt] = static_cast<std::uint8_t>(nValue);
  bytes[nAt + 1] = static_cast<std::uint8_t>(nValue >> 8);
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t nAt, std::uint32_t nValue) {
  Put16(bytes, nAt, static_cast<std::uint16_t>(nValue));
  Put16(bytes, nAt + 2, static_cast<std::uint16_t>(nValue >> 16));
}

namespace {

constexpr std::uint32_t kSubdirectory = 0x80000000u;

void PutDirectory(std::vector<std::uint8_t>& bytes, std::size_t nAt, std::uint16_t nNamed, std::uint16_t nIds) {
  Put32(bytes, nAt, 0);      // Characteristics
  Put32(bytes, nAt + 4, 0);  // TimeDateStamp
  Put32(bytes, nAt + 8, 0);  // version
  Put16(bytes, nAt + 12, nNamed);
  Put16(bytes, nAt + 14, nIds);
}

void PutEntry(std::vector<std::uint8_t>& bytes, std::size_t nAt, std::uint32_t nName, std::uint32_t nOffset) {
  Put32(bytes, nAt, nName);
  Put32(bytes, nAt + 4, nOffset);
}

void PutSection(std::vector<std::uint8_t>& bytes, std::size_t nAt, const char* pName, std::uint32_t nVirtualSize,
                std::uint32_t nRva, std::uint32_t nRawSize, std::uint32_t nRawOffset) {
  for (std::size_t i = 0; i < 8 && pName[i] != '\0'; ++i) bytes[nAt + i] = static_cast<std::uint8_t>(pName[i]);
  Put32(bytes, nAt + 8, nVirtualSize);
  Put32(bytes, nAt + 12, nRva);
  Put32(bytes, nAt + 16, nRawSize);
  Put32(bytes, nAt + 20, nRawOffset);
  Put32(bytes, nAt + 36, 0x40000040u);  // initialised data, readable
}

}  // namespace

PeFile BuildPe(bool blPe32Plus, std::uint32_t dwMS, std::uint32_t dwLS) {
  PeFile pe{};
  std::vector<std::uint8_t>& b = pe.bytes;
  b.assign(kRsrcFileOffset, 0);
  b[0] = 'M';
  b[1] = 'Z';
  pe.nLfanew = 0x3C;
  Put32(b, pe.nLfanew, 0x80);

  pe.nPeSignature = 0x80;
  b[0x80] = 'P';
  b[0x81] = 'E';
  const std::size_t nCoff = 0x84;
  Put16(b, nCoff, blPe32Plus ? 0x8664 : 0x014C);
  pe.nSectionCount = nCoff + 2;
  Put16(b, pe.nSectionCount, 2);
  pe.nOptionalSize = nCoff + 16;
  const std::uint16_t nOptionalSize = blPe32Plus ? 240 : 224;
  Put16(b, pe.nOptionalSize, nOptionalSize);
  Put16(b, nCoff + 18, 0x0102);  // executable image

  const std::size_t nOptional = nCoff + 20;
  pe.nMagic = nOptional;
  Put16(b, pe.nMagic, blPe32Plus ? 0x20B : 0x10B);
  const std::size_t nDirectories = nOptional + (blPe32Plus ? 112 : 96);
  pe.nRvaCount = nDirectories - 4;
  Put32(b, pe.nRvaCount, 16);
  pe.nResourceDir = nDirectories + 2 * 8;

  const std::size_t nTable = nOptional + nOptionalSize;
  PutSection(b, nTable, ".text", 0x200, 0x1000, 0x200, 0x400);
  pe.nRsrcSection = nTable + 40;

  // The resource tree; offsets in it are from the start of the section.
  const std::size_t r = kRsrcFileOffset;
  pe.nRoot = r;
  PutDirectory(b, r, 1, 3);
  PutEntry(b, r + 0x10, kSubdirectory | 0x80, kSubdirectory | 0x30);  // named type
  PutEntry(b, r + 0x18, 3, kSubdirectory | 0x30);                     // RT_ICON
  pe.nTypeEntry = r + 0x20;
  PutEntry(b, pe.nTypeEntry, 16, kSubdirectory | 0x40);  // RT_VERSION
  PutEntry(b, r + 0x28, 24, kSubdirectory | 0x30);       // RT_MANIFEST
  PutDirectory(b, r + 0x30, 0, 0);
  pe.nNameDir = r + 0x40;
  PutDirectory(b, pe.nNameDir, 0, 1);
  pe.nNameEntry = r + 0x50;
  PutEntry(b, pe.nNameEntry, 1, kSubdirectory | 0x58);
  pe.nLangDir = r + 0x58;
  PutDirectory(b, pe.nLangDir, 0, 1);
  pe.nLangEntry = r + 0x68;
  PutEntry(b, pe.nLangEntry, 0x409, 0x70);
  pe.nDataEntry = r + 0x70;
  const std::uint32_t nVersionSize = 92;
  Put32(b, pe.nDataEntry, kRsrcRva + 0x90);
  Put32(b, pe.nDataEntry + 4, nVersionSize);
  Put32(b, pe.nDataEntry + 8, 1200);
  Put32(b, pe.nDataEntry + 12, 0);
  const char16_t kTypeName[] = u"MYTYPE";
  Put16(b, r + 0x80, 6);
  for (std::size_t i = 0; i < 6; ++i) Put16(b, r + 0x82 + 2 * i, kTypeName[i]);

  pe.nVersion = r + 0x90;
  Put16(b, pe.nVersion, static_cast<std::uint16_t>(nVersionSize));  // wLength
  Put16(b, pe.nVersion + 2, 52);                                    // wValueLength
  Put16(b, pe.nVersion + 4, 0);                                     // wType: binary
  const char16_t kKey[] = u"VS_VERSION_INFO";
  for (std::size_t i = 0; i < 16; ++i) Put16(b, pe.nVersion + 6 + 2 * i, kKey[i]);
  Put16(b, pe.nVersion + 38, 0);  // padding to 32 bits
  pe.nFixedInfo = pe.nVersion + 40;
  const std::uint32_t fixed[13] = {
      0xFEEF04BDu, 0x00010000u, dwMS, dwLS, dwMS ^ 0x11111111u, dwLS ^ 0x22222222u, 0x3F, 0, 0x00040004u, 1, 0, 0, 0};
  for (std::size_t i = 0; i < 13; ++i) Put32(b, pe.nFixedInfo + 4 * i, fixed[i]);

  const std::uint32_t nRsrcSize = static_cast<std::uint32_t>(b.size() - r);
  PutSection(b, pe.nRsrcSection, ".rsrc", nRsrcSize, kRsrcRva, nRsrcSize, kRsrcFileOffset);
  Put32(b, pe.nResourceDir, kRsrcRva);
  Put32(b, pe.nResourceDir + 4, nRsrcSize);
  return pe;
}

}  // namespace orb::test
