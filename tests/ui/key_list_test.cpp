// The key list: which keys it offers the window, as which virtual keys, and that a key
// the window takes is not also acted on by the list or by the window's shortcuts.
#include "ui/key_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "engine/key_names.h"

namespace orb {
namespace {

using Offer = std::pair<std::uint16_t, bool>;

TEST(KeyListMappingTest, KeysymsAndPlacesGiveTheirVirtualKeys) {
  EXPECT_EQ(VirtualKeyFromKeysym('a'), 'A');
  EXPECT_EQ(VirtualKeyFromKeysym('Z'), 'Z');          // a shifted letter is the same key
  EXPECT_EQ(VirtualKeyFromKeysym(0xffb7), 0x67);      // KP_7: VK_NUMPAD7
  EXPECT_EQ(VirtualKeyFromKeysym(0xff95), 0x24);      // KP_Home (no NumLock): Home
  EXPECT_EQ(VirtualKeyFromKeysym(0xff9d), 0x0C);      // KP_Begin: Clear
  EXPECT_EQ(VirtualKeyFromKeysym(','), 0xBC);         // the OEM rows
  EXPECT_EQ(VirtualKeyFromKeysym('<'), 0xE2);
  EXPECT_EQ(VirtualKeyFromKeysym(0xffe1), 16);        // Shift_L: VK_SHIFT, not VK_LSHIFT
  EXPECT_EQ(VirtualKeyFromKeysym(0xffe4), 17);        // Control_R
  EXPECT_EQ(VirtualKeyFromKeysym(0xfe03), 18);        // AltGr
  EXPECT_EQ(VirtualKeyFromKeysym(0xffd5), 0x87);      // F24
  EXPECT_EQ(VirtualKeyFromKeysym('!'), 0);            // a shifted symbol names no key
  EXPECT_EQ(VirtualKeyFromKeysym(0xe9), 0);           // eacute
  EXPECT_EQ(VirtualKeyFromKeysym(0), 0);

  EXPECT_EQ(VirtualKeyFromEvdevCode(2), '1');         // KEY_1
  EXPECT_EQ(VirtualKeyFromEvdevCode(54), 16);         // KEY_RIGHTSHIFT
  EXPECT_EQ(VirtualKeyFromEvdevCode(0), 0);
  EXPECT_EQ(VirtualKeyFromEvdevCode(0x2ff), 0);
}

QKeyEvent NativePress(Qt::Key key, Qt::KeyboardModifiers modifiers, std::uint32_t nKeycode, std::uint32_t nKeysym) {
  const std::uint32_t nState = (modifiers & Qt::ShiftModifier) ? 1u : 0u;  // ShiftMask
  return QKeyEvent(QEvent::KeyPress, key, modifiers, nKeycode, nKeysym, nState);
}

// Native events as a display sends them, with no X display to read level 1 from (the
// offscreen platform): the key's place decides wherever a shifted symbol could mislead.
TEST(KeyListMappingTest, NativeEventsWithoutTheKeymapFallBackOnTheKeysPlace) {
  // Shift+1 types "!": still the key 1.
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_Exclam, Qt::ShiftModifier, 10, '!')), '1');
  // Shift+comma types "<" on a US keyboard, which is not the key "<" of European ones.
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_Less, Qt::ShiftModifier, 59, '<')), 0xBC);
  // French layout: the key at Q types "a" and is A; the key at 2 types "é" and is 2.
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_A, Qt::NoModifier, 24, 'a')), 'A');
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_A, Qt::ShiftModifier, 24, 'A')), 'A');
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_Eacute, Qt::NoModifier, 11, 0xe9)), '2');
  // The keypad as it types: with NumLock a digit, without it the key it then is.
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_7, Qt::KeypadModifier, 79, 0xffb7)), 0x67);
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_Home, Qt::KeypadModifier, 79, 0xff95)), 0x24);
  EXPECT_EQ(OfferedVirtualKey(NativePress(Qt::Key_Shift, Qt::ShiftModifier, 62, 0xffe2)), 16);
}

