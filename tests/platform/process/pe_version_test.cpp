// The PE version reader against files built byte by byte: both header formats, every
// truncation, and one hostile change at a time to each field the walk depends on.
#include "platform/process/pe_version.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "pe_builder.h"
#include "support/temp_dir.h"

namespace orb::platform {
namespace {

using test::BuildPe;
using test::PeFile;
using test::Put16;
using test::Put32;

constexpr std::uint32_t kMS = 0x00070002;  // 7.2
constexpr std::uint32_t kLS = 0x0003000B;  // 3.11
constexpr std::uint32_t kUntouched = 0xDEADBEEF;

bool Read(const std::vector<std::uint8_t>& bytes, std::uint32_t* pMS, std::uint32_t* pLS) {
  return ReadPeFileVersion(bytes.data(), bytes.size(), pMS, pLS);
}

class PeVersion : public ::testing::TestWithParam<bool> {};

TEST_P(PeVersion, ReadsTheFileVersionNotTheProductVersion) {
  const PeFile pe = BuildPe(GetParam(), kMS, kLS);
  std::uint32_t dwMS = 0;
  std::uint32_t dwLS = 0;
  ASSERT_TRUE(Read(pe.bytes, &dwMS, &dwLS));
  EXPECT_EQ(dwMS, kMS);
  EXPECT_EQ(dwLS, kLS);
}

TEST_P(PeVersion, EveryTruncationIsRefused) {
  const PeFile pe = BuildPe(GetParam(), kMS, kLS);
  for (std::size_t n = 0; n < pe.bytes.size(); ++n) {
    std::uint32_t dwMS = kUntouched;
    std::uint32_t dwLS = kUntouched;
    EXPECT_FALSE(ReadPeFileVersion(pe.bytes.data(), n, &dwMS, &dwLS)) << n;
    EXPECT_EQ(dwMS, kUntouched) << n;
    EXPECT_EQ(dwLS, kUntouched) << n;
  }
  std::uint32_t dwMS = 0;
  std::uint32_t dwLS = 0;
  EXPECT_FALSE(ReadPeFileVersion(nullptr, 0, &dwMS, &dwLS));
}

struct Damage {
  const char* pWhat;
  std::function<void(PeFile&)> apply;
};

const Damage kDamages[] = {
    {"no MZ", [](PeFile& pe) { pe.bytes[0] = 'X'; }},
    {"e_lfanew past the end",
     [](PeFile& pe) { Put32(pe.bytes, pe.nLfanew, static_cast<std::uint32_t>(pe.bytes.size())); }},
    {"e_lfanew near 4 GiB", [](PeFile& pe) { Put32(pe.bytes, pe.nLfanew, 0xFFFFFFF0u); }},
    {"PE signature", [](PeFile& pe) { pe.bytes[pe.nPeSignature + 1] = 'X'; }},
    {"unknown optional header magic", [](PeFile& pe) { Put16(pe.bytes, pe.nMagic, 0x10C); }},
    {"optional header too short for the resource directory",
     [](PeFile& pe) { Put16(pe.bytes, pe.nOptionalSize, static_cast<std::uint16_t>(pe.nResourceDir - pe.nMagic)); }},
    {"two data directories only", [](PeFile& pe) { Put32(pe.bytes, pe.nRvaCount, 2); }},
    {"no resource RVA", [](PeFile& pe) { Put32(pe.bytes, pe.nResourceDir, 0); }},
    {"no resource size", [](PeFile& pe) { Put32(pe.bytes, pe.nResourceDir + 4, 0); }},
    {"resource RVA in no section", [](PeFile& pe) { Put32(pe.bytes, pe.nResourceDir, 0x9000); }},
    {"resource RVA near 4 GiB", [](PeFile& pe) { Put32(pe.bytes, pe.nResourceDir, 0xFFFFFFF8u); }},
    {"no sections", [](PeFile& pe) { Put16(pe.bytes, pe.nSectionCount, 0); }},
    {"section table past the end", [](PeFile& pe) { Put16(pe.bytes, pe.nSectionCount, 0xFFFF); }},
    {"section raw data past the end", [](PeFile& pe) { Put32(pe.bytes, pe.nRsrcSection + 20, 0xFFFFFF00u); }},
    {"section at the top of the address space", [](PeFile& pe) { Put32(pe.bytes, pe.nRsrcSection + 12, 0xFFFFF000u); }},
    {"section's virtual size ends before the version", [](PeFile& pe) { Put32(pe.bytes, pe.nRsrcSection + 8, 0x90); }},
    {"section's raw size ends before the version", [](PeFile& pe) { Put32(pe.bytes, pe.nRsrcSection + 16, 0x90); }},
    {"huge named entry count puts the ids past the end", [](PeFile& pe) { Put16(pe.bytes, pe.nRoot + 12, 0xFFFF); }},
    {"no RT_VERSION", [](PeFile& pe) { Put32(pe.bytes, pe.nTypeEntry, 17); }},
    {"RT_VERSION as a named entry", [](PeFile& pe) { Put32(pe.bytes, pe.nTypeEntry, 0x80000010u); }},
    {"type entry out of range", [](PeFile& pe) { Put32(pe.bytes, pe.nTypeEntry + 4, 0xFFFFFFF0u); }},
    {"type entry is data, not a directory", [](PeFile& pe) { Put32(pe.bytes, pe.nTypeEntry + 4, 0x70); }},
    {"type entry points back at the root", [](PeFile& pe) { Put32(pe.bytes, pe.nTypeEntry + 4, 0x80000000u); }},
    {"name directory empty", [](PeFile& pe) { Put16(pe.bytes, pe.nNameDir + 14, 0); }},
    {"name entry points at its own directory", [](PeFile& pe) { Put32(pe.bytes, pe.nNameEntry + 4, 0x80000040u); }},
    {"name entry out of range", [](PeFile& pe) { Put32(pe.bytes, pe.nNameEntry + 4, 0x8000FFF0u); }},
    {"name entry is data", [](PeFile& pe) { Put32(pe.bytes, pe.nNameEntry + 4, 0x70); }},
    {"language directory empty", [](PeFile& pe) { Put16(pe.bytes, pe.nLangDir + 14, 0); }},
    {"language entry is a directory (itself)", [](PeFile& pe) { Put32(pe.bytes, pe.nLangEntry + 4, 0x80000058u); }},
    {"language entry takes its directory for a data entry",
     [](PeFile& pe) { Put32(pe.bytes, pe.nLangEntry + 4, 0x58); }},
    {"data entry out of range", [](PeFile& pe) { Put32(pe.bytes, pe.nLangEntry + 4, 0x7FFFFFF0u); }},
    {"version RVA out of range", [](PeFile& pe) { Put32(pe.bytes, pe.nDataEntry, 0xFFFFFF00u); }},
    {"version RVA in the wrong section", [](PeFile& pe) { Put32(pe.bytes, pe.nDataEntry, 0x1000); }},
    {"version size huge", [](PeFile& pe) { Put32(pe.bytes, pe.nDataEntry + 4, 0xFFFFFFFFu); }},
    {"version size too small", [](PeFile& pe) { Put32(pe.bytes, pe.nDataEntry + 4, 40); }},
    {"wLength beyond the resource", [](PeFile& pe) { Put16(pe.bytes, pe.nVersion, 200); }},
    {"wLength too small", [](PeFile& pe) { Put16(pe.bytes, pe.nVersion, 38); }},
    {"no fixed file info", [](PeFile& pe) { Put16(pe.bytes, pe.nVersion + 2, 0); }},
    {"wrong key", [](PeFile& pe) { Put16(pe.bytes, pe.nVersion + 6 + 2 * 3, 'v'); }},
    {"key without its NUL", [](PeFile& pe) { Put16(pe.bytes, pe.nVersion + 6 + 2 * 15, 'X'); }},
    {"signature", [](PeFile& pe) { Put32(pe.bytes, pe.nFixedInfo, 0xFEEF04BCu); }},
};

TEST_P(PeVersion, HostileFieldsAreRefused) {
  for (const Damage& damage : kDamages) {
    PeFile pe = BuildPe(GetParam(), kMS, kLS);
    damage.apply(pe);
    std::uint32_t dwMS = kUntouched;
    std::uint32_t dwLS = kUntouched;
    EXPECT_FALSE(Read(pe.bytes, &dwMS, &dwLS)) << damage.pWhat;
    EXPECT_EQ(dwMS, kUntouched) << damage.pWhat;
  }
}

TEST_P(PeVersion, LargeCountsAndOffsetsWithinReachStillWork) {
  // A huge id count is harmless when RT_VERSION comes early; a version block longer than
  // the part we read is normal (its children follow the fixed info).
  PeFile pe = BuildPe(GetParam(), kMS, kLS);
  Put16(pe.bytes, pe.nRoot + 14, 0xFFFF);
  std::uint32_t dwMS = 0;
  std::uint32_t dwLS = 0;
  EXPECT_TRUE(Read(pe.bytes, &dwMS, &dwLS));

  pe = BuildPe(GetParam(), kMS, kLS);
  pe.bytes.resize(pe.bytes.size() + 100, 0);
  const std::uint32_t nRsrcSize = static_cast<std::uint32_t>(pe.bytes.size() - test::kRsrcFileOffset);
  Put32(pe.bytes, pe.nRsrcSection + 8, nRsrcSize);
  Put32(pe.bytes, pe.nRsrcSection + 16, nRsrcSize);
  Put32(pe.bytes, pe.nDataEntry + 4, 192);
  Put16(pe.bytes, pe.nVersion, 192);
  ASSERT_TRUE(Read(pe.bytes, &dwMS, &dwLS));
  EXPECT_EQ(dwLS, kLS);
}

INSTANTIATE_TEST_SUITE_P(Formats, PeVersion, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Pe32Plus" : "Pe32"; });

class PeVersionFile : public ::testing::Test {
 protected:
  test::TempDir m_dir;
};

TEST_F(PeVersionFile, ReadsAFileAndRefusesWhatIsNoRegularFile) {
  const PeFile pe = BuildPe(true, kMS, kLS);
  const std::string sPath = m_dir / "App.exe";
  test::WriteFileBytes(sPath, pe.bytes.data(), pe.bytes.size());
  std::uint32_t dwMS = 0;
  std::uint32_t dwLS = 0;
  ASSERT_TRUE(ReadPeFileVersionOfFile(sPath, &dwMS, &dwLS));
  EXPECT_EQ(dwMS, kMS);
  EXPECT_EQ(dwLS, kLS);

  EXPECT_FALSE(ReadPeFileVersionOfFile(m_dir / "missing.exe", &dwMS, &dwLS));
  EXPECT_FALSE(ReadPeFileVersionOfFile(m_dir.Path().string(), &dwMS, &dwLS));
  // A FIFO without a writer: opening it for reading would wait for ever.
  const std::string sFifo = m_dir / "fifo.exe";
  ASSERT_EQ(::mkfifo(sFifo.c_str(), 0600), 0);
  EXPECT_FALSE(ReadPeFileVersionOfFile(sFifo, &dwMS, &dwLS));
  EXPECT_FALSE(ReadPeFileVersionOfFile("/dev/zero", &dwMS, &dwLS));
}

TEST_F(PeVersionFile, ReadsAVersionThreeGigabytesIntoASparseFile) {
  // Offsets past 2 GiB must survive every step from the 32-bit fields to pread.
  PeFile pe = BuildPe(false, kMS, kLS);
  constexpr std::uint32_t kFarOffset = 0xC0000000u;
  Put32(pe.bytes, pe.nRsrcSection + 20, kFarOffset);
  const std::string sPath = m_dir / "Far.exe";
  const int nFd = ::open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(nFd, 0);
  const std::size_t nRsrc = pe.bytes.size() - test::kRsrcFileOffset;
  EXPECT_EQ(::pwrite(nFd, pe.bytes.data(), test::kRsrcFileOffset, 0), static_cast<ssize_t>(test::kRsrcFileOffset));
  EXPECT_EQ(::pwrite(nFd, pe.bytes.data() + test::kRsrcFileOffset, nRsrc, kFarOffset), static_cast<ssize_t>(nRsrc));
  ::close(nFd);
  std::uint32_t dwMS = 0;
  std::uint32_t dwLS = 0;
  ASSERT_TRUE(ReadPeFileVersionOfFile(sPath, &dwMS, &dwLS));
  EXPECT_EQ(dwMS, kMS);
  EXPECT_EQ(dwLS, kLS);
  // The same bytes truncated just before the version block's end.
  ASSERT_EQ(::truncate(sPath.c_str(), static_cast<off_t>(kFarOffset + nRsrc - 1)), 0);
  EXPECT_FALSE(ReadPeFileVersionOfFile(sPath, &dwMS, &dwLS));
}

}  // namespace
}  // namespace orb::platform
