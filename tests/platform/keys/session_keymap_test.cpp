// Keys placed by the session's layout: the key that gives a symbol under the active layout,
// not where a US keyboard has it; a second layout once the user switches to it; what the
// modifiers held would make of a key.
#include "platform/keys/session_keymap.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace orb::platform {
namespace {

std::unique_ptr<SessionKeymap> Layout(const char* pLayout) {
  std::string reason;
  auto pMap = SessionKeymap::FromNames(pLayout, nullptr, &reason);
  EXPECT_NE(pMap, nullptr) << reason;
  return pMap;
}

TEST(SessionKeymap, EachSymbolComesFromTheKeyThatGivesItInTheActiveLayout) {
  const auto pUs = Layout("us");
  const auto pDe = Layout("de");
  const auto pFr = Layout("fr");
  ASSERT_TRUE(pUs && pDe && pFr);
  EXPECT_EQ(pUs->EvdevCodeFor(XKB_KEY_y), KEY_Y);
  EXPECT_EQ(pDe->EvdevCodeFor(XKB_KEY_y), KEY_Z);  // QWERTZ
  EXPECT_EQ(pDe->EvdevCodeFor(XKB_KEY_z), KEY_Y);
  EXPECT_EQ(pFr->EvdevCodeFor(XKB_KEY_a), KEY_Q);  // AZERTY
  // A symbol on a shifted level only still has its key; the unshifted one wins when both exist.
  EXPECT_EQ(pFr->EvdevCodeFor(XKB_KEY_1), KEY_1);
  EXPECT_EQ(pUs->EvdevCodeFor(XKB_KEY_exclam), KEY_1);
  // Keys every layout has stay where they are.
  EXPECT_EQ(pDe->EvdevCodeFor(XKB_KEY_F5), KEY_F5);
  EXPECT_EQ(pDe->EvdevCodeFor(XKB_KEY_Shift_L), KEY_LEFTSHIFT);
  EXPECT_EQ(pDe->EvdevCodeFor(XKB_KEY_Return), KEY_ENTER);
  // What no key of the layout gives has no code, rather than a wrong key.
  EXPECT_EQ(pUs->EvdevCodeFor(XKB_KEY_adiaeresis), 0);
  EXPECT_EQ(pDe->EvdevCodeFor(XKB_KEY_adiaeresis), KEY_APOSTROPHE);
  EXPECT_EQ(pUs->EvdevCodeFor(0), 0);
}

TEST(SessionKeymap, TheActiveLayoutOfSeveralDecides) {
  const auto pBoth = Layout("us,de");
  ASSERT_TRUE(pBoth);
  EXPECT_EQ(pBoth->EvdevCodeFor(XKB_KEY_y), KEY_Y);
  pBoth->SetLayout(1);
  EXPECT_EQ(pBoth->Layout(), 1u);
  EXPECT_EQ(pBoth->EvdevCodeFor(XKB_KEY_y), KEY_Z);
  // A layout the keymap does not have counts as the first.
  pBoth->SetLayout(7);
  EXPECT_EQ(pBoth->EvdevCodeFor(XKB_KEY_y), KEY_Y);
}

TEST(SessionKeymap, TheModifiersOurKeysHoldDecideWhatAKeyMakes) {
  const auto pUs = Layout("us");
  ASSERT_TRUE(pUs);
  EXPECT_EQ(pUs->KeysymNow(KEY_F1), static_cast<std::uint32_t>(XKB_KEY_F1));
  pUs->UpdateKey(KEY_LEFTCTRL, true);
  pUs->UpdateKey(KEY_LEFTALT, true);
  EXPECT_TRUE(IsCompositorActionKeysym(pUs->KeysymNow(KEY_F1)));
  pUs->UpdateKey(KEY_LEFTALT, false);
  pUs->UpdateKey(KEY_LEFTCTRL, false);
  EXPECT_FALSE(IsCompositorActionKeysym(pUs->KeysymNow(KEY_F1)));
  pUs->UpdateKey(KEY_LEFTSHIFT, true);
  EXPECT_EQ(pUs->KeysymNow(KEY_A), static_cast<std::uint32_t>(XKB_KEY_A));
}

TEST(SessionKeymap, TextThatIsNoKeymapIsRefused) {
  std::string reason;
  const char kText[] = "xkb_keymap { nonsense";
  EXPECT_EQ(SessionKeymap::FromText(kText, sizeof kText, &reason), nullptr);
  EXPECT_FALSE(reason.empty());
}

}  // namespace
}  // namespace orb::platform
