// The key panel through its real widgets: keys typed into the list, buttons clicked, the
// label edited, on a working copy loaded from a data file as the program loads it.
#include "ui/key_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "../engine/test_profile.h"
#include "profiles/host_library.h"
#include "profiles/profile_store.h"
#include "support/temp_dir.h"
#include "ui/controller_picture.h"
#include "ui/speed_controls.h"
#include "ui/strip_label.h"
#include "test_pictures.h"
#include "ui/time_interval_dialog.h"

namespace orb {
namespace {

using test::Key;
using test::StrongestChange;
using test::TestProfile;

constexpr std::uint16_t VK_A = 'A';
constexpr std::uint16_t VK_B = 'B';
constexpr std::uint16_t VK_Z = 'Z';

ProfileRecord Named(const char* pName, std::uint32_t dwFlags = PF_JOGSHUTTLE) {
  TestProfile profile(dwFlags);
  std::strncpy(profile->szAppName, pName, sizeof profile->szAppName - 1);
  return *profile.Get();
}

void SetLabel(ProfileRecord& record, int nIndex, const char* pLabel) {
  std::strncpy(record.entries[nIndex].deck.szLabel, pLabel, 31);
  std::strncpy(record.entries[nIndex].file.szLabel, pLabel, 31);
}

void SetKeys(ProfileRecord& record, int nIndex, std::vector<KeyStroke> keys) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    record.entries[nIndex].deck.keys[i] = keys[i];
    record.entries[nIndex].file.keys[i] = keys[i];
  }
}

class KeyPanelTest : public ::testing::Test {
 protected:
  explicit KeyPanelTest(UiLanguage language = UiLanguage::English) : m_language(language) {}

  // Loads `records` as the data file and builds the panel over them.
  void Load(const std::vector<ProfileRecord>& records) {
    test::WriteFileBytes(m_dataFile, records.data(), records.size() * sizeof(ProfileRecord));
    m_store.LoadProfiles(m_dataFile, {});
    CKeyPanel::Host host;
    host.setModified = [this](bool blModified) {
      m_store.SetModified(blModified);
      m_modifiedCalls.push_back(blModified);
    };
    host.runSmallDialog = [this](QDialog& dialog) {
      ++m_nDialogs;
      return m_answer ? m_answer(dialog) : false;
    };
    m_pPanel = std::make_unique<CKeyPanel>(m_language, m_store, m_picture, m_speeds, std::move(host));
    m_pPanel->FillApplicationList();
    // Shown and active, so that focus moves as it does for the user (Clear depends on it).
    m_pPanel->show();
    m_pPanel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pPanel.get()));
    m_modifiedCalls.clear();
    m_store.SetModified(false);
  }

  CKeyPanel& Panel() { return *m_pPanel; }
  CKeyList& List() { return m_pPanel->KeyList(); }
  ProfileRecord& Edit(int nRecord) { return m_store.EditProfiles()[nRecord]; }
  KeyCommand& Deck(int nRecord, int nButton) { return Edit(nRecord).entries[nButton].deck; }
  KeyCommand& File(int nRecord, int nButton) { return Edit(nRecord).entries[nButton].file; }

  std::vector<QString> Rows() {
    std::vector<QString> rows;
    for (int i = 0; i < List().count(); ++i) rows.push_back(List().item(i)->text());
    return rows;
  }

  // A programmable button chosen and a row clicked, as the user does.
  void ChooseRow(int nButton, int nRow) {
    Panel().SelectControl(static_cast<std::uint32_t>(601 + nButton));
    List().setFocus();
    List().setCurrentRow(nRow);
  }
  void Type(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(&List(), key, modifiers);
  }

  UiLanguage m_language;
  test::TempDir m_dir;
  std::filesystem::path m_dataFile = m_dir / "ORB.DAT";
  CHostLibraryLink m_hostLink{[](unsigned) {}};
  CProfileStore m_store{m_hostLink};
  CControllerPicture m_picture;
  CSpeedControls m_speeds{UiLanguage::English};
  std::unique_ptr<CKeyPanel> m_pPanel;
  std::vector<bool> m_modifiedCalls;
  std::function<bool(QDialog&)> m_answer;
  int m_nDialogs = 0;
};

