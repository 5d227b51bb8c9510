#include "platform/process/pe_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/unique_fd.h"
#include "base/write_log.h"

namespace orb::platform {
namespace {

constexpr std::uint32_t kResourceDirectory = 2;  // index in the optional header's data directories
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr std::size_t kSectionHeaderBytes = 40;
constexpr std::size_t kDirectoryHeaderBytes = 16;
constexpr std::size_t kEntryBytes = 8;
constexpr std::size_t kDataEntryBytes = 16;
// VS_VERSIONINFO up to the end of the fields we use: wLength, wValueLength, wType, the
// key (16 UTF-16 units with its NUL), padding to 32 bits, then VS_FIXEDFILEINFO (52 bytes).
constexpr std::size_t kVersionKeyOffset = 6;
constexpr std::size_t kFixedInfoOffset = 40;
constexpr std::size_t kFixedInfoBytes = 52;
constexpr std::size_t kVersionHeadBytes = kFixedInfoOffset + kFixedInfoBytes;
constexpr char16_t kVersionKey[] = u"VS_VERSION_INFO";

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// Where the parser gets its bytes: memory for the pure function, the file for the other.
// Offsets are 64-bit, so no sum of 32-bit fields from the file can wrap.
class PeSource {
 public:
  virtual ~PeSource() = default;
  virtual std::uint64_t Size() const = 0;
  // False when any byte of [nOffset, nOffset + nSize) is past the end or cannot be read.
  virtual bool Read(std::uint64_t nOffset, std::size_t nSize, std::uint8_t* pOut) = 0;

 protected:
  bool Inside(std::uint64_t nOffset, std::uint64_t nSize) const {
    return nOffset <= Size() && nSize <= Size() - nOffset;
  }
};

class MemorySource final : public PeSource {
 public:
  MemorySource(const std::uint8_t* p, std::size_t n) : m_p(p), m_n(n) {}
  std::uint64_t Size() const override { return m_n; }
  bool Read(std::uint64_t nOffset, std::size_t nSize, std::uint8_t* pOut) override {
    if (!Inside(nOffset, nSize)) return false;
    if (nSize != 0) std::memcpy(pOut, m_p + nOffset, nSize);
    return true;
  }

 private:
  const std::uint8_t* m_p;
  std::size_t m_n;
};

// Reads a block at a time: the small reads of one directory or header mostly fall in the
// same block. The budget holds however the file is laid out.
class FileSource final : public PeSource {
 public:
  FileSource(int nFd, std::uint64_t nSize) : m_nFd(nFd), m_nSize(nSize) {}
  std::uint64_t Size() const override { return m_nSize; }
  bool Read(std::uint64_t nOffset, std::size_t nSize, std::uint8_t* pOut) override {
    if (!Inside(nOffset, nSize) || nSize > sizeof(m_block)) return false;
    if (!(m_nBlockLength != 0 && nOffset >= m_nBlockStart && nOffset - m_nBlockStart <= m_nBlockLength &&
          nSize <= m_nBlockLength - (nOffset - m_nBlockStart))) {
      if (!Fill(nOffset, nSize)) return false;
    }
    if (nSize != 0) std::memcpy(pOut, m_block + (nOffset - m_nBlockStart), nSize);
    return true;
  }

 private:
  bool Fill(std::uint64_t nOffset, std::size_t nNeed) {
    const std::size_t nLength = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof(m_block), m_nSize - nOffset));
    if (nLength > m_nBudget) return false;
    m_nBudget -= nLength;
    m_nBlockLength = 0;
    std::size_t nDone = 0;
    while (nDone < nLength) {
      const ssize_t nRead = ::pread(m_nFd, m_block + nDone, nLength - nDone, static_cast<off_t>(nOffset + nDone));
      if (nRead < 0 && errno == EINTR) continue;
      if (nRead <= 0) break;  // an error, or the file shrank since fstat
      nDone += static_cast<std::size_t>(nRead);
    }
    if (nDone < nNeed) return false;
    m_nBlockStart = nOffset;
    m_nBlockLength = nDone;
    return true;
  }

  int m_nFd;
  std::uint64_t m_nSize;
  std::size_t m_nBudget = kPeMaxFileReadBytes;
  std::uint64_t m_nBlockStart = 0;
  std::size_t m_nBlockLength = 0;
  std::uint8_t m_block[4096];
};

struct Section {
  std::uint64_t nVirtualAddress;
  std::uint64_t nLength;  // the part of the section that comes from the file
  std::uint64_t nFileOffset;
};

class PeImage final {
 public:
  explicit PeImage(PeSource& source) : m_source(source) {}

  bool ReadFileVersion(std::uint32_t* pMS, std::uint32_t* pLS) {
    std::uint64_t nResourceRva = 0;
    if (!ReadHeaders(&nResourceRva)) return false;
    std::uint64_t nVersionRva = 0;
    std::uint64_t nVersionSize = 0;
    if (!FindVersionData(nResourceRva, &nVersionRva, &nVersionSize)) return false;
    return ReadFixedInfo(nVersionRva, nVersionSize, pMS, pLS);
  }