// A list in a dialog with a default button, a button with a mnemonic and an edit to move
// the focus to. Every key offered is recorded, and taken while m_blTake is set.
class KeyListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dialog.setLayout(new QVBoxLayout);
    m_pList = new CKeyList(UiLanguage::English, &m_dialog);
    m_pEdit = new QLineEdit(&m_dialog);
    m_pOk = new QPushButton(QStringLiteral("OK"), &m_dialog);
    m_pOk->setDefault(true);
    m_pClear = new QPushButton(QStringLiteral("&Clear"), &m_dialog);
    m_dialog.layout()->addWidget(m_pList);
    m_dialog.layout()->addWidget(m_pEdit);
    m_dialog.layout()->addWidget(m_pOk);
    m_dialog.layout()->addWidget(m_pClear);
    for (int nRow = 0; nRow < 3; ++nRow) {
      m_pList->InsertRow(nRow, "row");
    }
    m_pList->m_captureKey = [this](std::uint16_t nVk, bool blShift) {
      m_offers.emplace_back(nVk, blShift);
      return m_blTake;
    };
    m_dialog.show();
    m_dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dialog));
    m_pList->setFocus();
  }

  std::vector<Offer> Offers(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    m_offers.clear();
    QTest::keyClick(m_pList, key, modifiers);
    return m_offers;
  }

  QDialog m_dialog;
  CKeyList* m_pList = nullptr;
  QLineEdit* m_pEdit = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pClear = nullptr;
  std::vector<Offer> m_offers;
  bool m_blTake = true;
};

// QTest presses the modifier keys before the key, as a keyboard does; their own presses
// are offered too (16, 17, 18), for the window to turn down.
TEST_F(KeyListTest, OffersKeysAsVirtualKeysWithTheShiftState) {
  EXPECT_EQ(Offers(Qt::Key_A), (std::vector<Offer>{{'A', false}}));
  EXPECT_EQ(Offers(Qt::Key_Z, Qt::ControlModifier), (std::vector<Offer>{{17, false}, {'Z', false}}));
  EXPECT_EQ(Offers(Qt::Key_1, Qt::ShiftModifier), (std::vector<Offer>{{16, true}, {'1', true}}));
  EXPECT_EQ(Offers(Qt::Key_Delete, Qt::ShiftModifier), (std::vector<Offer>{{16, true}, {0x2E, true}}));
  EXPECT_EQ(Offers(Qt::Key_Space, Qt::ShiftModifier), (std::vector<Offer>{{16, true}, {0x20, true}}));
  EXPECT_EQ(Offers(Qt::Key_5, Qt::KeypadModifier), (std::vector<Offer>{{0x65, false}}));
  EXPECT_EQ(Offers(Qt::Key_Semicolon), (std::vector<Offer>{{0xBA, false}}));
  // A modifier key's own press carries its modifier (Qt's rule): Alt is still offered.
  EXPECT_EQ(Offers(Qt::Key_Alt), (std::vector<Offer>{{18, false}}));
  EXPECT_EQ(Offers(Qt::Key_Shift), (std::vector<Offer>{{16, true}}));
  // A key without a virtual key is not offered.
  EXPECT_TRUE(Offers(Qt::Key_Eacute).empty());
}

TEST_F(KeyListTest, DialogKeysAndAltCombinationsKeepTheirMeaning) {
  const std::vector<Offer> kShiftOnly{{16, true}};
  const std::vector<Offer> kAltOnly{{18, false}};
  QSignalSpy clicked(m_pOk, &QPushButton::clicked);
  QSignalSpy rejected(&m_dialog, &QDialog::rejected);
  EXPECT_TRUE(Offers(Qt::Key_Return).empty());
  EXPECT_TRUE(Offers(Qt::Key_Enter, Qt::KeypadModifier).empty());
  EXPECT_EQ(clicked.count(), 2);  // Enter is the default button

  EXPECT_TRUE(Offers(Qt::Key_Tab).empty());
  EXPECT_TRUE(m_pEdit->hasFocus());  // Tab is the next control
  m_pList->setFocus();
  EXPECT_EQ(Offers(Qt::Key_Backtab, Qt::ShiftModifier), kShiftOnly);
  EXPECT_FALSE(m_pList->hasFocus());
  m_pList->setFocus();

  QSignalSpy cleared(m_pClear, &QPushButton::clicked);
  EXPECT_EQ(Offers(Qt::Key_C, Qt::AltModifier), kAltOnly);
  // The mnemonic of "&Clear" (a button clicks itself a moment later).
  EXPECT_TRUE(QTest::qWaitFor([&] { return cleared.count() == 1; }));
  m_pList->setFocus();
  EXPECT_EQ(Offers(Qt::Key_F1, Qt::AltModifier), kAltOnly);

  EXPECT_TRUE(Offers(Qt::Key_Escape).empty());
  EXPECT_EQ(rejected.count(), 1);  // Esc is Cancel
}