TEST_F(KeyPanelTest, TheFirstProfileIsShownWithItsLabelsAndNothingEditableUntilAButtonIsChosen) {
  ProfileRecord alpha = Named("Alpha");
  SetLabel(alpha, 0, "Undo");
  SetLabel(alpha, 4, "Mark");
  Load({alpha, Named("Beta")});

  EXPECT_EQ(Panel().ApplicationList().count(), 2);
  EXPECT_EQ(Panel().ApplicationList().currentText(), "Alpha");
  EXPECT_EQ(Panel().SelectedProfile(), &Edit(0));
  EXPECT_EQ(Panel().LabelField(0).text(), "Undo");
  EXPECT_EQ(Panel().LabelField(4).text(), "Mark");
  EXPECT_FALSE(Panel().LabelBox().isEnabled());
  EXPECT_FALSE(List().isEnabled());
  EXPECT_EQ(List().count(), 0);
  EXPECT_FALSE(Panel().PauseButton().isEnabled());
  EXPECT_FALSE(Panel().ClearButton().isEnabled());
  EXPECT_FALSE(Panel().ModifierButton(0).isEnabled());

  // A button chosen: its label and strokes, still no row and no modifier buttons.
  Panel().SelectControl(601);
  EXPECT_TRUE(Panel().LabelBox().isEnabled());
  EXPECT_EQ(Panel().LabelBox().text(), "Undo");
  EXPECT_EQ(Rows(), (std::vector<QString>{""}));
  EXPECT_FALSE(Panel().ModifierButton(0).isEnabled());
  EXPECT_EQ(m_picture.ChosenProgramButton(), 601);
  EXPECT_TRUE(m_modifiedCalls.empty()) << "showing a label is no edit";

  // Choosing the other application drops the control.
  Panel().SelectApplicationIndex(1);
  EXPECT_EQ(Panel().SelectedProfile(), &Edit(1));
  EXPECT_EQ(Panel().SelectedControl(), 0u);
  EXPECT_EQ(m_picture.ChosenProgramButton(), 0);
  EXPECT_EQ(Panel().LabelField(0).text(), "");
}

TEST_F(KeyPanelTest, KeysTypedOnTheEmptyRowBecomeStrokesUntilFiveAreThere) {
  Load({Named("Alpha")});
  ChooseRow(2, 0);
  ASSERT_TRUE(Panel().ModifierButton(0).isEnabled());

  Type(Qt::Key_A);
  EXPECT_EQ(Rows(), (std::vector<QString>{"A", ""}));
  EXPECT_EQ(Deck(0, 2).keys[0], Key(VK_A));
  EXPECT_EQ(File(0, 2).keys[0], Key(VK_A));
  EXPECT_EQ(List().currentRow(), 0) << "the edited row stays selected";
  EXPECT_TRUE(m_store.IsModified());

  for (int nRow = 1; nRow < 5; ++nRow) {
    List().setCurrentRow(nRow);
    Type(Qt::Key_B);
  }
  EXPECT_EQ(Rows(), (std::vector<QString>{"A", "B", "B", "B", "B"})) << "no empty row after the fifth stroke";
}

TEST_F(KeyPanelTest, TypingOverAStrokeKeepsItsModifiersAndPause) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key(VK_A, KS_CTRL, 5)});
  Load({alpha});
  ChooseRow(0, 0);
  EXPECT_TRUE(Panel().ModifierButton(1).isChecked());
  EXPECT_TRUE(Panel().PauseButton().isEnabled());

  Type(Qt::Key_Z, Qt::ShiftModifier);  // held keys do not become modifiers
  EXPECT_EQ(Deck(0, 0).keys[0], Key(VK_Z, KS_CTRL, 5));
  EXPECT_EQ(File(0, 0).keys[0], Key(VK_Z, KS_CTRL, 5));

  // Shift, Ctrl and Alt alone, and keys with no row selected, are not stored.
  Type(Qt::Key_Shift);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(VK_Z, KS_CTRL, 5));
  Panel().SelectControl(602);
  Type(Qt::Key_A);
  EXPECT_EQ(Deck(0, 1).keys[0], 0u);
}

