#pragma once
// The part of the settings window that gives each programmable button of the controller
// a label and up to five key strokes, per application. It edits only the store's working
// copy; OK and Apply (the window's) make it live, Cancel throws it away.
//
// Three nested states: no control chosen (label and key list disabled and empty); a
// control chosen (its label and strokes shown, no row selected, modifier buttons, Pause...
// and Clear disabled); a row selected (modifier buttons show the stroke). Every change of
// a stroke is written to the deck and the file command alike, so a programmable button
// does the same in both modes.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "base/string_table.h"
#include "platform/text/text_codec.h"
#include "profiles/profile_record.h"
#include "ui/key_list.h"
#include "ui/strip_label.h"

class QDialog;

namespace orb {

class CControllerPicture;
class CProfileStore;
class CSpeedControls;

class CKeyPanel final : public QWidget {
  Q_OBJECT

 public:
  // What the panel needs of the window around it.
  struct Host {
    // m_blModified: stored, and "&Apply" enabled exactly when set.
    std::function<void(bool blModified)> setModified;
    // Runs a small modal dialog registered as the window's m_pModalDlg; true for OK.
    std::function<bool(QDialog& dialog)> runSmallDialog;
  };

  CKeyPanel(UiLanguage language, CProfileStore& store, CControllerPicture& picture, CSpeedControls& speeds,
            Host host, QWidget* pParent = nullptr);

  // The application list from the working copy, its first entry shown.
  void FillApplicationList();
  // Shows the profile whose name the list shows; no control chosen afterwards.
  void OnSelectApplication();
  // The list's entry nIndex (table order) chosen from outside, then shown.
  void SelectApplicationIndex(int nIndex);
  // After OK and Cancel: the first application, no control chosen.
  void ShowFirstApplication();
  // The table was replaced under the panel: the list is filled again from it, the entry
  // shown kept by name where it still is.
  void RefreshPanel();
  // 601-605 chooses programmable button 1-5; any other code chooses none.
  void SelectControl(std::uint32_t nCode);

  // The panel's controls in the order of its layout, for the window's tab order.
  QList<QWidget*> FocusOrder();

  // For the window's tests.
  QComboBox& ApplicationList() { return m_applications; }
  QLineEdit& LabelBox() { return m_labelBox; }
  CKeyList& KeyList() { return m_keyList; }
  QCheckBox& ModifierButton(int nIndex) { return *m_apModifiers[static_cast<std::size_t>(nIndex)]; }  // Alt, Ctrl, Shift
  QRadioButton& FixedKeyButton(int nIndex) { return *m_apFixedKeys[static_cast<std::size_t>(nIndex)]; }  // Enter, Tab, Esc
  QPushButton& PauseButton() { return m_pause; }
  QPushButton& ClearButton() { return m_clear; }
  CStripLabel& LabelField(int nIndex) { return *m_apLabelFields[static_cast<std::size_t>(nIndex)]; }
  const ProfileRecord* SelectedProfile() const { return m_pSelProfile; }
  std::uint32_t SelectedControl() const { return m_nSelControl; }

 protected:
  bool eventFilter(QObject* pObject, QEvent* pEvent) override;

 private:
  void BuildControls();
  std::uint32_t FillNames();
  bool RunDialog(QDialog& dialog);
  void FollowPendingApplication();
  void UpdateLabels();
  void EnableCombination(bool blOn);
  void OnSelectKey();
  void UpdateKeyButtons();
  bool CaptureKey(std::uint16_t nVk, bool blShift);
  void CommitKey();
  void DeleteKey();
  void OnClear();
  void OnLabelChange();
  void OnPause();
  void OnModifier(std::uint32_t dwBit, bool blChecked);
  void OnFixedKey(std::uint16_t nVk);
  void SetKeyOfSlots(std::uint16_t nVk);
  void FillKeys();
  void SelectKeyRow(int nRow);
  QString DecodeLabel(const char (&szLabel)[32]) const;
  void SetModified(bool blModified) { m_host.setModified(blModified); }

  UiLanguage m_language;
  platform::CodePage m_codePage;
  CProfileStore& m_store;
  CControllerPicture& m_picture;
  CSpeedControls& m_speeds;
  Host m_host;

  QLabel m_applicationCaption;
  QComboBox m_applications;
  QLabel m_labelCaption;
  QLineEdit m_labelBox;
  QLabel m_keysCaption;
  CKeyList m_keyList;
  QGroupBox m_combination;
  std::array<QCheckBox*, 3> m_apModifiers{};
  std::array<QRadioButton*, 3> m_apFixedKeys{};
  QButtonGroup m_fixedKeyGroup;
  QPushButton m_pause;
  QPushButton m_clear;
  std::array<CStripLabel*, 5> m_apLabelFields{};

  ProfileRecord* m_pSelProfile = nullptr;
  int m_nSelApp = -1;
  bool m_blInDialog = false;  // a small dialog of the panel's is open
  int m_nPendingApp = -1;     // the application chosen from outside meanwhile
  std::uint32_t m_nSelControl = 0;
  ControlEntry* m_pSelEntry = nullptr;
  KeyCommand* m_pSelDeck = nullptr;
  KeyCommand* m_pSelFile = nullptr;
  int m_nSelKey = 0;
  KeyStroke* m_pSelKeyDeck = nullptr;
  KeyStroke* m_pSelKeyFile = nullptr;
  // The stored bytes behind the label box's text: kept as they are where the user leaves
  // the text alone, even those the code page cannot show.
  std::string m_sShownLabel;
  bool m_blLabelFocus = false;
  bool m_blSelectingRow = false;  // the panel moves the list's selection: not the user's choice
  bool m_blSettingLabel = false;  // the panel puts a text into the label box itself
  bool m_blShowingStroke = false; // the panel sets the modifier buttons to show a stroke
};

}  // namespace orb
