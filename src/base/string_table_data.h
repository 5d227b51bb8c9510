#pragma once
// The two tables behind string_table.h; each lives in its own file so that a translator
// edits one file only.

#include <algorithm>
#include <span>

#include "base/string_table.h"

namespace orb::strings {

std::span<const StringEntry> EnglishTable();
std::span<const StringEntry> JapaneseTable();

// Lookup is a binary search, so a table must be strictly ascending (which also rules
// out an id given twice); checked at compile time where each table is defined.
template <std::size_t N>
constexpr bool IsStrictlyAscending(const StringEntry (&table)[N]) {
  return std::adjacent_find(std::begin(table), std::end(table), [](const StringEntry& a, const StringEntry& b) {
           return a.nId >= b.nId;
         }) == std::end(table);
}

}  // namespace orb::strings
