#include "ui/key_list.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QFocusEvent>
#include <QKeyEvent>

#include "platform/keys/virtual_keys.h"

namespace orb {
namespace {

constexpr std::uint16_t kVkShift = 0x10;
constexpr std::uint16_t kVkLeftShift = 0xA0;   // VK_LSHIFT; 0xA1-0xA5 follow in pairs
constexpr std::uint16_t kVkRightMenu = 0xA5;   // VK_RMENU

struct KeysymKey {
  std::uint32_t nKeysym;
  std::uint16_t nVk;
};

// Keysyms that have no row of their own but stand for a key that has one. The keypad's
// keys without NumLock give what Windows gives for them (keypad 5 is VK_CLEAR).
constexpr KeysymKey kKeysymAliases[] = {
    {0xfe03, 0x12},  // ISO_Level3_Shift (AltGr): an Alt key
    {0xfe20, 0x09},  // ISO_Left_Tab
    {0xff80, 0x20},  // KP_Space
    {0xff89, 0x09},  // KP_Tab
    {0xff8d, 0x0D},  // KP_Enter
    {0xff95, 0x24},  // KP_Home
    {0xff96, 0x25},  // KP_Left
    {0xff97, 0x26},  // KP_Up
    {0xff98, 0x27},  // KP_Right
    {0xff99, 0x28},  // KP_Down
    {0xff9a, 0x21},  // KP_Prior
    {0xff9b, 0x22},  // KP_Next
    {0xff9c, 0x23},  // KP_End
    {0xff9d, 0x0C},  // KP_Begin
    {0xff9e, 0x2D},  // KP_Insert
    {0xff9f, 0x2E},  // KP_Delete
};

// Pairs of (key, virtual key) from the table, ascending by key and, for a key that several
// rows share (Shift_L is VK_SHIFT and VK_LSHIFT), by code, so the first match is the
// generic row.
using ReverseIndex = std::vector<std::pair<std::uint32_t, std::uint16_t>>;

template <typename Field>
ReverseIndex BuildReverseIndex(Field field) {
  ReverseIndex index;
  for (const platform::VirtualKeyInfo& info : platform::AllVirtualKeys()) {
    if (const std::uint32_t nKey = field(info); nKey != 0) {
      index.emplace_back(nKey, info.nVk);
    }
  }
  std::stable_sort(index.begin(), index.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return index;
}

std::uint16_t Lookup(const ReverseIndex& index, std::uint32_t nKey) {
  const auto it = std::lower_bound(index.begin(), index.end(), nKey,
                                   [](const auto& entry, std::uint32_t n) { return entry.first < n; });
  return (it != index.end() && it->first == nKey) ? it->second : 0;
}

// The list box of the platform this mirrors reports Shift, Ctrl and Alt as the generic
// codes whichever hand's key it was.
std::uint16_t Generic(std::uint16_t nVk) {
  if (nVk >= kVkLeftShift && nVk <= kVkRightMenu) {
    return static_cast<std::uint16_t>(kVkShift + (nVk - kVkLeftShift) / 2);
  }
  return nVk;
}

bool IsKeypadKeysym(std::uint32_t nKeysym) { return nKeysym >= 0xff80 && nKeysym <= 0xffbd; }
bool IsLetterKeysym(std::uint32_t nKeysym) {
  return (nKeysym >= 'a' && nKeysym <= 'z') || (nKeysym >= 'A' && nKeysym <= 'Z');
}

// Keysyms of Qt's special keys, for events that come without native information.
constexpr std::pair<int, std::uint32_t> kQtSpecialKeys[] = {
    {Qt::Key_Escape, 0xff1b},    {Qt::Key_Tab, 0xff09},       {Qt::Key_Backtab, 0xfe20},
    {Qt::Key_Backspace, 0xff08}, {Qt::Key_Return, 0xff0d},    {Qt::Key_Enter, 0xff8d},
    {Qt::Key_Insert, 0xff63},    {Qt::Key_Delete, 0xffff},    {Qt::Key_Pause, 0xff13},
    {Qt::Key_Print, 0xff61},     {Qt::Key_Clear, 0xff0b},     {Qt::Key_Home, 0xff50},
    {Qt::Key_End, 0xff57},       {Qt::Key_Left, 0xff51},      {Qt::Key_Up, 0xff52},
    {Qt::Key_Right, 0xff53},     {Qt::Key_Down, 0xff54},      {Qt::Key_PageUp, 0xff55},
    {Qt::Key_PageDown, 0xff56},  {Qt::Key_Shift, 0xffe1},     {Qt::Key_Control, 0xffe3},
    {Qt::Key_Alt, 0xffe9},       {Qt::Key_AltGr, 0xfe03},     {Qt::Key_CapsLock, 0xffe5},
    {Qt::Key_NumLock, 0xff7f},   {Qt::Key_ScrollLock, 0xff14}, {Qt::Key_Super_L, 0xffeb},
    {Qt::Key_Super_R, 0xffec},   {Qt::Key_Menu, 0xff67},
};

// The same keys from the keypad: digits and operators as the keypad's own symbols.
std::uint32_t KeypadKeysym(int nQtKey) {
  if (nQtKey >= Qt::Key_0 && nQtKey <= Qt::Key_9) {
    return 0xffb0 + static_cast<std::uint32_t>(nQtKey - Qt::Key_0);
  }
  switch (nQtKey) {
    case Qt::Key_Asterisk: return 0xffaa;
    case Qt::Key_Plus: return 0xffab;
    case Qt::Key_Comma: return 0xffac;
    case Qt::Key_Minus: return 0xffad;
    case Qt::Key_Period: return 0xffae;
    case Qt::Key_Slash: return 0xffaf;
    default: return 0;
  }
}

// Level 1 of the pressed key in the keyboard group of the event: the symbol the key types
// without Shift, so Shift+1 is the key "1" and not "!". 0 when the display cannot tell
// (no X display). Defined at the end of the file, away from the Qt code, because the X
// headers define macros (KeyPress, FocusIn, None) that clash with Qt's names.
std::uint32_t UnshiftedKeysym(std::uint32_t nKeycode, std::uint32_t nState);

// The virtual key of a key press. With native information the key's own symbols decide,
// then its place; without, Qt's key code.
std::uint16_t VirtualKeyOfEvent(const QKeyEvent& event) {
  const std::uint32_t nKeycode = event.nativeScanCode();
  const std::uint32_t nSym = event.nativeVirtualKey();
  if (nKeycode == 0 && nSym == 0) {
    return VirtualKeyFromKeysym(KeysymFromQtKey(event.key(), event.modifiers()));
  }
  // The keypad as it types now, so NumLock counts: KP_7 is VK_NUMPAD7, KP_Home is Home.
  if (IsKeypadKeysym(nSym)) {
    if (const std::uint16_t nVk = VirtualKeyFromKeysym(nSym); nVk != 0) {
      return nVk;
    }
  }
  const std::uint32_t nLevel1 = UnshiftedKeysym(nKeycode, event.nativeModifiers());
  if (nLevel1 != 0) {
    if (const std::uint16_t nVk = VirtualKeyFromKeysym(nLevel1); nVk != 0) {
      return nVk;
    }
  } else if (!(event.modifiers() & Qt::ShiftModifier) || IsLetterKeysym(nSym)) {
    // Without level 1, a shifted symbol may name another key ("<" is Shift+comma on a
    // US keyboard but a key of its own on many others), so it is trusted only unshifted.
    if (const std::uint16_t nVk = VirtualKeyFromKeysym(nSym); nVk != 0) {
      return nVk;
    }
  }
  // X keycodes are the kernel's input codes plus 8 (evdev keycodes, as Xorg, Xvfb and
  // Xwayland use them), so the key's place is known even when its symbol names nothing.
  if (nKeycode >= 8) {
    if (const std::uint16_t nVk = VirtualKeyFromEvdevCode(static_cast<std::uint16_t>(nKeycode - 8)); nVk != 0) {
      return nVk;
    }
  }
  return nLevel1 != 0 ? 0 : VirtualKeyFromKeysym(nSym);
}

}  // namespace

std::uint16_t VirtualKeyFromKeysym(std::uint32_t nKeysym) {
  static const ReverseIndex s_index = BuildReverseIndex([](const platform::VirtualKeyInfo& info) { return info.nKeysym; });
  if (nKeysym >= 'A' && nKeysym <= 'Z') {
    nKeysym += 'a' - 'A';  // the table's rows hold the lowercase symbols
  }
  if (const std::uint16_t nVk = Lookup(s_index, nKeysym); nVk != 0) {
    return Generic(nVk);
  }
  for (const KeysymKey& alias : kKeysymAliases) {
    if (alias.nKeysym == nKeysym) {
      return alias.nVk;
    }
  }
  return 0;
}

std::uint16_t VirtualKeyFromEvdevCode(std::uint16_t nCode) {
  static const ReverseIndex s_index =
      BuildReverseIndex([](const platform::VirtualKeyInfo& info) { return std::uint32_t{info.nEvdevCode}; });
  return nCode == 0 ? 0 : Generic(Lookup(s_index, nCode));
}

std::uint32_t KeysymFromQtKey(int nQtKey, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::KeypadModifier) {
    if (const std::uint32_t nSym = KeypadKeysym(nQtKey); nSym != 0) {
      return nSym;
    }
  }
  if (nQtKey >= Qt::Key_A && nQtKey <= Qt::Key_Z) {
    return static_cast<std::uint32_t>(nQtKey - Qt::Key_A) + 'a';
  }
  // Qt's printable keys are their Latin-1 codes, as are the keysyms of those characters.
  if ((nQtKey >= 0x20 && nQtKey <= 0x7e) || (nQtKey >= 0xa0 && nQtKey <= 0xff)) {
    return static_cast<std::uint32_t>(nQtKey);
  }
  if (nQtKey >= Qt::Key_F1 && nQtKey <= Qt::Key_F35) {
    return 0xffbe + static_cast<std::uint32_t>(nQtKey - Qt::Key_F1);
  }
  for (const auto& [nKey, nSym] : kQtSpecialKeys) {
    if (nKey == nQtKey) {
      return nSym;
    }
  }
  return 0;
}

std::uint16_t OfferedVirtualKey(const QKeyEvent& event) {
  const int nKey = event.key();
  switch (nKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
      return 0;  // the dialog's: OK, next control, Cancel
    default:
      break;
  }
  // The Alt key itself comes with the Alt modifier already set; it is offered so the
  // window can turn it down like Shift and Ctrl.
  const bool blAltKey = nKey == Qt::Key_Alt || nKey == Qt::Key_AltGr;
  if (!blAltKey && (event.modifiers() & Qt::AltModifier)) {
    return 0;
  }
  return VirtualKeyOfEvent(event);
}

CKeyList::CKeyList(QWidget* pParent) : CKeyList(CurrentUiLanguage(), pParent) {}

CKeyList::CKeyList(UiLanguage language, QWidget* pParent) : QListWidget(pParent) {
  setObjectName(QStringLiteral("Control7"));
  setAccessibleName(language == UiLanguage::Japanese ? QStringLiteral("キー操作") : QStringLiteral("Key strokes"));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);  // rows stay at the index they were inserted at
}

