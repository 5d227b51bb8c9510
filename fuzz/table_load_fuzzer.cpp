// Any bytes as a profile table: loading, checking and the text form must take them all,
// and dump then build must give back the very same records in either language.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "profiles/profile_table.h"
#include "profiles/table_check.h"
#include "profiles/table_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  const std::span<const std::uint8_t> bytes(pData, nSize);
  const std::vector<orb::ProfileRecord> records = orb::ReadProfileTable(bytes);
  orb::CheckTable(bytes);
  for (const orb::ProfileRecord& record : records) {
    orb::MatchVersion(record, 0x00060000, 0);
    for (int nCode = 600; nCode <= 639; ++nCode) {
      orb::SelectCommand(record, nCode);
    }
  }
  for (orb::TableLanguage language : {orb::TableLanguage::English, orb::TableLanguage::Japanese}) {
    const std::string text = orb::DumpTableText(records, language, orb::TableTrailingBytes(nSize));
    orb::TableText built;
    std::string error;
    if (!orb::BuildTableFromText(text, built, error) || built.records.size() != records.size() ||
        (!records.empty() &&
         std::memcmp(built.records.data(), records.data(), records.size() * sizeof(orb::ProfileRecord)) != 0)) {
      std::abort();  // the text form lost or changed something
    }
  }
  return 0;
}
