#include "platform/keys/session_keymap.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <string>

namespace orb::platform {

struct SessionKeymap::Xkb {
  xkb_context* pContext = nullptr;
  xkb_keymap* pKeymap = nullptr;
  xkb_state* pState = nullptr;

  Xkb() = default;
  Xkb(const Xkb&) = delete;
  Xkb& operator=(const Xkb&) = delete;
  ~Xkb() {
    if (pState != nullptr) xkb_state_unref(pState);
    if (pKeymap != nullptr) xkb_keymap_unref(pKeymap);
    if (pContext != nullptr) xkb_context_unref(pContext);
  }
};

namespace {

// xkbcommon's keycodes are evdev codes plus 8.
constexpr std::uint32_t kEvdevOffset = 8;


}  // namespace

SessionKeymap::SessionKeymap(std::unique_ptr<Xkb> pXkb) : m_pXkb(std::move(pXkb)) {}
SessionKeymap::~SessionKeymap() = default;

std::unique_ptr<SessionKeymap> SessionKeymap::FromText(const char* pText, std::size_t nSize, std::string* pReason) {
  auto pXkb = std::make_unique<Xkb>();
  pXkb->pContext = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (pXkb->pContext == nullptr) {
    *pReason = "xkbcommon has no context";
    return nullptr;
  }
  // The compositor's text ends in a NUL that its size counts; xkbcommon wants it without.
  while (nSize > 0 && pText[nSize - 1] == '\0') --nSize;
  pXkb->pKeymap = xkb_keymap_new_from_buffer(pXkb->pContext, pText, nSize, XKB_KEYMAP_FORMAT_TEXT_V1,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (pXkb->pKeymap == nullptr || (pXkb->pState = xkb_state_new(pXkb->pKeymap)) == nullptr) {
    *pReason = "the compositor's keymap could not be read";
    return nullptr;
  }
  return std::unique_ptr<SessionKeymap>(new SessionKeymap(std::move(pXkb)));
}

std::unique_ptr<SessionKeymap> SessionKeymap::FromNames(const char* pLayout, const char* pVariant, std::string* pReason) {
  auto pXkb = std::make_unique<Xkb>();
  pXkb->pContext = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (pXkb->pContext == nullptr) {
    *pReason = "xkbcommon has no context";
    return nullptr;
  }
  const xkb_rule_names names{"evdev", "pc105", pLayout, pVariant, nullptr};
  pXkb->pKeymap = xkb_keymap_new_from_names(pXkb->pContext, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (pXkb->pKeymap == nullptr || (pXkb->pState = xkb_state_new(pXkb->pKeymap)) == nullptr) {
    *pReason = std::string("no keymap for the layout \"") + (pLayout != nullptr ? pLayout : "") + "\"";
    return nullptr;
  }
  return std::unique_ptr<SessionKeymap>(new SessionKeymap(std::move(pXkb)));
}

void SessionKeymap::SetLayout(std::uint32_t nLayout) {
  const xkb_layout_index_t nCount = xkb_keymap_num_layouts(m_pXkb->pKeymap);
  m_nLayout = nCount > 0 && nLayout < nCount ? nLayout : 0;
  xkb_state* pState = m_pXkb->pState;
  xkb_state_update_mask(pState, xkb_state_serialize_mods(pState, XKB_STATE_MODS_DEPRESSED),
                        xkb_state_serialize_mods(pState, XKB_STATE_MODS_LATCHED),
                        xkb_state_serialize_mods(pState, XKB_STATE_MODS_LOCKED), 0, 0, m_nLayout);
}

std::uint16_t SessionKeymap::EvdevCodeFor(std::uint32_t nKeysym) const {
  if (nKeysym == 0) {
    return 0;
  }
  xkb_keymap* pKeymap = m_pXkb->pKeymap;
  std::uint32_t nBestCode = 0;
  xkb_level_index_t nBestLevel = 0;
  const xkb_keycode_t nMin = xkb_keymap_min_keycode(pKeymap);
  const xkb_keycode_t nMax = xkb_keymap_max_keycode(pKeymap);
  for (xkb_keycode_t nCode = nMin; nCode <= nMax && nCode >= kEvdevOffset; ++nCode) {
    // A key with fewer layouts than the keymap repeats its first (XKB's default).
    const xkb_layout_index_t nLayouts = xkb_keymap_num_layouts_for_key(pKeymap, nCode);
    if (nLayouts == 0) continue;
    const xkb_layout_index_t nLayout = m_nLayout < nLayouts ? m_nLayout : 0;
    const xkb_level_index_t nLevels = xkb_keymap_num_levels_for_key(pKeymap, nCode, nLayout);
    for (xkb_level_index_t nLevel = 0; nLevel < nLevels; ++nLevel) {
      if (nBestCode != 0 && nLevel >= nBestLevel) break;
      const xkb_keysym_t* pSyms = nullptr;
      const int nSyms = xkb_keymap_key_get_syms_by_level(pKeymap, nCode, nLayout, nLevel, &pSyms);
      if (nSyms == 1 && pSyms[0] == nKeysym) {
        nBestCode = nCode;
        nBestLevel = nLevel;
        break;
      }
    }
    if (nBestCode != 0 && nBestLevel == 0) break;
  }
  const std::uint32_t nEvdev = nBestCode != 0 ? nBestCode - kEvdevOffset : 0;
  return nEvdev <= 0xFFFF ? static_cast<std::uint16_t>(nEvdev) : 0;
}

void SessionKeymap::UpdateKey(std::uint16_t nEvdevCode, bool blDown) {
  xkb_state_update_key(m_pXkb->pState, nEvdevCode + kEvdevOffset, blDown ? XKB_KEY_DOWN : XKB_KEY_UP);
}

std::uint32_t SessionKeymap::KeysymNow(std::uint16_t nEvdevCode) const {
  return xkb_state_key_get_one_sym(m_pXkb->pState, nEvdevCode + kEvdevOffset);
}

bool IsCompositorActionKeysym(std::uint32_t nKeysym) {
  return (nKeysym >= XKB_KEY_XF86Switch_VT_1 && nKeysym <= XKB_KEY_XF86Switch_VT_12) ||
         (nKeysym >= XKB_KEY_XF86Ungrab && nKeysym <= XKB_KEY_XF86LogGrabInfo) || nKeysym == XKB_KEY_Terminate_Server;
}

}  // namespace orb::platform