 private:
  bool ReadHeaders(std::uint64_t* pResourceRva) {
    std::uint8_t dos[64];
    if (!m_source.Read(0, sizeof(dos), dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const std::uint64_t nPe = Get32(dos + 0x3C);
    // Signature, COFF header, and the optional header as far as NumberOfRvaAndSizes and
    // the data directories up to the resource one (PE32+ is the longer of the two).
    std::uint8_t head[24 + 112 + 8 * (kResourceDirectory + 1)];
    std::size_t nHead = 24 + 2;
    if (!m_source.Read(nPe, nHead, head) || std::memcmp(head, "PE\0\0", 4) != 0) return false;
    const std::uint32_t nSections = Get16(head + 6);
    const std::uint64_t nOptionalSize = Get16(head + 20);
    const std::uint16_t nMagic = Get16(head + 24);
    std::size_t nDirectories = 0;  // offset of the data directories in the optional header
    if (nMagic == 0x10B) {
      nDirectories = 96;
    } else if (nMagic == 0x20B) {
      nDirectories = 112;
    } else {
      return false;
    }
    const std::size_t nNeeded = nDirectories + 8 * (kResourceDirectory + 1);
    if (nOptionalSize < nNeeded) return false;
    nHead = 24 + nNeeded;
    if (!m_source.Read(nPe, nHead, head)) return false;
    const std::uint8_t* pOptional = head + 24;
    if (Get32(pOptional + nDirectories - 4) <= kResourceDirectory) return false;  // NumberOfRvaAndSizes
    const std::uint8_t* pResource = pOptional + nDirectories + 8 * kResourceDirectory;
    *pResourceRva = Get32(pResource);
    if (*pResourceRva == 0 || Get32(pResource + 4) == 0) return false;  // no resources

    const std::uint64_t nTable = nPe + 24 + nOptionalSize;
    m_nSections = std::min(nSections, kPeMaxSections);
    for (std::uint32_t i = 0; i < m_nSections; ++i) {
      std::uint8_t entry[kSectionHeaderBytes];
      if (!m_source.Read(nTable + std::uint64_t{i} * kSectionHeaderBytes, sizeof(entry), entry)) return false;
      const std::uint32_t nVirtualSize = Get32(entry + 8);
      const std::uint32_t nRawSize = Get32(entry + 16);
      // The loader maps no more of the file than the section's virtual size.
      m_sections[i] = {Get32(entry + 12), nVirtualSize != 0 ? std::min(nVirtualSize, nRawSize) : nRawSize,
                       Get32(entry + 20)};
    }
    return true;
  }

  // The file offset of [nRva, nRva + nSize), which must lie within one section's file data
  // and within the file.
  bool MapRva(std::uint64_t nRva, std::uint64_t nSize, std::uint64_t* pOffset) const {
    for (std::uint32_t i = 0; i < m_nSections; ++i) {
      const Section& section = m_sections[i];
      if (nRva < section.nVirtualAddress) continue;
      const std::uint64_t nInto = nRva - section.nVirtualAddress;
      if (nInto > section.nLength || nSize > section.nLength - nInto) continue;
      const std::uint64_t nOffset = section.nFileOffset + nInto;
      if (nOffset > m_source.Size() || nSize > m_source.Size() - nOffset) return false;
      *pOffset = nOffset;
      return true;
    }
    return false;
  }

  bool ReadRva(std::uint64_t nRva, std::size_t nSize, std::uint8_t* pOut) {
    std::uint64_t nOffset = 0;
    return MapRva(nRva, nSize, &nOffset) && m_source.Read(nOffset, nSize, pOut);
  }

  // A directory's entry counts; its entries follow the 16-byte header.
  bool ReadDirectory(std::uint64_t nDirectoryRva, std::uint32_t* pNamed, std::uint32_t* pIds) {
    std::uint8_t header[kDirectoryHeaderBytes];
    if (!ReadRva(nDirectoryRva, sizeof(header), header)) return false;
    *pNamed = Get16(header + 12);
    *pIds = Get16(header + 14);
    return true;
  }

  // The OffsetToData of the first entry, named or not.
  bool FirstEntry(std::uint64_t nDirectoryRva, std::uint32_t* pOffsetToData) {
    std::uint32_t nNamed = 0;
    std::uint32_t nIds = 0;
    std::uint8_t entry[kEntryBytes];
    if (!ReadDirectory(nDirectoryRva, &nNamed, &nIds) || nNamed + nIds == 0 ||
        !ReadRva(nDirectoryRva + kDirectoryHeaderBytes, sizeof(entry), entry)) {
      return false;
    }
    *pOffsetToData = Get32(entry + 4);
    return true;
  }

  // The OffsetToData of the entry with id nId. Named entries come first; an id entry's
  // name has its top bit clear, so a name can never be taken for an id.
  bool IdEntry(std::uint64_t nDirectoryRva, std::uint32_t nId, std::uint32_t* pOffsetToData) {
    std::uint32_t nNamed = 0;
    std::uint32_t nIds = 0;
    if (!ReadDirectory(nDirectoryRva, &nNamed, &nIds)) return false;
    const std::uint64_t nFirstId = nDirectoryRva + kDirectoryHeaderBytes + std::uint64_t{nNamed} * kEntryBytes;
    const std::uint32_t nLook = std::min(nIds, kPeMaxDirectoryEntries);
    for (std::uint32_t i = 0; i < nLook; ++i) {
      std::uint8_t entry[kEntryBytes];
      if (!ReadRva(nFirstId + std::uint64_t{i} * kEntryBytes, sizeof(entry), entry)) return false;
      if (Get32(entry) == nId) {
        *pOffsetToData = Get32(entry + 4);
        return true;
      }
    }
    return false;
  }

  // Type, then name, then language: a fixed three levels, so a directory that points back
  // at itself or at its parent ends the walk instead of looping.
  bool FindVersionData(std::uint64_t nResourceRva, std::uint64_t* pRva, std::uint64_t* pSize) {
    std::uint32_t nOffset = 0;
    if (!IdEntry(nResourceRva, kRtVersion, &nOffset) || (nOffset & kSubdirectoryBit) == 0) return false;
    if (!FirstEntry(nResourceRva + (nOffset & ~kSubdirectoryBit), &nOffset) || (nOffset & kSubdirectoryBit) == 0) {
      return false;
    }
    if (!FirstEntry(nResourceRva + (nOffset & ~kSubdirectoryBit), &nOffset) || (nOffset & kSubdirectoryBit) != 0) {
      return false;
    }
    std::uint8_t data[kDataEntryBytes];
    if (!ReadRva(nResourceRva + nOffset, sizeof(data), data)) return false;
    *pRva = Get32(data);  // an image RVA, not an offset into the resource directory
    *pSize = Get32(data + 4);
    return true;
  }

  bool ReadFixedInfo(std::uint64_t nRva, std::uint64_t nSize, std::uint32_t* pMS, std::uint32_t* pLS) {
    std::uint64_t nOffset = 0;
    if (nSize < kVersionHeadBytes || !MapRva(nRva, nSize, &nOffset)) return false;
    std::uint8_t block[kVersionHeadBytes];
    if (!m_source.Read(nOffset, sizeof(block), block)) return false;
    const std::uint16_t nLength = Get16(block);
    const std::uint16_t nValueLength = Get16(block + 2);
    if (nLength < kVersionHeadBytes || nLength > nSize || nValueLength < kFixedInfoBytes) return false;
    for (std::size_t i = 0; i < std::size(kVersionKey); ++i) {
      if (Get16(block + kVersionKeyOffset + 2 * i) != kVersionKey[i]) return false;
    }
    const std::uint8_t* pFixed = block + kFixedInfoOffset;
    if (Get32(pFixed) != kFixedFileInfoSignature) return false;
    *pMS = Get32(pFixed + 8);
    *pLS = Get32(pFixed + 12);
    return true;
  }

  PeSource& m_source;
  Section m_sections[kPeMaxSections] = {};
  std::uint32_t m_nSections = 0;
};

}  // namespace

bool ReadPeFileVersion(const std::uint8_t* p, std::size_t n, std::uint32_t* pMS, std::uint32_t* pLS) {
  if (p == nullptr) return false;
  MemorySource source(p, n);
  return PeImage(source).ReadFileVersion(pMS, pLS);
}

bool ReadPeFileVersionOfFile(const std::string& sPath, std::uint32_t* pMS, std::uint32_t* pLS) {
  // Looked at before it is opened: opening a device can act on it, and a FIFO would wait.
  struct stat status {};
  if (::stat(sPath.c_str(), &status) != 0) {
    WriteLog("PeVersion: cannot stat %s: %s\r\n", sPath.c_str(), std::strerror(errno));
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    WriteLog("PeVersion: %s is not a regular file\r\n", sPath.c_str());
    return false;
  }
  UniqueFd file(::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file.Valid()) {
    WriteLog("PeVersion: cannot open %s: %s\r\n", sPath.c_str(), std::strerror(errno));
    return false;
  }
  // The name may stand for something else by now.
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    WriteLog("PeVersion: %s is not a regular file\r\n", sPath.c_str());
    return false;
  }
  FileSource source(file.Get(), static_cast<std::uint64_t>(status.st_size));
  if (!PeImage(source).ReadFileVersion(pMS, pLS)) {
    WriteLog("PeVersion: no file version in %s\r\n", sPath.c_str());
    return false;
  }
  return true;
}

}  // namespace orb::platform
