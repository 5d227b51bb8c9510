#pragma once
// The settings window's key list (control 7): the strokes of the chosen programmable
// button, one row each. Every key pressed in it is first offered to the window as a
// Windows virtual-key code, the unit the profiles store; only a key the window turns
// down gets the list's own handling (an arrow then moves the selection).

#include <cstdint>
#include <functional>
#include <string>

#include <QListWidget>

#include "base/string_table.h"
#include "engine/key_names.h"

class QKeyEvent;

namespace orb {

class CKeyList final : public QListWidget, public KeyListView {
  Q_OBJECT

 public:
  // In the user interface's language (CurrentUiLanguage).
  explicit CKeyList(QWidget* pParent = nullptr);
  explicit CKeyList(UiLanguage language, QWidget* pParent = nullptr);

  // KeyListView. Texts are UTF-8.
  void Clear() override;
  void InsertRow(int nRow, const std::string& sText) override;

  // Every key pressed while the list has the focus, as a Windows virtual-key code, before
  // the list acts on it; true suppresses the list's own action. blShift: Shift held.
  // Not offered: Enter, Tab, Backtab and Esc (they keep their dialog meaning), keys with
  // Alt held (the mnemonics' own), and keys with no virtual-key code.
  std::function<bool(std::uint16_t nVk, bool blShift)> m_captureKey;

 signals:
  void FocusEntered();

 protected:
  bool event(QEvent* pEvent) override;
  void keyPressEvent(QKeyEvent* pEvent) override;
  void focusInEvent(QFocusEvent* pEvent) override;
};

// The virtual key that an X keysym stands for, 0 when none: the virtual-key table's row
// for it, with letters in either case, the left- and right-hand modifier keys folded to
// the generic Shift, Ctrl and Alt (16, 17, 18, as the key list sees them) and the keypad's
// keys without NumLock taken as the keys they then are (KP_Home is Home).
std::uint16_t VirtualKeyFromKeysym(std::uint32_t nKeysym);

// The virtual key of the key at this place on a US keyboard, by its Linux input event
// code (the X keycode less 8); 0 when none. For keys whose symbol names no virtual key,
// such as the digit row of a French layout, which types "&" and "é" unshifted.
std::uint16_t VirtualKeyFromEvdevCode(std::uint16_t nCode);

// The keysym of a Qt key for events without native information (the offscreen platform,
// synthesised events): the unshifted symbol where Qt tells it (Key_A gives 'a'), the
// keypad's symbol when the keypad modifier is set; 0 when there is none.
std::uint32_t KeysymFromQtKey(int nQtKey, Qt::KeyboardModifiers modifiers);

// The virtual key the key list offers for this key press, 0 when it offers none.
std::uint16_t OfferedVirtualKey(const QKeyEvent& event);

}  // namespace orb
