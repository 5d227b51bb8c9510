#include "profiles/default_tables.h"

#include <cstddef>

namespace orb {
namespace detail {
// Generated from the text sources (resources/profiles/embed_table.cmake).
extern const std::uint8_t kDefaultTable_en[];
extern const std::size_t kDefaultTable_enSize;
extern const std::uint8_t kDefaultTable_ja[];
extern const std::size_t kDefaultTable_jaSize;
}  // namespace detail

std::span<const std::uint8_t> DefaultTable(UiLanguage language) {
  if (language == UiLanguage::Japanese) {
    return {detail::kDefaultTable_ja, detail::kDefaultTable_jaSize};
  }
  return {detail::kDefaultTable_en, detail::kDefaultTable_enSize};
}

}  // namespace orb
