#include "ui/key_panel.h"

#include <cstring>

#include <QBoxLayout>
#include <QEvent>
#include <QGridLayout>
#include <QMessageBox>

#include "engine/key_names.h"
#include "profiles/profile_store.h"
#include "profiles/profile_table.h"
#include "ui/controller_picture.h"
#include "ui/label_text.h"
#include "ui/speed_controls.h"
#include "ui/strip_label.h"
#include "ui/time_interval_dialog.h"
#include "ui/ui_texts.h"

namespace orb {
namespace {

constexpr int kIdsProductName = 102;
constexpr std::uint32_t kFirstProgramCode = 601;
constexpr std::uint32_t kLastProgramCode = 605;
constexpr std::uint16_t kVkShift = 16;
constexpr std::uint16_t kVkControl = 17;
constexpr std::uint16_t kVkMenu = 18;
constexpr std::uint16_t kVkSpace = 32;
constexpr std::uint16_t kVkDelete = 46;
constexpr std::uint16_t kVkF1 = 112;
constexpr std::uint16_t kVkF10 = 121;
constexpr std::array<std::uint16_t, 3> kFixedKeys{13, 9, 27};  // Enter, Tab, Esc
constexpr std::array<std::uint32_t, 3> kModifierBits{KS_ALT, KS_CTRL, KS_SHIFT};
// Key, modifiers and pause: a slot with none of these is an empty row.
constexpr std::uint32_t kStrokeBits = 0x0FFFFFFFu;

QString ControlName(int nId) { return QStringLiteral("Control%1").arg(nId); }

// The key of a stroke that presses only modifiers: the first of Alt, Ctrl, Shift it holds.
std::uint16_t ModifierKeyOf(KeyStroke keyStroke) {
  if ((keyStroke & KS_ALT) != 0) return kVkMenu;
  if ((keyStroke & KS_CTRL) != 0) return kVkControl;
  if ((keyStroke & KS_SHIFT) != 0) return kVkShift;
  return 0;
}

KeyStroke WithKey(KeyStroke keyStroke, std::uint16_t nVk) { return (keyStroke & ~KS_VKEY_MASK) | nVk; }

QByteArray NameBytes(const ProfileRecord& record) {
  const std::string_view name = FieldText(record.szAppName);
  return QByteArray(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

CKeyPanel::CKeyPanel(UiLanguage language, CProfileStore& store, CControllerPicture& picture, CSpeedControls& speeds,
                     Host host, QWidget* pParent)
    : QWidget(pParent),
      m_language(language),
      m_codePage(language == UiLanguage::Japanese ? platform::CodePage::Cp932 : platform::CodePage::Cp1252),
      m_store(store),
      m_picture(picture),
      m_speeds(speeds),
      m_host(std::move(host)),
      m_keyList(language),
      m_fixedKeyGroup(this) {
  BuildControls();
  SelectControl(0);
}

void CKeyPanel::BuildControls() {
  const PanelTexts& texts = PanelText(m_language);

  m_applicationCaption.setText(QString::fromUtf8(texts.pApplication));
  m_applicationCaption.setBuddy(&m_applications);
  m_applications.setObjectName(ControlName(5));
  m_applications.setAccessibleName(QString::fromUtf8(texts.pApplication));
  m_applications.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_applications.setMinimumContentsLength(24);
  connect(&m_applications, &QComboBox::activated, this, [this] { OnSelectApplication(); });

  m_labelCaption.setText(QString::fromUtf8(texts.pLabel));
  m_labelCaption.setBuddy(&m_labelBox);
  m_labelBox.setObjectName(ControlName(6));
  m_labelBox.setAccessibleName(QString::fromUtf8(texts.pLabel));
  m_labelBox.setMaxLength(static_cast<int>(sizeof(KeyCommand::szLabel)) - 1);
  m_labelBox.installEventFilter(this);
  connect(&m_labelBox, &QLineEdit::textChanged, this, [this] { OnLabelChange(); });

  m_keysCaption.setText(QString::fromUtf8(texts.pKeys));
  m_keysCaption.setBuddy(&m_keyList);
  // Five strokes at most: room for all of them, never a scroll bar.
  m_keyList.setFixedHeight(m_keyList.fontMetrics().height() * kKeysPerCommand + 4 * kKeysPerCommand +
                           2 * m_keyList.frameWidth());
  m_keyList.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_keyList.m_captureKey = [this](std::uint16_t nVk, bool blShift) { return CaptureKey(nVk, blShift); };
  connect(&m_keyList, &CKeyList::FocusEntered, this, [this] {
    m_blLabelFocus = false;
    UpdateKeyButtons();
  });
  // The selection, not the current row: the list makes a row current on getting the
  // focus without selecting it, and that is no choice of the user's.
  connect(&m_keyList, &QListWidget::itemSelectionChanged, this, [this] {
    if (!m_blSelectingRow) OnSelectKey();
  });

  m_combination.setObjectName(ControlName(1013));
  m_combination.setTitle(QString::fromUtf8(texts.pCombination));
  auto* pCombination = new QGridLayout(&m_combination);
  const std::array<const char*, 3> apModifierTexts{texts.pAlt, texts.pCtrl, texts.pShift};
  const std::array<int, 3> anModifierIds{8, 301, 302};
  // Check boxes and radio buttons, not pushable ones: the tick and the dot tell at a
  // glance which modifiers a stroke holds and which of Enter, Tab and Esc is its key.
  for (std::size_t i = 0; i < m_apModifiers.size(); ++i) {
    auto* pButton = new QCheckBox(QString::fromUtf8(apModifierTexts[i]), &m_combination);
    pButton->setObjectName(ControlName(anModifierIds[i]));
    pButton->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    const std::uint32_t dwBit = kModifierBits[i];
    // toggled, not clicked: a screen reader's toggle action changes the state without a
    // click. The panel's own setChecked calls are told apart by m_blShowingStroke.
    connect(pButton, &QCheckBox::toggled, this, [this, dwBit](bool blChecked) {
      if (!m_blShowingStroke) OnModifier(dwBit, blChecked);
    });
    pCombination->addWidget(pButton, 0, static_cast<int>(i));
    m_apModifiers[i] = pButton;
  }
  const std::array<const char*, 3> apFixedTexts{texts.pEnter, texts.pTab, texts.pEsc};
  for (std::size_t i = 0; i < m_apFixedKeys.size(); ++i) {
    auto* pButton = new QRadioButton(QString::fromUtf8(apFixedTexts[i]), &m_combination);
    pButton->setObjectName(ControlName(501 + static_cast<int>(i)));
    pButton->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    m_fixedKeyGroup.addButton(pButton);
    const std::uint16_t nVk = kFixedKeys[i];
    connect(pButton, &QRadioButton::toggled, this, [this, nVk](bool blChecked) {
      if (blChecked && !m_blShowingStroke) OnFixedKey(nVk);
    });
    pCombination->addWidget(pButton, 1, static_cast<int>(i));
    m_apFixedKeys[i] = pButton;
  }

  m_pause.setText(QString::fromUtf8(texts.pPause));
  m_pause.setObjectName(ControlName(202));
  m_pause.setAutoDefault(false);
  connect(&m_pause, &QPushButton::clicked, this, [this] { OnPause(); });
  m_clear.setText(QString::fromUtf8(texts.pClear));
  m_clear.setObjectName(ControlName(203));
  m_clear.setAutoDefault(false);
  connect(&m_clear, &QPushButton::clicked, this, [this] { OnClear(); });

  auto* pLayout = new QGridLayout(this);
  pLayout->setContentsMargins(0, 0, 0, 0);
  pLayout->addWidget(&m_applicationCaption, 0, 0);
  pLayout->addWidget(&m_applications, 0, 1, 1, 2);
  pLayout->addWidget(&m_labelCaption, 1, 0);
  pLayout->addWidget(&m_labelBox, 1, 1, 1, 2);
  pLayout->addWidget(&m_keysCaption, 2, 0, 1, 3);
  pLayout->addWidget(&m_keyList, 3, 0, 2, 2);
  pLayout->addWidget(&m_combination, 3, 2);
  auto* pButtons = new QHBoxLayout;
  pButtons->addWidget(&m_pause);
  pButtons->addWidget(&m_clear);
  pLayout->addLayout(pButtons, 4, 2, Qt::AlignTop);
  pLayout->setColumnStretch(1, 1);

  // The labels under the programmable buttons, on the picture's gray strip.
  for (int k = 0; k < 5; ++k) {
    auto* pField = new CStripLabel(&m_picture.ProgramStrip());
    pField->setObjectName(ControlName(1008 + k));
    pField->setGeometry(m_picture.ProgramLabelRect(k));
    m_apLabelFields[static_cast<std::size_t>(k)] = pField;
  }
}

QList<QWidget*> CKeyPanel::FocusOrder() {
  QList<QWidget*> order{&m_applications, &m_labelBox, &m_keyList};
  for (QCheckBox* pButton : m_apModifiers) order << pButton;
  for (QRadioButton* pButton : m_apFixedKeys) order << pButton;
  order << &m_pause << &m_clear;
  return order;
}

QString CKeyPanel::DecodeLabel(const char (&szLabel)[32]) const { return LabelFromTable(szLabel, m_codePage); }

std::uint32_t CKeyPanel::FillNames() {
  m_applications.clear();
  ProfileRecord* pProfiles = m_store.EditProfiles();
  const std::uint32_t nCount = pProfiles == nullptr ? 0 : m_store.ComSet();
  for (std::uint32_t i = 0; i < nCount; ++i) {
    m_applications.addItem(
        QString::fromStdString(platform::DecodeTextLossy(m_codePage, FieldText(pProfiles[i].szAppName))),
        NameBytes(pProfiles[i]));
  }
  return nCount;
}

void CKeyPanel::FillApplicationList() {
  m_nPendingApp = -1;
  const std::uint32_t nCount = FillNames();
  if (nCount == 0) {
    // Nothing left to show: the pointers into the old copy must go with it.
    m_pSelProfile = nullptr;
    SelectControl(0);
    UpdateLabels();
    m_speeds.ShowProfile(nullptr);
    UpdateKeyButtons();
    return;
  }
  m_applications.setCurrentIndex(0);
  OnSelectApplication();
}

void CKeyPanel::OnSelectApplication() {
  m_nSelApp = m_applications.currentIndex();
  if (m_nSelApp < 0) {
    return;
  }
  // The first record of that name wins, as the engine's choice of profile does.
  const QByteArray name = m_applications.itemData(m_nSelApp).toByteArray();
  ProfileRecord* pProfiles = m_store.EditProfiles();
  const std::uint32_t nCount = pProfiles == nullptr ? 0 : m_store.ComSet();
  ProfileRecord* pFound = nullptr;
  for (std::uint32_t i = 0; i < nCount && pFound == nullptr; ++i) {
    if (NameBytes(pProfiles[i]) == name) pFound = &pProfiles[i];
  }
  if (pFound == nullptr) {
    return;
  }
  m_pSelProfile = pFound;
  SelectControl(0);
  UpdateLabels();
  m_speeds.ShowProfile(m_pSelProfile);
  UpdateKeyButtons();
}

void CKeyPanel::SelectApplicationIndex(int nIndex) {
  if (nIndex < 0 || nIndex >= m_applications.count()) {
    return;
  }
  if (m_blInDialog) {
    // The application in front changed under Pause... or a refusal: the list follows it
    // once the dialog has done its work on the stroke it was opened for.
    m_nPendingApp = nIndex;
    return;
  }
  m_applications.setCurrentIndex(nIndex);
  OnSelectApplication();
}

void CKeyPanel::ShowFirstApplication() {
  if (m_applications.count() > 0) {
    m_applications.setCurrentIndex(0);
  }
  OnSelectApplication();
}

void CKeyPanel::RefreshPanel() {
  // The names come from the new table even when its length is the same: the list must
  // name the records the selection points into. The entry shown stays if its name is
  // still there, else the one at its place.
  const QByteArray shown = m_nSelApp >= 0 ? m_applications.itemData(m_nSelApp).toByteArray() : QByteArray();
  const int nShown = m_nSelApp;
  m_nPendingApp = -1;
  const std::uint32_t nCount = FillNames();
  if (nCount == 0) {
    FillApplicationList();
    return;
  }
  int nIndex = m_applications.findData(shown);
  if (nIndex < 0) nIndex = nShown >= 0 && nShown < static_cast<int>(nCount) ? nShown : 0;
  m_applications.setCurrentIndex(nIndex);
  OnSelectApplication();
}

bool CKeyPanel::RunDialog(QDialog& dialog) {
  m_blInDialog = true;
  const bool blOk = m_host.runSmallDialog(dialog);
  m_blInDialog = false;
  return blOk;
}

void CKeyPanel::FollowPendingApplication() {
  const int nIndex = m_nPendingApp;
  m_nPendingApp = -1;
  if (nIndex >= 0) SelectApplicationIndex(nIndex);
}

void CKeyPanel::UpdateLabels() {
  for (int k = 0; k < 5; ++k) {
    const QString sLabel = m_pSelProfile == nullptr ? QString() : DecodeLabel(m_pSelProfile->entries[k].deck.szLabel);
    CStripLabel& field = *m_apLabelFields[static_cast<std::size_t>(k)];
    if (field.text() != sLabel) {
      field.SetLabelText(sLabel);
      m_picture.SetProgramLabel(k, sLabel);
    }
  }
}

void CKeyPanel::SelectControl(std::uint32_t nCode) {
  m_nSelControl = nCode;
  const bool blEditable = nCode >= kFirstProgramCode && nCode <= kLastProgramCode && m_pSelProfile != nullptr;
  m_picture.SetChosenProgramButton(static_cast<int>(nCode));
  if (blEditable) {
    m_pSelEntry = &m_pSelProfile->entries[nCode - kFirstProgramCode];
    m_pSelDeck = &m_pSelEntry->deck;
    m_pSelFile = &m_pSelEntry->file;
  } else {
    m_pSelEntry = nullptr;
    m_pSelDeck = nullptr;
    m_pSelFile = nullptr;
  }
  m_pSelKeyDeck = nullptr;
  m_pSelKeyFile = nullptr;
  EnableCombination(false);
  m_blLabelFocus = false;

  m_labelBox.setEnabled(blEditable);
  m_sShownLabel = blEditable ? std::string(FieldText(m_pSelDeck->szLabel)) : std::string();
  m_labelBox.setText(LabelFromTable(m_sShownLabel, m_codePage));
  m_keyList.setEnabled(blEditable);
  FillKeys();
  UpdateKeyButtons();
}

void CKeyPanel::EnableCombination(bool blOn) {
  m_combination.setEnabled(blOn);
  if (blOn) {
    return;
  }
  m_blShowingStroke = true;
  for (QCheckBox* pButton : m_apModifiers) pButton->setChecked(false);
  // An exclusive group keeps one button on; none is what "no row" shows.
  m_fixedKeyGroup.setExclusive(false);
  for (QRadioButton* pButton : m_apFixedKeys) pButton->setChecked(false);
  m_fixedKeyGroup.setExclusive(true);
  m_blShowingStroke = false;
}

void CKeyPanel::FillKeys() {
  m_blSelectingRow = true;
  FillKeyList(m_keyList, m_pSelDeck, m_pSelDeck != nullptr, m_language);
  m_blSelectingRow = false;
}

void CKeyPanel::SelectKeyRow(int nRow) {
  m_blSelectingRow = true;
  m_keyList.setCurrentRow(nRow);
  m_blSelectingRow = false;
}

void CKeyPanel::OnSelectKey() {
  const QList<QListWidgetItem*> selected = m_keyList.selectedItems();
  const int nRow = selected.isEmpty() ? -1 : m_keyList.row(selected.front());
  if (m_pSelDeck == nullptr || nRow < 0 || nRow >= kKeysPerCommand) {
    return;  // the list was emptied: no row was chosen
  }
  EnableCombination(true);
  m_nSelKey = nRow;
  m_pSelKeyDeck = &m_pSelDeck->keys[m_nSelKey];
  m_pSelKeyFile = &m_pSelFile->keys[m_nSelKey];
  UpdateKeyButtons();
  m_blShowingStroke = true;
  for (std::size_t i = 0; i < m_apModifiers.size(); ++i) {
    m_apModifiers[i]->setChecked((*m_pSelKeyDeck & kModifierBits[i]) != 0);
  }
  const std::uint16_t nVk = KeyStrokeVirtualKey(*m_pSelKeyDeck);
  m_fixedKeyGroup.setExclusive(false);
  for (std::size_t i = 0; i < m_apFixedKeys.size(); ++i) m_apFixedKeys[i]->setChecked(nVk == kFixedKeys[i]);
  m_fixedKeyGroup.setExclusive(true);
  m_blShowingStroke = false;
}

void CKeyPanel::UpdateKeyButtons() {
  const bool blPause = m_pSelKeyDeck != nullptr && m_pSelKeyFile != nullptr &&
                       KeyStrokeVirtualKey(*m_pSelKeyDeck) != 0 && KeyStrokeVirtualKey(*m_pSelKeyFile) != 0;
  m_pause.setEnabled(blPause);
  m_clear.setEnabled((blPause && !m_blLabelFocus) || (m_blLabelFocus && !m_labelBox.text().isEmpty()));
}

void CKeyPanel::SetKeyOfSlots(std::uint16_t nVk) {
  *m_pSelKeyDeck = WithKey(*m_pSelKeyDeck, nVk);
  *m_pSelKeyFile = WithKey(*m_pSelKeyFile, nVk);
}

bool CKeyPanel::CaptureKey(std::uint16_t nVk, bool blShift) {
  if (m_pSelKeyDeck == nullptr || nVk == kVkShift || nVk == kVkControl || nVk == kVkMenu) {
    return false;
  }
  if (nVk == kVkF1 || nVk == kVkF10) {
    // Elsewhere a help request and the window menu; in the list with a row, a key.
    SetKeyOfSlots(nVk);
    CommitKey();
    return true;
  }
  if (nVk == kVkDelete && blShift) {
    DeleteKey();
    return true;
  }
  // Shift+Space makes a stroke that presses only its own modifiers.
  const std::uint16_t nNewKey =
      nVk == kVkSpace && blShift ? ModifierKeyOf(*m_pSelKeyDeck) : static_cast<std::uint16_t>(nVk & 0xFF);
  SetKeyOfSlots(nNewKey);
  FillKeys();
  SetModified(true);
  m_keyList.setFocus();
  SelectKeyRow(m_nSelKey);
  OnSelectKey();
  return true;
}

void CKeyPanel::CommitKey() {
  if (m_pSelKeyDeck == nullptr) {
    return;
  }
  if (KeyStrokeVirtualKey(*m_pSelKeyDeck) == 0) {
    SetKeyOfSlots(ModifierKeyOf(*m_pSelKeyDeck));
  }
  FillKeys();
  m_keyList.setFocus();
  SelectKeyRow(m_nSelKey);
  if (QListWidgetItem* pItem = m_keyList.item(m_nSelKey)) {
    pItem->setText(QString::fromStdString(FormatKeyStroke(*m_pSelKeyDeck, m_language)));
  }
  UpdateKeyButtons();
  SetModified(true);
}

void CKeyPanel::DeleteKey() {
  if (m_pSelDeck == nullptr) {
    return;
  }
  std::array<KeyStroke, kKeysPerCommand> strokes{};
  for (int i = 0; i < kKeysPerCommand; ++i) {
    if (i < m_nSelKey) {
      strokes[static_cast<std::size_t>(i)] = m_pSelDeck->keys[i];
    } else if (i + 1 < kKeysPerCommand) {
      strokes[static_cast<std::size_t>(i)] = m_pSelDeck->keys[i + 1];
    }
  }
  std::memcpy(m_pSelDeck->keys, strokes.data(), sizeof m_pSelDeck->keys);
  std::memcpy(m_pSelFile->keys, strokes.data(), sizeof m_pSelFile->keys);
  FillKeys();
  SetModified(true);
  m_keyList.setFocus();
}

void CKeyPanel::OnClear() {
  if (m_blLabelFocus) {
    m_labelBox.setText(QString());
    return;
  }
  if (m_pSelKeyDeck == nullptr) {
    return;
  }
  DeleteKey();
  SelectKeyRow(m_nSelKey);
  OnSelectKey();
  if ((*m_pSelKeyDeck & kStrokeBits) == 0 && (*m_pSelKeyFile & kStrokeBits) == 0) {
    m_clear.setEnabled(false);
  }
}

void CKeyPanel::OnLabelChange() {
  if (m_blSettingLabel) {
    return;
  }
  const QString sText = m_labelBox.text();
  if (m_pSelDeck != nullptr && sText != DecodeLabel(m_pSelFile->szLabel)) {
    const TableLabel label = EditedLabelToTable(m_sShownLabel, sText, m_codePage);
    if (!label.blOk) {
      // Never stored as something else: the box goes back to what is stored.
      m_sShownLabel = FieldText(m_pSelDeck->szLabel);
      m_blSettingLabel = true;
      m_labelBox.setText(LabelFromTable(m_sShownLabel, m_codePage));
      m_blSettingLabel = false;
      QMessageBox box(QMessageBox::Warning, QString::fromUtf8(LoadString(kIdsProductName, m_language)),
                      RefusedLabelMessage(m_language, m_codePage, label.chRefused), QMessageBox::Ok, this);
      RunDialog(box);
      UpdateKeyButtons();
      FollowPendingApplication();
      return;
    }
    m_sShownLabel = label.sBytes;
    if (label.blCut) {
      // What the box shows is what is stored: a text longer than the field is cut there.
      m_blSettingLabel = true;
      m_labelBox.setText(LabelFromTable(label.sBytes, m_codePage));
      m_blSettingLabel = false;
    }
    if (!TableLabelEquals(m_pSelFile->szLabel, label.sBytes)) {
      WriteTableLabel(m_pSelDeck->szLabel, label.sBytes);
      WriteTableLabel(m_pSelFile->szLabel, label.sBytes);
      const int k = static_cast<int>(m_nSelControl - kFirstProgramCode);
      const QString sStored = DecodeLabel(m_pSelDeck->szLabel);
      m_apLabelFields[static_cast<std::size_t>(k)]->SetLabelText(sStored);
      m_picture.SetProgramLabel(k, sStored);
      SetModified(true);
    }
  }
  if (!m_labelBox.text().isEmpty()) {
    m_clear.setEnabled(true);
  }
}

void CKeyPanel::OnPause() {
  if (m_pSelKeyDeck == nullptr) {
    return;
  }
  CTimeIntervalDialog dialog(m_language, KeyStrokePause(*m_pSelKeyDeck) * 0.1, this);
  const bool blOk = RunDialog(dialog);
  if (!blOk || m_pSelKeyDeck == nullptr) {
    FollowPendingApplication();
    return;
  }
  SetModified(true);
  const std::uint32_t dwUnits = PauseUnitsFromSeconds(dialog.Value());
  for (KeyStroke* pSlot : {m_pSelKeyDeck, m_pSelKeyFile}) {
    *pSlot = (*pSlot & ~KS_PAUSE_MASK) | (dwUnits << KS_PAUSE_SHIFT);
  }
  if (QListWidgetItem* pItem = m_keyList.item(m_nSelKey)) {
    pItem->setText(QString::fromStdString(FormatKeyStroke(*m_pSelKeyDeck, m_language)));
  }
  m_keyList.setFocus();
  SelectKeyRow(m_nSelKey);
  FollowPendingApplication();
}

void CKeyPanel::OnModifier(std::uint32_t dwBit, bool blChecked) {
  if (m_pSelKeyDeck == nullptr) {
    return;
  }
  for (KeyStroke* pSlot : {m_pSelKeyDeck, m_pSelKeyFile}) {
    *pSlot = blChecked ? (*pSlot | dwBit) : (*pSlot & ~dwBit);
  }
  CommitKey();
}

void CKeyPanel::OnFixedKey(std::uint16_t nVk) {
  if (m_pSelKeyDeck == nullptr) {
    return;
  }
  SetKeyOfSlots(nVk);
  CommitKey();
}

bool CKeyPanel::eventFilter(QObject* pObject, QEvent* pEvent) {
  if (pObject == &m_labelBox && pEvent->type() == QEvent::FocusIn) {
    m_blLabelFocus = true;
    m_clear.setEnabled(true);
    UpdateKeyButtons();
  }
  return QWidget::eventFilter(pObject, pEvent);
}

}  // namespace orb