TEST_F(KeyListTest, AKeyTheWindowTakesIsNotActedOnAndOneItRefusesIs) {
  m_pList->setCurrentRow(0);
  EXPECT_EQ(Offers(Qt::Key_Down), (std::vector<Offer>{{0x28, false}}));
  EXPECT_EQ(m_pList->currentRow(), 0);

  m_blTake = false;
  EXPECT_EQ(Offers(Qt::Key_Down), (std::vector<Offer>{{0x28, false}}));
  EXPECT_EQ(m_pList->currentRow(), 1);
  EXPECT_EQ(m_pList->selectedItems().size(), 1);

  // Without a window to ask, the list is an ordinary list.
  m_pList->m_captureKey = nullptr;
  QTest::keyClick(m_pList, Qt::Key_Down);
  EXPECT_EQ(m_pList->currentRow(), 2);
}

TEST_F(KeyListTest, ShortcutsDoNotTakeTheKeysTheListOffers) {
  int nHelp = 0;
  int nMenu = 0;
  int nDelete = 0;
  QShortcut help(QKeySequence(Qt::Key_F1), &m_dialog, [&] { ++nHelp; });
  QShortcut menu(QKeySequence(Qt::Key_F10), &m_dialog, [&] { ++nMenu; });
  QShortcut remove(QKeySequence(Qt::Key_Delete), &m_dialog, [&] { ++nDelete; });

  EXPECT_EQ(Offers(Qt::Key_F1), (std::vector<Offer>{{0x70, false}}));
  EXPECT_EQ(Offers(Qt::Key_F10), (std::vector<Offer>{{0x79, false}}));
  EXPECT_EQ(Offers(Qt::Key_Delete), (std::vector<Offer>{{0x2E, false}}));
  m_blTake = false;  // not even when the window turns the key down
  EXPECT_EQ(Offers(Qt::Key_F1), (std::vector<Offer>{{0x70, false}}));
  EXPECT_EQ(nHelp + nMenu + nDelete, 0);

  // Elsewhere in the window the keys are the window's.
  m_pEdit->setFocus();
  QTest::keyClick(m_pEdit, Qt::Key_F1);
  QTest::keyClick(m_pEdit, Qt::Key_F10);
  EXPECT_EQ(nHelp, 1);
  EXPECT_EQ(nMenu, 1);
}

TEST_F(KeyListTest, TellsWhenItGetsTheFocus) {
  m_pEdit->setFocus();
  QSignalSpy entered(m_pList, &CKeyList::FocusEntered);
  m_pList->setFocus();
  EXPECT_EQ(entered.count(), 1);
  m_pEdit->setFocus();
  EXPECT_EQ(entered.count(), 1);
}

TEST(KeyListViewTest, ShowsUtf8RowsAndIsNamedInItsLanguage) {
  KeyCommand command{};
  command.keys[0] = 37;  // Left: "←" in Japanese
  CKeyList list(UiLanguage::Japanese);
  FillKeyList(list, &command, true, UiLanguage::Japanese);
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.item(0)->text(), QStringLiteral("←"));
  EXPECT_EQ(list.objectName(), QStringLiteral("Control7"));
  EXPECT_EQ(list.accessibleName(), QStringLiteral("キー操作"));
  EXPECT_EQ(CKeyList(UiLanguage::English).accessibleName(), QStringLiteral("Key strokes"));
}

}  // namespace
}  // namespace orb