void CKeyList::Clear() { clear(); }

void CKeyList::InsertRow(int nRow, const std::string& sText) {
  insertItem(nRow, QString::fromStdString(sText));
}

// The keys are taken in keyPressEvent, which the list's own handling is (the arrows, the
// type-ahead search), so the window sees each key first and the list acts only on those
// it turns down; an event filter would do the same from outside for no gain. event() is
// needed as well for the shortcut check that comes before every key press.
bool CKeyList::event(QEvent* pEvent) {
  if (pEvent->type() == QEvent::ShortcutOverride && m_captureKey) {
    auto* pKey = static_cast<QKeyEvent*>(pEvent);
    // A key the window may take must reach the list as a key press: otherwise a shortcut
    // of the window (a help action on F1, Delete or Space bound to a button) would take
    // it first, and the list would never see it.
    if (OfferedVirtualKey(*pKey) != 0) {
      pKey->accept();
      return true;
    }
  }
  return QListWidget::event(pEvent);
}

void CKeyList::keyPressEvent(QKeyEvent* pEvent) {
  if (m_captureKey) {
    const std::uint16_t nVk = OfferedVirtualKey(*pEvent);
    if (nVk != 0 && m_captureKey(nVk, (pEvent->modifiers() & Qt::ShiftModifier) != 0)) {
      pEvent->accept();
      return;
    }
  }
  QListWidget::keyPressEvent(pEvent);
}

