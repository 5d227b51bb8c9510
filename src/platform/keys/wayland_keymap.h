#pragma once
// The keymap our Wayland virtual keyboard uploads: one key per virtual key that has a
// keysym, carrying that keysym alone (letters also their capital on the Shift level), and
// nothing else. The compositor turns our keycodes back into symbols with this map, not
// with the user's layout, so a key can only ever mean what the profile says.

#include <array>
#include <cstdint>
#include <string>

namespace orb::platform {

struct VirtualKeyboardKeymap {
  std::string text;                      // XKB keymap text, as xkbcommon writes it out
  std::array<std::uint16_t, 256> keycode{};  // XKB keycode per virtual key; 0: not in the map
};

// Null text, with the reason, when xkbcommon cannot build it (no XKB data installed).
// Keycodes stay within 8..255 so that XWayland's clients, which know no larger ones,
// receive every key.
bool BuildVirtualKeyboardKeymap(VirtualKeyboardKeymap* pKeymap, std::string* pReason);

}  // namespace orb::platform
