#pragma once
// The generated data behind virtual_keys.h; only virtual_keys.cpp reads it.

#include <cstddef>
#include <cstdint>

#include "platform/keys/virtual_keys.h"

namespace orb::platform::detail {

extern const VirtualKeyInfo kVirtualKeyRows[];
extern const std::size_t kVirtualKeyRowCount;
// Row number + 1 per code, 0 for a code without a row.
extern const std::uint8_t kVirtualKeyIndex[256];

}  // namespace orb::platform::detail
