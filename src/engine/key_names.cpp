#include "engine/key_names.h"

#include <cstdio>
#include <cstring>

#include "platform/keys/virtual_keys.h"

namespace orb {
namespace {

constexpr int IDS_PAUSE = 139;
constexpr int IDS_SHIFT = 2004;
constexpr int IDS_CTRL = 2005;
constexpr int IDS_ALT = 2006;

constexpr std::uint8_t VK_SHIFT = 16;
constexpr std::uint8_t VK_CONTROL = 17;
constexpr std::uint8_t VK_MENU = 18;

// Keys named by a string of the table, by virtual-key code.
int KeyNameStringId(std::uint8_t nVk) {
  switch (nVk) {
    case 8: return 2000;   // BackSpace
    case 9: return 2001;   // Tab
    case 12: return 2002;  // Clear
    case 13: return 2003;  // Enter
    case 19: return 2007;  // Pause
    // CapsLock has a string but no character: named, so that it neither shows as nothing
    // nor cuts the key list short.
    case 20: return 2008;
    case 27: return 2009;  // Esc
    case 32: return 2010;  // Space
    case 33: return 2011;  // PageUp
    case 34: return 2012;  // PageDown
    case 35: return 2013;  // End
    case 36: return 2014;  // Home
    case 37: return 2015;  // Left
    case 38: return 2016;  // Up
    case 39: return 2017;  // Right
    case 40: return 2018;  // Down
    case 41: return 2019;  // Select
    case 43: return 2020;  // Execute
    case 44: return 2021;  // PrintScreen
    case 45: return 2022;  // Insert
    case 46: return 2023;  // Delete
    case 47: return 2024;  // Help
    case 91:
    case 92: return 2031;  // Windows keys
    case 93: return 2032;  // context menu key
    case 106: return 2025;  // keypad *
    case 107: return 2026;  // keypad +
    case 108: return 2027;  // keypad separator
    case 109: return 2028;  // keypad -
    case 110: return 2029;  // keypad .
    case 111: return 2030;  // keypad /
    default: return 0;
  }
}

void AppendKeyName(std::string& text, std::uint8_t nVk, UiLanguage language) {
  if (const int nId = KeyNameStringId(nVk); nId != 0) {
    text += LoadString(nId, language);
  } else if ((nVk >= '0' && nVk <= '9') || (nVk >= 'A' && nVk <= 'Z')) {
    text += static_cast<char>(nVk);
  } else if (nVk >= 96 && nVk <= 105) {
    text += static_cast<char>(nVk - 48);  // keypad digits
  } else if (nVk >= 112 && nVk <= 135) {
    text += "F" + std::to_string(nVk - 111);
  } else if (const char ch = platform::MapVirtualKeyToChar(nVk); ch > ' ' && ch < 0x7F) {
    text += ch;
  } else if (const platform::VirtualKeyInfo* pInfo = platform::FindVirtualKey(nVk)) {
    // A real key that types no character (NumLock, media keys): its own name rather
    // than nothing, which would hide it and every stroke after it in the key list.
    text += pInfo->pName;
  }
}

}  // namespace

std::string FormatKeyStroke(KeyStroke keyStroke) { return FormatKeyStroke(keyStroke, CurrentUiLanguage()); }

std::string FormatKeyStroke(KeyStroke keyStroke, UiLanguage language) {
  const std::uint16_t nKey = KeyStrokeVirtualKey(keyStroke);
  const bool blAlt = (keyStroke & KS_ALT) != 0;
  const bool blCtrl = (keyStroke & KS_CTRL) != 0;
  const bool blShift = (keyStroke & KS_SHIFT) != 0;
  std::string text;
  if (blAlt) {
    text += LoadString(IDS_ALT, language);
    if (!(nKey == VK_MENU && !blCtrl && !blShift)) {
      text += '+';
    }
  }
  if (blCtrl) {
    text += LoadString(IDS_CTRL, language);
    if (nKey != VK_CONTROL && nKey != VK_MENU) {
      text += '+';
    } else if (blShift) {
      text += '+';
    }
  }
  if (blShift) {
    text += LoadString(IDS_SHIFT, language);
    if (nKey != VK_SHIFT && nKey != VK_CONTROL && nKey != VK_MENU) {
      text += '+';
    }
  }
  // The name goes by the low byte, as the key that is sent.
  const auto nVk = static_cast<std::uint8_t>(keyStroke & 0xFF);
  if (nVk != VK_SHIFT && nVk != VK_CONTROL && nVk != VK_MENU) {
    AppendKeyName(text, nVk, language);
  }
  if (const unsigned nPause = KeyStrokePause(keyStroke); nPause != 0) {
    char szPause[64];
    std::snprintf(szPause, sizeof szPause, LoadString(IDS_PAUSE, language), nPause * 0.1);
    text += szPause;
  }
  return text;
}

void FillKeyList(KeyListView& list, const KeyCommand* pCommand, bool blEnabled) {
  FillKeyList(list, pCommand, blEnabled, CurrentUiLanguage());
}

void FillKeyList(KeyListView& list, const KeyCommand* pCommand, bool blEnabled, UiLanguage language) {
  list.Clear();
  if (!blEnabled || pCommand == nullptr) {
    return;
  }
  KeyStroke keys[kKeysPerCommand];
  std::memcpy(keys, reinterpret_cast<const char*>(pCommand) + offsetof(KeyCommand, keys), sizeof keys);
  for (int i = 0; i < kKeysPerCommand; ++i) {
    const std::string text = FormatKeyStroke(keys[i], language);
    list.InsertRow(i, text);
    if (text.empty()) {
      return;
    }
  }
}

}  // namespace orb
