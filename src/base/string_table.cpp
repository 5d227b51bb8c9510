#include "base/string_table.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/string_table_data.h"

namespace orb {
namespace {

std::atomic<UiLanguage> g_currentLanguage{UiLanguage::English};

}  // namespace

UiLanguage SystemUiLanguage() {
  for (const char* pName : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* pValue = std::getenv(pName);
    if (pValue != nullptr && pValue[0] != '\0') {
      return std::strncmp(pValue, "ja", 2) == 0 ? UiLanguage::Japanese : UiLanguage::English;
    }
  }
  return UiLanguage::English;
}

void SetUiLanguage(UiLanguage language) { g_currentLanguage.store(language); }

UiLanguage CurrentUiLanguage() { return g_currentLanguage.load(); }

std::span<const StringEntry> StringTableEntries(UiLanguage language) {
  return language == UiLanguage::Japanese ? strings::JapaneseTable() : strings::EnglishTable();
}

const char* LoadString(int nId, UiLanguage language) {
  const auto table = StringTableEntries(language);
  const auto it = std::lower_bound(table.begin(), table.end(), nId,
                                   [](const StringEntry& entry, int n) { return entry.nId < n; });
  return it != table.end() && it->nId == nId ? it->pText : "";
}

const char* LoadString(int nId) { return LoadString(nId, CurrentUiLanguage()); }

}  // namespace orb