TEST_F(KeyPanelTest, ShiftDeleteMovesTheLaterStrokesUpAndClearSelectsTheRowAgain) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key('1'), Key('2'), Key('3')});
  alpha.entries[0].file.keys[2] = Key('9');  // the file command differs: it becomes a copy
  Load({alpha});
  ChooseRow(0, 1);

  Type(Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_EQ(Rows(), (std::vector<QString>{"1", "3", ""}));
  EXPECT_EQ(std::memcmp(Deck(0, 0).keys, File(0, 0).keys, sizeof Deck(0, 0).keys), 0);
  EXPECT_EQ(List().currentRow(), -1) << "no row is shown selected";
  // ...but the slot stays the one edited: the next key replaces the stroke that moved up.
  Type(Qt::Key_Z);
  EXPECT_EQ(Rows(), (std::vector<QString>{"1", "Z", ""}));

  // Clear deletes the selected stroke and selects the row again; on the empty row that
  // then moved up it disables itself.
  ASSERT_TRUE(Panel().ClearButton().isEnabled());
  QTest::mouseClick(&Panel().ClearButton(), Qt::LeftButton);
  EXPECT_EQ(Rows(), (std::vector<QString>{"1", ""}));
  EXPECT_EQ(List().currentRow(), 1);
  EXPECT_FALSE(Panel().ClearButton().isEnabled());
}

TEST_F(KeyPanelTest, ModifierOnlyStrokesFromTheButtonsAndShiftSpace) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key(VK_A, KS_ALT | KS_CTRL), Key(VK_B)});
  Load({alpha});

  // Shift+Space: the row's own first modifier becomes its key.
  ChooseRow(0, 0);
  Type(Qt::Key_Space, Qt::ShiftModifier);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(18, KS_ALT | KS_CTRL));
  EXPECT_EQ(Rows()[0], "Alt+Ctrl");
  // Without modifiers and pause it empties the row, and the list ends there.
  List().setCurrentRow(1);
  Type(Qt::Key_Space, Qt::ShiftModifier);
  EXPECT_EQ(Rows(), (std::vector<QString>{"Alt+Ctrl", ""}));

  // Ctrl checked on the empty row makes the stroke "Ctrl".
  QTest::mouseClick(&Panel().ModifierButton(1), Qt::LeftButton);
  EXPECT_EQ(Deck(0, 0).keys[1], Key(17, KS_CTRL));
  EXPECT_EQ(File(0, 0).keys[1], Key(17, KS_CTRL));
  EXPECT_EQ(Rows(), (std::vector<QString>{"Alt+Ctrl", "Ctrl", ""}));
  EXPECT_EQ(List().currentRow(), 1);
}

TEST_F(KeyPanelTest, EnterTabAndEscComeFromTheirButtonsAndShowWhenTheRowIsSelectedAgain) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key(VK_A, KS_CTRL)});
  Load({alpha});
  ChooseRow(0, 0);

  QTest::mouseClick(&Panel().FixedKeyButton(0), Qt::LeftButton);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(13, KS_CTRL));
  EXPECT_EQ(Rows()[0], "Ctrl+Enter");

  Panel().SelectControl(601);
  EXPECT_FALSE(Panel().FixedKeyButton(0).isChecked()) << "no row: all three off";
  List().setCurrentRow(0);
  EXPECT_TRUE(Panel().FixedKeyButton(0).isChecked());
  EXPECT_FALSE(Panel().FixedKeyButton(1).isChecked());

  // Tab typed into the list moves on, as in any dialog; it is no stroke.
  Type(Qt::Key_Tab);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(13, KS_CTRL));
}

