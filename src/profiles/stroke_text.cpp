#include "profiles/stroke_text.h"

#include <cstdio>
#include <vector>

#include "base/ascii_text.h"
#include "platform/keys/virtual_keys.h"

namespace orb {
namespace {

constexpr std::uint32_t kUnusedStrokeBits = 0xF0000000u;
constexpr unsigned kMaxPause = KS_PAUSE_MASK >> KS_PAUSE_SHIFT;  // 511 tenths

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') {
    return ch - '0';
  }
  ch = AsciiLower(ch);
  return (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10 : -1;
}

bool ParseHexStroke(std::string_view word, KeyStroke& stroke, std::string& error) {
  std::string_view digits = word.substr(2);
  if (digits.empty() || digits.size() > 8) {
    error = "'" + std::string(word) + "' is not a 32-bit hex value (0x followed by 1-8 hex digits)";
    return false;
  }
  std::uint32_t dwValue = 0;
  for (char ch : digits) {
    const int nDigit = HexDigit(ch);
    if (nDigit < 0) {
      error = "'" + std::string(word) + "' is not a hex value";
      return false;
    }
    dwValue = (dwValue << 4) | static_cast<std::uint32_t>(nDigit);
  }
  stroke = dwValue;
  return true;
}

// Seconds with at most one decimal, as tenths.
bool ParsePause(std::string_view word, unsigned& nTenths, std::string& error) {
  unsigned nWhole = 0;
  std::size_t nPos = 0;
  while (nPos < word.size() && word[nPos] >= '0' && word[nPos] <= '9') {
    if (nWhole <= kMaxPause) {  // beyond that the value is too long anyway; no overflow
      nWhole = nWhole * 10 + static_cast<unsigned>(word[nPos] - '0');
    }
    ++nPos;
  }
  unsigned nFraction = 0;
  bool blValid = nPos > 0;
  if (blValid && nPos < word.size()) {
    blValid = word[nPos] == '.' && nPos + 2 == word.size() && word[nPos + 1] >= '0' && word[nPos + 1] <= '9';
    if (blValid) {
      nFraction = static_cast<unsigned>(word[nPos + 1] - '0');
    }
  }
  if (!blValid) {
    error = "pause '" + std::string(word) + "' is not a number of seconds with at most one decimal";
    return false;
  }
  nTenths = nWhole * 10 + nFraction;
  if (nWhole > kMaxPause || nTenths > kMaxPause) {
    error = "pause " + std::string(word) + " is longer than 51.1 seconds";
    return false;
  }
  return true;
}

}  // namespace

bool KeyStrokeHasName(KeyStroke stroke) {
  if ((stroke & kUnusedStrokeBits) != 0) {
    return false;
  }
  const std::uint16_t nVk = KeyStrokeVirtualKey(stroke);
  if (nVk == 0) {
    return false;
  }
  const platform::VirtualKeyInfo* pInfo = platform::FindVirtualKey(nVk);
  // The name must lead back to this very code, or the text would change the stroke.
  return pInfo != nullptr && platform::FindVirtualKeyByName(pInfo->pName) == pInfo;
}

std::string KeyStrokeToText(KeyStroke stroke) {
  if (!KeyStrokeHasName(stroke)) {
    char szHex[16];
    std::snprintf(szHex, sizeof szHex, "0x%08X", static_cast<unsigned>(stroke));
    return szHex;
  }
  std::string text;
  if ((stroke & KS_ALT) != 0) {
    text += "Alt+";
  }
  if ((stroke & KS_CTRL) != 0) {
    text += "Ctrl+";
  }
  if ((stroke & KS_SHIFT) != 0) {
    text += "Shift+";
  }
  text += platform::FindVirtualKey(KeyStrokeVirtualKey(stroke))->pName;
  const unsigned nPause = KeyStrokePause(stroke);
  if (nPause != 0) {
    text += " pause " + std::to_string(nPause / 10) + "." + std::to_string(nPause % 10);
  }
  return text;
}

bool ParseKeyStrokeText(std::string_view text, KeyStroke& stroke, std::string& error) {
  stroke = 0;
  const std::vector<std::string_view> words = SplitWords(text);
  if (words.empty()) {
    return true;
  }
  if (words.size() == 1 && words[0].size() > 2 && words[0][0] == '0' && AsciiLower(words[0][1]) == 'x') {
    return ParseHexStroke(words[0], stroke, error);
  }
  unsigned nPause = 0;
  if (words.size() == 3 && EqualsIgnoringCase(words[1], "pause")) {
    if (!ParsePause(words[2], nPause, error)) {
      return false;
    }
  } else if (words.size() != 1) {
    error = "'" + std::string(text) + "' is not a key stroke (write e.g. \"Ctrl+Z\" or \"F1 pause 0.1\")";
    return false;
  }

  std::vector<std::string_view> parts;
  std::string_view chord = words[0];
  for (std::size_t nStart = 0;;) {
    const std::size_t nPlus = chord.find('+', nStart);
    parts.push_back(chord.substr(nStart, nPlus == std::string_view::npos ? std::string_view::npos : nPlus - nStart));
    if (nPlus == std::string_view::npos) {
      break;
    }
    nStart = nPlus + 1;
  }
  KeyStroke result = static_cast<KeyStroke>(nPause) << KS_PAUSE_SHIFT;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    std::uint32_t dwModifier = 0;
    if (EqualsIgnoringCase(parts[i], "Alt")) {
      dwModifier = KS_ALT;
    } else if (EqualsIgnoringCase(parts[i], "Ctrl")) {
      dwModifier = KS_CTRL;
    } else if (EqualsIgnoringCase(parts[i], "Shift")) {
      dwModifier = KS_SHIFT;
    } else {
      error = "'" + std::string(parts[i]) + "' in '" + std::string(chord) + "' is not a modifier (Alt, Ctrl or Shift)";
      return false;
    }
    if ((result & dwModifier) != 0) {
      error = "modifier '" + std::string(parts[i]) + "' appears twice in '" + std::string(chord) + "'";
      return false;
    }
    result |= dwModifier;
  }
  const std::string_view keyName = parts.back();
  if (keyName.empty()) {
    error = "'" + std::string(chord) + "' names no key after its modifiers";
    return false;
  }
  const platform::VirtualKeyInfo* pInfo = platform::FindVirtualKeyByName(keyName);
  if (pInfo == nullptr) {
    error = "unknown key name '" + std::string(keyName) + "'";
    return false;
  }
  stroke = result | pInfo->nVk;
  return true;
}

}  // namespace orb
