#include "platform/keys/uinput_layout.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string_view>

#include "platform/keys/virtual_keys.h"

namespace orb::platform {
namespace {

std::string Env(const char* pName) {
  const char* pValue = std::getenv(pName);
  return pValue != nullptr ? pValue : "";
}

// KEY="value" or KEY=value, as the file's shell syntax allows for these simple lines.
std::string Unquoted(std::string_view value) {
  while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.remove_suffix(1);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

// The first keycode whose unshifted symbol of the first group is nKeysym; 0 when none.
xkb_keycode_t UnshiftedKeycodeOf(xkb_keymap* pKeymap, xkb_keysym_t nKeysym) {
  const xkb_keycode_t nMin = xkb_keymap_min_keycode(pKeymap);
  const xkb_keycode_t nMax = xkb_keymap_max_keycode(pKeymap);
  for (xkb_keycode_t nKeycode = nMin; nKeycode <= nMax && nKeycode != 0; ++nKeycode) {
    const xkb_keysym_t* pSyms = nullptr;
    const int nSyms = xkb_keymap_key_get_syms_by_level(pKeymap, nKeycode, 0, 0, &pSyms);
    for (int i = 0; i < nSyms; ++i) {
      if (pSyms[i] == nKeysym) return nKeycode;
    }
  }
  return 0;
}

bool GivesUnshifted(xkb_keymap* pKeymap, xkb_keycode_t nKeycode, xkb_keysym_t nKeysym) {
  const xkb_keysym_t* pSyms = nullptr;
  const int nSyms = xkb_keymap_key_get_syms_by_level(pKeymap, nKeycode, 0, 0, &pSyms);
  for (int i = 0; i < nSyms; ++i) {
    if (pSyms[i] == nKeysym) return true;
  }
  return false;
}

void FillLayout(xkb_keymap* pKeymap, const std::string& description, UinputLayout* pLayout) {
  *pLayout = UinputLayout{};
  pLayout->description = description;
  for (const VirtualKeyInfo& info : AllVirtualKeys()) {
    // The key's own place first when it gives the symbol there too (keeps the left and
    // right modifiers and the keypad apart).
    if (info.nEvdevCode != 0 && info.nKeysym != 0 && GivesUnshifted(pKeymap, info.nEvdevCode + 8u, info.nKeysym)) {
      pLayout->code[info.nVk] = info.nEvdevCode;
      continue;
    }
    const xkb_keycode_t nKeycode = info.nKeysym != 0 ? UnshiftedKeycodeOf(pKeymap, info.nKeysym) : 0;
    if (nKeycode > 8) {
      pLayout->code[info.nVk] = static_cast<std::uint16_t>(nKeycode - 8);
    } else if (info.nEvdevCode != 0) {
      pLayout->code[info.nVk] = info.nEvdevCode;
      pLayout->blUsPosition[info.nVk] = info.nKeysym != 0;
    }
  }
}

}  // namespace

LayoutNames SessionLayoutNames(const std::string& keyboardFile) {
  LayoutNames names{Env("XKB_DEFAULT_RULES"), Env("XKB_DEFAULT_MODEL"), Env("XKB_DEFAULT_LAYOUT"),
                    Env("XKB_DEFAULT_VARIANT"), Env("XKB_DEFAULT_OPTIONS")};
  if (!names.layout.empty()) return names;
  std::ifstream file(keyboardFile);
  for (std::string line; std::getline(file, line);) {
    const std::string_view text(line);
    const std::size_t nEquals = text.find('=');
    if (nEquals == std::string_view::npos) continue;
    const std::string_view key = text.substr(0, nEquals);
    const std::string value = Unquoted(text.substr(nEquals + 1));
    if (key == "XKBMODEL" && names.model.empty()) names.model = value;
    if (key == "XKBLAYOUT") names.layout = value;
    if (key == "XKBVARIANT") names.variant = value;
    if (key == "XKBOPTIONS" && names.options.empty()) names.options = value;
  }
  return names;
}

bool BuildUinputLayout(const LayoutNames& names, UinputLayout* pLayout, std::string* pReason) {
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
      xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
  if (!context) {
    *pReason = "xkbcommon could not start";
    return false;
  }
  const auto orNull = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
  // Only the first layout of a list counts: a list's others are groups a user switches to.
  const std::string layout = names.layout.substr(0, names.layout.find(','));
  const std::string variant = names.variant.substr(0, names.variant.find(','));
  const xkb_rule_names rmlvo{orNull(names.rules), orNull(names.model), orNull(layout), orNull(variant),
                             orNull(names.options)};
  std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
      xkb_keymap_new_from_names(context.get(), &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
  if (!keymap) {
    *pReason = "xkbcommon cannot compile the layout \"" + (layout.empty() ? std::string("us") : layout) + "\"";
    return false;
  }
  std::string description = layout.empty() ? "us" : layout;
  if (!variant.empty()) description += " (" + variant + ")";
  FillLayout(keymap.get(), description, pLayout);
  return true;
}

bool BuildUinputLayoutFromKeymap(const std::string& keymapText, UinputLayout* pLayout, std::string* pReason) {
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
      xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
  if (!context) {
    *pReason = "xkbcommon could not start";
    return false;
  }
  std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
      xkb_keymap_new_from_string(context.get(), keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                 XKB_KEYMAP_COMPILE_NO_FLAGS),
      &xkb_keymap_unref);
  if (!keymap) {
    *pReason = "the session's keymap is not one xkbcommon can read";
    return false;
  }
  const char* pName = xkb_keymap_num_layouts(keymap.get()) > 0 ? xkb_keymap_layout_get_name(keymap.get(), 0) : nullptr;
  FillLayout(keymap.get(), std::string("\"") + (pName != nullptr ? pName : "unnamed") + "\" of the session", pLayout);
  return true;
}

}  // namespace orb::platform
