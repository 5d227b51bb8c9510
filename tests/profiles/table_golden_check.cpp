// table_golden_check TABLE EXPECTED: a captured table beside the text its dump must give.
// The expected text's `language` says how to read the table; building the expected text
// must also give back the table's whole records. Exit 0 when both hold, 1 otherwise.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "profiles/profile_table.h"
#include "profiles/table_text.h"

namespace {

void ReportFirstDifference(const std::string& expected, const std::string& actual) {
  std::size_t nLine = 1;
  std::size_t nPos = 0;
  while (nPos < expected.size() && nPos < actual.size() && expected[nPos] == actual[nPos]) {
    nLine += expected[nPos] == '\n' ? 1 : 0;
    ++nPos;
  }
  auto lineAt = [nPos](const std::string& text) {
    const std::size_t nStart = text.rfind('\n', nPos == 0 ? 0 : nPos - 1);
    const std::size_t nBegin = nStart == std::string::npos ? 0 : nStart + 1;
    return text.substr(nBegin, text.find('\n', nBegin) - nBegin);
  };
  std::fprintf(stderr, "dump differs at line %zu\nexpected: %s\nactual:   %s\n", nLine, lineAt(expected).c_str(),
               lineAt(actual).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: table_golden_check TABLE EXPECTED\n");
    return 2;
  }
  std::vector<std::uint8_t> table;
  std::vector<std::uint8_t> expectedBytes;
  if (!orb::LoadTableFile(argv[1], table) || !orb::LoadTableFile(argv[2], expectedBytes)) {
    std::fprintf(stderr, "cannot read %s or %s\n", argv[1], argv[2]);
    return 2;
  }
  const std::string expected(expectedBytes.begin(), expectedBytes.end());
  orb::TableText built;
  std::string error;
  if (!orb::BuildTableFromText(expected, built, error)) {
    std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
    return 1;
  }
  const std::vector<orb::ProfileRecord> records = orb::ReadProfileTable(table);
  const std::string actual = orb::DumpTableText(records, built.language, orb::TableTrailingBytes(table.size()));
  int nResult = 0;
  if (actual != expected) {
    ReportFirstDifference(expected, actual);
    nResult = 1;
  }
  const std::vector<std::uint8_t> rebuilt = orb::WriteProfileTable(built.records);
  if (rebuilt.size() != records.size() * orb::kProfileRecordSize ||
      (!rebuilt.empty() && std::memcmp(rebuilt.data(), table.data(), rebuilt.size()) != 0)) {
    std::fprintf(stderr, "building %s does not give the records of %s\n", argv[2], argv[1]);
    nResult = 1;
  }
  return nResult;
}
