// Any text given to `orbctl table build`: it is refused with a message or built; what is
// built must survive dump then build unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "profiles/profile_table.h"
#include "profiles/table_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  orb::TableText table;
  std::string error;
  if (!orb::BuildTableFromText({reinterpret_cast<const char*>(pData), nSize}, table, error)) {
    if (error.rfind("line ", 0) != 0) {
      std::abort();  // every refusal names its line
    }
    return 0;
  }
  const std::string text = orb::DumpTableText(table.records, table.language);
  orb::TableText again;
  if (!orb::BuildTableFromText(text, again, error) || again.records.size() != table.records.size() ||
      (!table.records.empty() && std::memcmp(again.records.data(), table.records.data(),
                                             table.records.size() * sizeof(orb::ProfileRecord)) != 0)) {
    std::abort();
  }
  return 0;
}
