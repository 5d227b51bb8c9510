#include "platform/keys/wayland_keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <bitset>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/keys/virtual_keys.h"

namespace orb::platform {
namespace {

constexpr int kMinKeycode = 8;
constexpr int kMaxKeycode = 255;

struct ContextFree {
  void operator()(xkb_context* p) const { xkb_context_unref(p); }
};
struct KeymapFree {
  void operator()(xkb_keymap* p) const { xkb_keymap_unref(p); }
};

// The real modifier a modifier key sets, as the usual layouts place them; null for others.
const char* ModifierOf(std::uint32_t nKeysym) {
  switch (nKeysym) {
    case XKB_KEY_Shift_L:
    case XKB_KEY_Shift_R:
      return "Shift";
    case XKB_KEY_Control_L:
    case XKB_KEY_Control_R:
      return "Control";
    case XKB_KEY_Alt_L:
    case XKB_KEY_Alt_R:
      return "Mod1";
    case XKB_KEY_Num_Lock:
      return "Mod2";
    case XKB_KEY_Super_L:
    case XKB_KEY_Super_R:
      return "Mod4";
    case XKB_KEY_Caps_Lock:
      return "Lock";
    default:
      return nullptr;
  }
}

std::string KeysymName(std::uint32_t nKeysym) {
  char name[64];
  xkb_keysym_get_name(nKeysym, name, sizeof name);
  return name;
}

}  // namespace

bool BuildVirtualKeyboardKeymap(VirtualKeyboardKeymap* pKeymap, std::string* pReason) {
  // Keycodes: the key's own place (evdev code + 8) where that is free and small enough,
  // so that applications that look at places see the usual ones; else a spare code.
  std::array<std::uint32_t, kMaxKeycode + 1> keysymOn{};
  std::bitset<kMaxKeycode + 1> used;
  pKeymap->keycode.fill(0);
  for (const VirtualKeyInfo& info : AllVirtualKeys()) {
    if (info.nKeysym == 0) {
      continue;
    }
    int nCode = 0;
    // Two virtual keys of one symbol (Shift and LShift) share their key.
    for (int c = kMinKeycode; c <= kMaxKeycode && nCode == 0; ++c) {
      if (used.test(c) && keysymOn[c] == info.nKeysym) nCode = c;
    }
    if (nCode == 0 && info.nEvdevCode != 0 && info.nEvdevCode + 8 <= kMaxKeycode && !used.test(info.nEvdevCode + 8)) {
      nCode = info.nEvdevCode + 8;
    }
    for (int c = kMaxKeycode; c >= kMinKeycode && nCode == 0; --c) {
      // Spare codes from the top, where the evdev places of ordinary keys never reach.
      bool blTaken = used.test(c);
      for (const VirtualKeyInfo& other : AllVirtualKeys()) {
        blTaken = blTaken || (other.nKeysym != 0 && other.nEvdevCode + 8 == c);
      }
      if (!blTaken) nCode = c;
    }
    if (nCode == 0) {
      *pReason = "no keycode left for virtual key " + std::string(info.pName);
      return false;
    }
    used.set(nCode);
    keysymOn[nCode] = info.nKeysym;
    pKeymap->keycode[info.nVk] = static_cast<std::uint16_t>(nCode);
  }

  std::string keycodes = "xkb_keycodes \"orb\" {\n  minimum = 8;\n  maximum = 255;\n";
  std::string symbols = "xkb_symbols \"orb\" {\n";
  for (int c = kMinKeycode; c <= kMaxKeycode; ++c) {
    if (!used.test(c)) continue;
    const std::string key = "<K" + std::to_string(c) + ">";
    keycodes += "  " + key + " = " + std::to_string(c) + ";\n";
    const std::uint32_t nLower = keysymOn[c];
    const std::uint32_t nUpper = xkb_keysym_to_upper(nLower);
    if (nUpper != nLower) {
      symbols += "  key " + key + " { type = \"ALPHABETIC\", [ " + KeysymName(nLower) + ", " + KeysymName(nUpper) + " ] };\n";
    } else {
      symbols += "  key " + key + " { type = \"ONE_LEVEL\", [ " + KeysymName(nLower) + " ] };\n";
    }
    if (const char* pModifier = ModifierOf(nLower)) {
      symbols += "  modifier_map " + std::string(pModifier) + " { " + key + " };\n";
    }
  }
  keycodes += "};\n";
  symbols += "};\n";
  // Types and the modifier keys' actions are the standard ones of the XKB data.
  const std::string source = "xkb_keymap {\n" + keycodes + "xkb_types \"orb\" { include \"complete\" };\n" +
                             "xkb_compat \"orb\" { include \"complete\" };\n" + symbols + "};\n";

  const std::unique_ptr<xkb_context, ContextFree> pContext(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
  if (pContext == nullptr) {
    *pReason = "xkbcommon could not make a context";
    return false;
  }
  const std::unique_ptr<xkb_keymap, KeymapFree> pMap(
      xkb_keymap_new_from_string(pContext.get(), source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (pMap == nullptr) {
    *pReason = "xkbcommon could not compile our keymap (is the XKB data, xkb-data, installed?)";
    return false;
  }
  // Written out whole: the compositor needs no XKB data of its own to read it.
  char* pText = xkb_keymap_get_as_string(pMap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
  if (pText == nullptr) {
    *pReason = "xkbcommon could not write our keymap out";
    return false;
  }
  pKeymap->text = pText;
  std::free(pText);
  return true;
}

}  // namespace orb::platform
