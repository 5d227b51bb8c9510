// The keymap the Wayland virtual keyboard uploads, read back by xkbcommon as a compositor
// reads it: every virtual key comes out as its own keysym and nothing else is in the map.
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/keys/virtual_keys.h"
#include "platform/keys/wayland_keymap.h"

namespace orb::platform {
namespace {

class WaylandKeymapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(BuildVirtualKeyboardKeymap(&m_keymap, &reason)) << reason;
    m_pContext = xkb_context_new(
        static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    ASSERT_NE(m_pContext, nullptr);
    // No include paths: the text must stand on its own, as the compositor gets it.
    m_pMap = xkb_keymap_new_from_string(m_pContext, m_keymap.text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                        XKB_KEYMAP_COMPILE_NO_FLAGS);
    ASSERT_NE(m_pMap, nullptr) << m_keymap.text;
    m_pState = xkb_state_new(m_pMap);
  }
  void TearDown() override {
    if (m_pState != nullptr) xkb_state_unref(m_pState);
    if (m_pMap != nullptr) xkb_keymap_unref(m_pMap);
    if (m_pContext != nullptr) xkb_context_unref(m_pContext);
  }

  std::uint16_t Key(const char* pName) const {
    const VirtualKeyInfo* pInfo = FindVirtualKeyByName(pName);
    return pInfo != nullptr ? m_keymap.keycode[pInfo->nVk] : 0;
  }
  xkb_keysym_t SymNow(std::uint16_t nKeycode) const { return xkb_state_key_get_one_sym(m_pState, nKeycode); }
  void Down(const char* pName) { xkb_state_update_key(m_pState, Key(pName), XKB_KEY_DOWN); }
  void Up(const char* pName) { xkb_state_update_key(m_pState, Key(pName), XKB_KEY_UP); }

  VirtualKeyboardKeymap m_keymap;
  xkb_context* m_pContext = nullptr;
  xkb_keymap* m_pMap = nullptr;
  xkb_state* m_pState = nullptr;
};

TEST_F(WaylandKeymapTest, EveryVirtualKeyIsItsOwnKeysymOnAKeycodeXWaylandKnowsAndNothingElseIsInTheMap) {
  std::map<std::uint16_t, std::uint32_t> symbolOf;
  for (const VirtualKeyInfo& info : AllVirtualKeys()) {
    const std::uint16_t nKeycode = m_keymap.keycode[info.nVk];
    if (info.nKeysym == 0) {
      EXPECT_EQ(nKeycode, 0) << info.pName;
      continue;
    }
    ASSERT_GE(nKeycode, 8) << info.pName;
    ASSERT_LE(nKeycode, 255) << info.pName;
    const auto [it, blNew] = symbolOf.emplace(nKeycode, info.nKeysym);
    EXPECT_EQ(it->second, info.nKeysym) << info.pName << " shares keycode " << nKeycode << " with another symbol";
    EXPECT_EQ(SymNow(nKeycode), info.nKeysym) << info.pName;
  }
  // Keys with any symbol at all: exactly ours.
  std::set<std::uint16_t> withSymbols;
  for (xkb_keycode_t nKeycode = xkb_keymap_min_keycode(m_pMap); nKeycode <= xkb_keymap_max_keycode(m_pMap); ++nKeycode) {
    const xkb_keysym_t* pSyms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(m_pMap, nKeycode, 0, 0, &pSyms) > 0) {
      withSymbols.insert(static_cast<std::uint16_t>(nKeycode));
    }
  }
  std::set<std::uint16_t> ours;
  for (const auto& [nKeycode, nSym] : symbolOf) ours.insert(nKeycode);
  EXPECT_EQ(withSymbols, ours);
}

TEST_F(WaylandKeymapTest, KeysSitOnTheirUsualPlacesWhereTheyHaveOne) {
  EXPECT_EQ(Key("A"), 30 + 8);      // KEY_A
  EXPECT_EQ(Key("F2"), 60 + 8);     // KEY_F2
  EXPECT_EQ(Key("Shift"), Key("LShift"));
  EXPECT_NE(Key("RShift"), Key("LShift"));
  EXPECT_NE(Key("Break"), 0);       // KEY_BREAK is 411: a spare place below 256
  EXPECT_NE(Key("Break"), Key("Clear"));
}

TEST_F(WaylandKeymapTest, ModifiersActAsOnAKeyboardAndTheServersActionKeysAreNotInIt) {
  Down("Shift");
  EXPECT_EQ(SymNow(Key("A")), XKB_KEY_A);
  EXPECT_TRUE(xkb_state_mod_name_is_active(m_pState, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_DEPRESSED) > 0);
  Up("Shift");
  EXPECT_EQ(SymNow(Key("A")), XKB_KEY_a);
  EXPECT_EQ(xkb_state_serialize_mods(m_pState, XKB_STATE_MODS_EFFECTIVE), 0u);

  // Ctrl+Alt+F2 is the editor's shortcut here, never a switch of virtual terminal.
  Down("Ctrl");
  Down("Alt");
  EXPECT_GT(xkb_state_mod_name_is_active(m_pState, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_DEPRESSED), 0);
  EXPECT_GT(xkb_state_mod_name_is_active(m_pState, XKB_MOD_NAME_ALT, XKB_STATE_MODS_DEPRESSED), 0);
  EXPECT_EQ(SymNow(Key("F2")), XKB_KEY_F2);
  EXPECT_EQ(SymNow(Key("Backspace")), XKB_KEY_BackSpace);
  Up("Alt");
  Up("Ctrl");
  Down("LWin");
  EXPECT_GT(xkb_state_mod_name_is_active(m_pState, XKB_MOD_NAME_LOGO, XKB_STATE_MODS_DEPRESSED), 0);
  Up("LWin");
  EXPECT_EQ(xkb_state_serialize_mods(m_pState, XKB_STATE_MODS_EFFECTIVE), 0u);
}

}  // namespace
}  // namespace orb::platform
