#include "profiles/table_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "profiles/default_tables.h"
#include "profiles/profile_table.h"

namespace orb {
namespace {

std::vector<std::uint8_t> Bytes(const ProfileRecord& record) { return WriteProfileTable({&record, 1}); }

bool HasFinding(const TableCheckReport& report, bool blProblem, std::string_view part) {
  for (const TableFinding& finding : report.findings) {
    if (finding.blProblem == blProblem && finding.text.find(part) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST(TableCheck, DefaultTablesAreClean) {
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    const TableCheckReport report = CheckTable(DefaultTable(language));
    EXPECT_EQ(report.findings.size(), 0u) << report.findings[0].text;
  }
}

TEST(TableCheck, BlocksOfAnySizeAreDescribed) {
  EXPECT_EQ(CheckTable({}).nRecords, 0u);
  EXPECT_EQ(CheckTable({}).findings.size(), 0u);

  const std::vector<std::uint8_t> short_(5007, 0);
  const TableCheckReport shortReport = CheckTable(short_);
  EXPECT_EQ(shortReport.nRecords, 0u);
  EXPECT_EQ(shortReport.nTrailingBytes, 5007u);
  EXPECT_TRUE(HasFinding(shortReport, true, "5007 bytes after the last whole record"));

  const std::vector<std::uint8_t> two(10020, 0);
  const TableCheckReport twoReport = CheckTable(two);
  EXPECT_EQ(twoReport.nRecords, 2u);
  EXPECT_EQ(twoReport.ProblemCount(), 1u);
  EXPECT_TRUE(HasFinding(twoReport, true, "4 bytes after"));
}

TEST(TableCheck, EveryBitSetIsReportedWithoutReadingPastTheFields) {
  const std::vector<std::uint8_t> ones(5008, 0xFF);
  const TableCheckReport report = CheckTable(ones);
  EXPECT_EQ(report.nRecords, 1u);
  EXPECT_TRUE(HasFinding(report, true, "szAppName has no NUL; it is read to the end of its 64 bytes"));
  EXPECT_TRUE(HasFinding(report, true, "szLibName has no NUL"));
  EXPECT_TRUE(HasFinding(report, true, "SHUTTLE_P5_RIGHT file: label has no NUL"));
  EXPECT_TRUE(HasFinding(report, true, "dwFlags 0xFFFFFFFF has bits without a meaning: 0xFFFC0001"));
  EXPECT_TRUE(HasFinding(report, true, "version rule 7"));
  EXPECT_TRUE(HasFinding(report, true, "dwOption 0xFFFFFFFF has bits without a meaning: 0xFFFFFFFE"));
  EXPECT_TRUE(HasFinding(report, true, "key stroke 5 (0xFFFFFFFF) has bits without a meaning: 0xF0000000"));
  EXPECT_TRUE(HasFinding(report, false, "reserved bytes"));
  EXPECT_TRUE(HasFinding(report, false, "dwReserved is 0xFFFFFFFF"));
  // The printed name is the escaped bytes of the 64-byte field, nothing beyond it.
  std::string name;
  for (int i = 0; i < 64; ++i) {
    name += "\\xFF";
  }
  EXPECT_TRUE(HasFinding(report, true, "record 1 \"" + name + "\": dwFlags"));
}

TEST(TableCheck, EachOddityIsNamedWhereItIs) {
  ProfileRecord record{};
  std::strcpy(record.szAppName, "Editor");
  record.dwFlags = PF_FALLBACK | (5u << PF_VERRULE_SHIFT);
  record.entries[0].deck.keys[0] = 0x07;  // a code without a name
  record.entries[9].file.keys[0] = 0x41;
  record.entries[9].file.keys[2] = 0x42;  // after the empty second stroke
  record.entries[10].file.keys[0] = KS_CTRL;  // no key, only a modifier
  std::vector<std::uint8_t> bytes = Bytes(record);
  const std::vector<std::uint8_t> second = Bytes(record);
  bytes.insert(bytes.end(), second.begin(), second.end());

  const TableCheckReport report = CheckTable(bytes);
  EXPECT_TRUE(HasFinding(report, true, "record 1 \"Editor\": version rule 5 matches no executable"));
  EXPECT_TRUE(HasFinding(report, true, "record 1 \"Editor\" PGM1 deck: key stroke 1 (0x00000007) plays key code "
                                       "0x00000007, which has no name"));
  EXPECT_TRUE(HasFinding(report, false, "record 1 \"Editor\" PLAY file: key stroke 3 (0x00000042) follows an empty "
                                        "stroke and is never played"));
  EXPECT_TRUE(HasFinding(report, false, "IN file: key stroke 1 (0x00020000) has no key"));
  EXPECT_TRUE(HasFinding(report, false, "record 2 \"Editor\": PF_FALLBACK is set, but record 1 is the fallback"));
  EXPECT_FALSE(HasFinding(report, false, "record 1 \"Editor\": PF_FALLBACK"));
  EXPECT_EQ(report.ProblemCount(), 4u);
}

}  // namespace
}  // namespace orb
