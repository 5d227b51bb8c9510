#pragma once
// The numbered string tables: every text of the program that has an id, in English and
// in Japanese, with the same ids in both. Texts are UTF-8.

#include <span>

namespace orb {

enum class UiLanguage { English, Japanese };

// From LC_ALL, LC_MESSAGES and LANG, the first one set and not empty deciding, as the C
// library orders them: a value beginning with "ja" means Japanese, anything else English.
UiLanguage SystemUiLanguage();

// The language LoadString(nId) uses; English until set. Set once at start-up.
void SetUiLanguage(UiLanguage language);
UiLanguage CurrentUiLanguage();

// "" for an id that the table does not hold. The text lives as long as the program.
const char* LoadString(int nId);
const char* LoadString(int nId, UiLanguage language);

struct StringEntry {
  int nId;
  const char* pText;
};

// One language's whole table, ascending by id, each id once.
std::span<const StringEntry> StringTableEntries(UiLanguage language);

}  // namespace orb
