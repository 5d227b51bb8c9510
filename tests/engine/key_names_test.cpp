#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/key_names.h"
#include "test_profile.h"

namespace orb {
namespace {

using test::Key;

std::string En(KeyStroke k) { return FormatKeyStroke(k, UiLanguage::English); }
std::string Ja(KeyStroke k) { return FormatKeyStroke(k, UiLanguage::Japanese); }

TEST(FormatKeyStrokeTest, ModifiersJoinInFixedOrderAndModifierKeysShowByTheirNames) {
  EXPECT_EQ(En(Key('3', KS_CTRL)), "Ctrl+3");
  EXPECT_EQ(En(Key(18, KS_ALT)), "Alt");
  EXPECT_EQ(En(Key(18, KS_ALT | KS_CTRL)), "Alt+Ctrl");
  EXPECT_EQ(En(Key('A', KS_CTRL | KS_SHIFT, 5)), "Ctrl+Shift+A( 0.5 sec.)");
  EXPECT_EQ(En(Key(107)), "+");
  EXPECT_EQ(En(Key(107, KS_CTRL)), "Ctrl++");
  EXPECT_EQ(En(Key(0, 0, 12)), "( 1.2 sec.)");
  EXPECT_EQ(En(0), "");
  EXPECT_EQ(En(Key(16, KS_CTRL)), "Ctrl+");  // the Shift key itself is not named
  EXPECT_EQ(En(Key(17, KS_CTRL | KS_SHIFT)), "Ctrl+Shift");
  EXPECT_EQ(En(Key(16, KS_SHIFT)), "Shift");
  EXPECT_EQ(En(Key(0x71, KS_ALT | KS_CTRL | KS_SHIFT)), "Alt+Ctrl+Shift+F2");
}

TEST(FormatKeyStrokeTest, KeysAreNamedByTableThenByRule) {
  EXPECT_EQ(En(Key(8)), "BackSpace");
  EXPECT_EQ(En(Key(13)), "Enter");
  EXPECT_EQ(En(Key(36, KS_SHIFT)), "Shift+Home");
  EXPECT_EQ(En(Key(37)), "Left cursor");
  EXPECT_EQ(Ja(Key(37)), "\u2190");
  EXPECT_EQ(Ja(Key(40, KS_CTRL)), "Ctrl+\u2193");
  EXPECT_EQ(En(Key(91)), "Windows key");
  EXPECT_EQ(En(Key(92)), "Windows key");
  EXPECT_EQ(Ja(Key(93)), "\u30b3\u30f3\u30c6\u30ad\u30b9\u30c8\u30ad\u30fc");
  EXPECT_EQ(En(Key(108)), "\\");
  EXPECT_EQ(En(Key(111)), "/");
  EXPECT_EQ(En(Key(103)), "7");  // keypad 7
  EXPECT_EQ(En(Key(55)), "7");
  EXPECT_EQ(En(Key('Z')), "Z");
  EXPECT_EQ(En(Key(112)), "F1");
  EXPECT_EQ(En(Key(124)), "F13");
  EXPECT_EQ(En(Key(135)), "F24");
  // Every other code: the US layout's character.
  EXPECT_EQ(En(Key(0xBC, KS_CTRL)), "Ctrl+,");
  EXPECT_EQ(En(Key(0xBE)), ".");
  EXPECT_EQ(En(Key(0xDC)), "\\");
  EXPECT_EQ(En(Key(106)), "*");
  // The name goes by the low byte, like the key that is sent.
  EXPECT_EQ(En(Key(0x141)), "A");
}

TEST(FormatKeyStrokeTest, KeysWithoutACharacterAreStillNamed) {
  EXPECT_EQ(En(Key(20)), "CapsLock");
  EXPECT_EQ(En(Key(0x90)), "NumLock");
  EXPECT_EQ(En(Key(0x03)), "Break");  // its character is a control code
  EXPECT_EQ(En(Key(0xFF)), "");       // no key has this code
}

TEST(FormatKeyStrokeTest, PausesShowWithOneDecimal) {
  EXPECT_EQ(En(Key('A', 0, 1)), "A( 0.1 sec.)");
  EXPECT_EQ(En(Key('A', 0, 511)), "A(51.1 sec.)");
  EXPECT_EQ(Ja(Key('A', 0, 100)), "A(10.0 sec.)");
}

class RecordingList final : public KeyListView {
 public:
  void Clear() override {
    m_rows.clear();
    ++m_nClears;
  }
  void InsertRow(int nRow, const std::string& text) override {
    m_rows.insert(m_rows.begin() + nRow, text);
  }
  std::vector<std::string> m_rows{"stale"};
  int m_nClears = 0;
};

KeyCommand Command(std::initializer_list<KeyStroke> keys) {
  test::TestProfile profile;
  profile.Both(601, keys);
  return profile->entries[0].deck;
}

TEST(FillKeyListTest, RowsUpToAndIncludingTheFirstEmptyText) {
  RecordingList list;
  const KeyCommand full = Command({Key('A'), Key('B', KS_CTRL), Key(13), Key(0x70), Key('C', 0, 5)});
  FillKeyList(list, &full, true, UiLanguage::English);
  EXPECT_EQ(list.m_rows, (std::vector<std::string>{"A", "Ctrl+B", "Enter", "F1", "C( 0.5 sec.)"}));

  const KeyCommand two = Command({Key('A'), Key('B')});
  FillKeyList(list, &two, true, UiLanguage::English);
  EXPECT_EQ(list.m_rows, (std::vector<std::string>{"A", "B", ""}));

  const KeyCommand empty = Command({});
  FillKeyList(list, &empty, true, UiLanguage::English);
  EXPECT_EQ(list.m_rows, (std::vector<std::string>{""}));

  // A stroke with only a pause has a text, so the list goes on after it.
  const KeyCommand pauseOnly = Command({Key(0, 0, 3), Key('X')});
  FillKeyList(list, &pauseOnly, true, UiLanguage::English);
  EXPECT_EQ(list.m_rows, (std::vector<std::string>{"( 0.3 sec.)", "X", ""}));
}

TEST(FillKeyListTest, DisabledOrNoCommandLeavesTheListEmpty) {
  RecordingList list;
  const KeyCommand full = Command({Key('A')});
  FillKeyList(list, &full, false, UiLanguage::English);
  EXPECT_TRUE(list.m_rows.empty());
  list.m_rows = {"stale"};
  FillKeyList(list, nullptr, true, UiLanguage::English);
  EXPECT_TRUE(list.m_rows.empty());
  EXPECT_EQ(list.m_nClears, 2);
}

}  // namespace
}  // namespace orb