void CKeyList::focusInEvent(QFocusEvent* pEvent) {
  QListWidget::focusInEvent(pEvent);
  emit FocusEntered();
}

}  // namespace orb

// ---- X11 ------------------------------------------------------------------------------
// Last in the file: the X headers' macros must not meet the Qt code above.

#if ORB_KEY_LIST_X11
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include "base/write_log.h"

// Xlib.h before XKBlib.h, which needs its types.
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#endif

namespace orb {
namespace {

std::uint32_t UnshiftedKeysym([[maybe_unused]] std::uint32_t nKeycode, [[maybe_unused]] std::uint32_t nState) {
#if ORB_KEY_LIST_X11 && QT_CONFIG(xcb)
  auto* pX11 = qGuiApp == nullptr ? nullptr : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  Display* pDisplay = pX11 == nullptr ? nullptr : pX11->display();
  if (pDisplay == nullptr || nKeycode < 8 || nKeycode > 255) {
    return 0;
  }
  // Asked anew for each key: Qt reads the connection's events, so Xlib never learns of a
  // new keymap (setxkbmap) and a kept copy would go stale. One round trip per key press.
  XkbDescPtr pXkb = XkbGetMap(pDisplay, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
  if (pXkb == nullptr) {
    WriteLog("CKeyList: XkbGetMap failed for keycode %u\r\n", nKeycode);
    return 0;
  }
  // No modifier but the event's group (bits 13-14 of its state): level 1 of the layout
  // in use. XkbTranslateKeyCode wraps a group the key lacks as the keymap says.
  unsigned int nModsUsed = 0;
  KeySym keysym = NoSymbol;
  const Bool blFound = XkbTranslateKeyCode(pXkb, static_cast<KeyCode>(nKeycode),
                                           XkbBuildCoreState(0, XkbGroupForCoreState(nState)), &nModsUsed, &keysym);
  XkbFreeKeyboard(pXkb, 0, True);
  return blFound ? static_cast<std::uint32_t>(keysym) : 0;
#else
  return 0;
#endif
}

}  // namespace
}  // namespace orb
