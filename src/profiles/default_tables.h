#pragma once
// The built-in default profile tables, one per user-interface language: used when the
// data file is missing and by "Set to default". They are built from
// resources/profiles/default_*.toml at build time (library orb_defaults).

#include <cstdint>
#include <span>

#include "base/string_table.h"

namespace orb {

// English: 15 records (75,120 bytes); Japanese: 16 records (80,128 bytes). The bytes are
// constant and live as long as the program.
std::span<const std::uint8_t> DefaultTable(UiLanguage language);

}  // namespace orb