TEST_F(KeyPanelTest, ModifiersAndEnterTabEscShowTheirStatePlainlyToTheEyeAndToScreenReaders) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key(VK_A, KS_CTRL)});
  Load({alpha});
  ChooseRow(0, 0);

  QAbstractButton& ctrl = Panel().ModifierButton(1);
  QAccessibleInterface* pCtrl = QAccessible::queryAccessibleInterface(&ctrl);
  ASSERT_NE(pCtrl, nullptr);
  EXPECT_EQ(pCtrl->role(), QAccessible::CheckBox);
  ASSERT_TRUE(ctrl.isChecked());
  EXPECT_TRUE(pCtrl->state().checked);
  const QImage on = ctrl.grab().toImage();
  QTest::mouseClick(&ctrl, Qt::LeftButton);
  ASSERT_EQ(Deck(0, 0).keys[0], Key(VK_A));
  EXPECT_FALSE(pCtrl->state().checked);
  // Not a shade darker: as plain as text on its ground (3:1 for a control's state).
  EXPECT_GE(StrongestChange(on, ctrl.grab().toImage()), 3.0);

  for (int i = 0; i < 3; ++i) {
    QAccessibleInterface* pFixed = QAccessible::queryAccessibleInterface(&Panel().FixedKeyButton(i));
    ASSERT_NE(pFixed, nullptr);
    EXPECT_EQ(pFixed->role(), QAccessible::RadioButton) << i;
  }
  QAbstractButton& tab = Panel().FixedKeyButton(1);
  const QImage off = tab.grab().toImage();
  QTest::mouseClick(&tab, Qt::LeftButton);
  ASSERT_EQ(Deck(0, 0).keys[0], Key(9));
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(&tab)->state().checked);
  EXPECT_FALSE(QAccessible::queryAccessibleInterface(&Panel().FixedKeyButton(0))->state().checked);
  EXPECT_GE(StrongestChange(off, tab.grab().toImage()), 3.0);
}

TEST_F(KeyPanelTest, F1AndF10AreStoredOnlyWithARowSelectedInTheList) {
  Load({Named("Alpha")});
  Panel().SelectControl(601);
  List().setFocus();
  Type(Qt::Key_F1);
  EXPECT_EQ(Deck(0, 0).keys[0], 0u) << "no row selected";

  List().setCurrentRow(0);
  Type(Qt::Key_F1);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(112));
  List().setCurrentRow(1);
  Type(Qt::Key_F10);
  EXPECT_EQ(Deck(0, 0).keys[1], Key(121));
  EXPECT_EQ(Rows(), (std::vector<QString>{"F1", "F10", ""}));
}

TEST_F(KeyPanelTest, PauseAndClearWaitForARowAfterAnotherButtonIsChosen) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key(VK_A)});
  SetKeys(alpha, 1, {Key(VK_B)});
  Load({alpha});
  ChooseRow(0, 0);
  ASSERT_TRUE(Panel().PauseButton().isEnabled());
  ASSERT_TRUE(Panel().ClearButton().isEnabled());

  Panel().SelectControl(602);
  EXPECT_FALSE(Panel().PauseButton().isEnabled());
  EXPECT_FALSE(Panel().ClearButton().isEnabled());
  EXPECT_EQ(Rows(), (std::vector<QString>{"B", ""}));
  List().setCurrentRow(1);
  EXPECT_FALSE(Panel().PauseButton().isEnabled()) << "the empty row has no key to pause after";
}

TEST_F(KeyPanelTest, PauseFromTheTimeIntervalDialogGoesToBothSlotsAndCancelChangesNothing) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key(VK_A, 0, 5)});
  Load({alpha});
  ChooseRow(0, 0);

  double rShown = -1;
  m_answer = [&](QDialog& dialog) {
    auto& interval = dynamic_cast<CTimeIntervalDialog&>(dialog);
    rShown = interval.Value();
    return false;
  };
  QTest::mouseClick(&Panel().PauseButton(), Qt::LeftButton);
  EXPECT_DOUBLE_EQ(rShown, 0.5);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(VK_A, 0, 5));
  EXPECT_FALSE(m_store.IsModified());

  m_answer = [&](QDialog& dialog) {
    auto& interval = dynamic_cast<CTimeIntervalDialog&>(dialog);
    interval.Edit().setText("1.25");
    interval.findChild<QPushButton*>(QStringLiteral("Control1"))->click();
    return interval.result() == QDialog::Accepted;
  };
  QTest::mouseClick(&Panel().PauseButton(), Qt::LeftButton);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(VK_A, 0, 13));
  EXPECT_EQ(File(0, 0).keys[0], Key(VK_A, 0, 13));
  EXPECT_TRUE(m_store.IsModified());
  EXPECT_EQ(List().currentRow(), 0);
  EXPECT_EQ(Rows()[0], "A( 1.3 sec.)") << "the row shows its pause";
}

