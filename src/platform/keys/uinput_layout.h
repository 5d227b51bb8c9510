#pragma once
// Which evdev code gives each virtual key's keysym under the session's keyboard layout. A
// uinput keyboard sends positions: the compositor or X server turns them into symbols by
// the user's layout, so "Z" must go out where that layout has "z" (on a German layout, the
// US "Y" key), as the XTest sink finds its keycode in the server's map.

#include <array>
#include <cstdint>
#include <string>

namespace orb::platform {

struct UinputLayout {
  std::array<std::uint16_t, 256> code{};  // evdev code per virtual key; 0: the key is not sent
  // Virtual keys whose keysym this layout has on no unshifted key: they go by their US
  // position instead (what a user of that layout would press without Shift there).
  std::array<bool, 256> blUsPosition{};
  std::string description;  // "de (nodeadkeys)", for the log
};

// The layout's names as the system keeps them: XKB_DEFAULT_RULES/MODEL/LAYOUT/VARIANT/OPTIONS
// first, then the console and X default (`keyboardFile`, as /etc/default/keyboard: XKBMODEL,
// XKBLAYOUT, XKBVARIANT, XKBOPTIONS), else xkbcommon's default (us).
struct LayoutNames {
  std::string rules, model, layout, variant, options;
};
LayoutNames SessionLayoutNames(const std::string& keyboardFile);

// The codes under the first group of the keymap those names compile to. False, with the
// reason, when xkbcommon cannot compile it (no XKB data, an unknown layout).
bool BuildUinputLayout(const LayoutNames& names, UinputLayout* pLayout, std::string* pReason);

// The same from a whole keymap's text, as a Wayland compositor gives its clients the
// layout it types with. False, with the reason, when the text is no keymap.
bool BuildUinputLayoutFromKeymap(const std::string& keymapText, UinputLayout* pLayout, std::string* pReason);

}  // namespace orb::platform