TEST_F(KeyPanelTest, APauseChosenWhileTheApplicationInFrontChangesIsKeptAndTheListFollowsAfterwards) {
  ProfileRecord alpha = Named("Alpha");
  SetKeys(alpha, 0, {Key(VK_A, 0, 5)});
  Load({alpha, Named("Beta")});
  ChooseRow(0, 0);
  m_answer = [&](QDialog& dialog) {
    // The core's choice for the application now in front, while the dialog is open.
    Panel().SelectApplicationIndex(1);
    auto& interval = dynamic_cast<CTimeIntervalDialog&>(dialog);
    interval.Edit().setText("2");
    interval.findChild<QPushButton*>(QStringLiteral("Control1"))->click();
    return interval.result() == QDialog::Accepted;
  };
  QTest::mouseClick(&Panel().PauseButton(), Qt::LeftButton);
  EXPECT_EQ(Deck(0, 0).keys[0], Key(VK_A, 0, 20));
  EXPECT_EQ(File(0, 0).keys[0], Key(VK_A, 0, 20));
  EXPECT_TRUE(m_store.IsModified());
  EXPECT_EQ(Panel().ApplicationList().currentIndex(), 1);
  EXPECT_EQ(Panel().SelectedProfile(), &Edit(1));
}

TEST_F(KeyPanelTest, ATableOfTheSameLengthRenamesTheListAndEditsLandInTheRecordShown) {
  Load({Named("Alpha"), Named("Beta")});
  // The live table replaced by one of the same length (the editor's, Set to default).
  ProfileRecord* pLive = m_store.Profiles();
  std::strncpy(pLive[0].szAppName, "Gamma", sizeof pLive[0].szAppName - 1);
  std::strncpy(pLive[1].szAppName, "Alpha", sizeof pLive[1].szAppName - 1);
  m_store.CancelEdits();
  Panel().RefreshPanel();
  QStringList names;
  for (int i = 0; i < Panel().ApplicationList().count(); ++i) names << Panel().ApplicationList().itemText(i);
  EXPECT_EQ(names, (QStringList{"Gamma", "Alpha"}));
  // Alpha was shown and is still there: it stays shown, now as the second record.
  EXPECT_EQ(Panel().ApplicationList().currentText(), "Alpha");
  ASSERT_EQ(Panel().SelectedProfile(), &Edit(1));
  Panel().SelectControl(601);
  Panel().LabelBox().setText(QStringLiteral("Kept"));
  EXPECT_STREQ(Deck(1, 0).szLabel, "Kept");
  EXPECT_STREQ(Deck(0, 0).szLabel, "");
  Panel().SelectApplicationIndex(0);
  EXPECT_EQ(Panel().SelectedProfile(), &Edit(0));
}

TEST_F(KeyPanelTest, LabelEditsGoToBothCommandsAndTheFieldUnderTheButton) {
  ProfileRecord alpha = Named("Alpha");
  SetLabel(alpha, 2, "Cut");
  Load({alpha});
  Panel().SelectControl(603);

  // The same text again is no edit.
  Panel().LabelBox().setText("Cut");
  EXPECT_FALSE(m_store.IsModified());

  Panel().LabelBox().setFocus();
  QTest::keyClicks(&Panel().LabelBox(), "s");
  EXPECT_STREQ(Deck(0, 2).szLabel, "Cuts");
  EXPECT_STREQ(File(0, 2).szLabel, "Cuts");
  EXPECT_EQ(Panel().LabelField(2).text(), "Cuts");
  EXPECT_TRUE(m_store.IsModified());

  // Clear with the focus in the label empties it, there and under the button.
  ASSERT_TRUE(Panel().ClearButton().isEnabled());
  QTest::mouseClick(&Panel().ClearButton(), Qt::LeftButton);
  EXPECT_EQ(Panel().LabelBox().text(), "");
  EXPECT_STREQ(Deck(0, 2).szLabel, "");
  EXPECT_EQ(Panel().LabelField(2).text(), "");
}

TEST_F(KeyPanelTest, ALabelThatTheTablesCodePageCannotHoldIsRefusedAndNothingIsStored) {
  ProfileRecord alpha = Named("Alpha");
  SetLabel(alpha, 0, "Play");
  Load({alpha});
  Panel().SelectControl(601);
  m_answer = [](QDialog&) { return true; };

  Panel().LabelBox().setText(QString::fromUtf8("再生"));
  EXPECT_EQ(m_nDialogs, 1) << "the user is told";
  EXPECT_STREQ(Deck(0, 0).szLabel, "Play");
  EXPECT_EQ(Panel().LabelBox().text(), "Play");
  EXPECT_FALSE(m_store.IsModified());
}

TEST_F(KeyPanelTest, ALabelWithAByteTheCodePageCannotShowIsKeptAndOnlyTypedTextIsRefused) {
  // A table from elsewhere: 0x81 is no character in 1252, and the two commands differ.
  ProfileRecord alpha = Named("Alpha");
  std::strcpy(alpha.entries[0].deck.szLabel, "Cue\x81");
  std::strcpy(alpha.entries[0].file.szLabel, "Cue");
  Load({alpha});
  QString sTitle;
  m_answer = [&](QDialog& dialog) {
    sTitle = dialog.windowTitle();
    return true;
  };

  Panel().SelectControl(601);  // what a click on the button does
  EXPECT_EQ(m_nDialogs, 0) << "a click refuses nothing";
  EXPECT_EQ(Panel().LabelBox().text(), QStringLiteral("Cue\uFFFD"));
  EXPECT_STREQ(File(0, 0).szLabel, "Cue\x81") << "both commands hold the label shown";

  Panel().LabelBox().setFocus();
  Panel().LabelBox().end(false);
  QTest::keyClicks(&Panel().LabelBox(), "s");
  EXPECT_EQ(m_nDialogs, 0);
  EXPECT_STREQ(Deck(0, 0).szLabel, "Cue\x81s");
  EXPECT_STREQ(File(0, 0).szLabel, "Cue\x81s");

  Panel().LabelBox().insert(QString::fromUtf8("再"));
  EXPECT_EQ(m_nDialogs, 1);
  EXPECT_EQ(sTitle, QString::fromUtf8(LoadString(102, UiLanguage::English)));
  EXPECT_STREQ(Deck(0, 0).szLabel, "Cue\x81s");
  EXPECT_EQ(Panel().LabelBox().text(), QStringLiteral("Cue\uFFFDs"));
}

TEST_F(KeyPanelTest, OnlyProgrammableButtonsCanBeChosenAndAnEmptyTableMakesNothingEditable) {
  Load({Named("Alpha")});
  Panel().SelectControl(602);
  Panel().SelectControl(606);  // DECK/FILE pressed on the controller while the window is in front
  EXPECT_EQ(m_picture.ChosenProgramButton(), 0);
  EXPECT_FALSE(Panel().LabelBox().isEnabled());
  EXPECT_FALSE(List().isEnabled());

  m_store.ReleaseTable();
  Panel().RefreshPanel();
  EXPECT_EQ(Panel().ApplicationList().count(), 0);
  EXPECT_EQ(Panel().SelectedProfile(), nullptr);
  Panel().SelectControl(601);
  EXPECT_FALSE(Panel().LabelBox().isEnabled());
}

class JapaneseKeyPanelTest : public KeyPanelTest {
 protected:
  JapaneseKeyPanelTest() : KeyPanelTest(UiLanguage::Japanese) {}
};

TEST_F(JapaneseKeyPanelTest, ALongJapaneseLabelIsCutOnACharacterBoundaryAndShownAsStored) {
  Load({Named("Alpha")});
  Panel().SelectControl(601);
  // Sixteen double-byte characters are 32 bytes: the sixteenth does not fit.
  const QString sLong = QString::fromUtf8("あいうえおかきくけこさしすせそた");
  Panel().LabelBox().setText(sLong);
  EXPECT_EQ(std::strlen(Deck(0, 0).szLabel), 30u);
  EXPECT_EQ(Panel().LabelBox().text(), sLong.left(15));
  EXPECT_EQ(Panel().LabelField(0).text(), sLong.left(15));
}

}  // namespace
}  // namespace orb
