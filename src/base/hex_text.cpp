#include "base/hex_text.h"

#include <cstdio>

namespace orb {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseHexText(std::string_view text, std::vector<std::uint8_t>* pBytes, std::string* pError) {
  pBytes->clear();
  unsigned nLine = 1;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (c == '\n') ++nLine;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
      ++i;
      continue;
    }
    // One group of digits; "0x" may lead it.
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    std::size_t nDigits = 0;
    int nHigh = 0;
    while (i < text.size() && HexDigit(text[i]) >= 0) {
      if (nDigits % 2 == 0) {
        nHigh = HexDigit(text[i]);
      } else {
        pBytes->push_back(static_cast<std::uint8_t>(nHigh * 16 + HexDigit(text[i])));
      }
      ++nDigits;
      ++i;
    }
    char szWhy[96];
    if (nDigits == 0) {
      std::snprintf(szWhy, sizeof szWhy, "line %u: '%c' is not a hex digit", nLine, i < text.size() ? text[i] : 'x');
      if (pError != nullptr) *pError = szWhy;
      return false;
    }
    if (nDigits % 2 != 0) {
      std::snprintf(szWhy, sizeof szWhy, "line %u: odd number of hex digits", nLine);
      if (pError != nullptr) *pError = szWhy;
      return false;
    }
  }
  return true;
}

std::string FormatHex(const std::uint8_t* pBytes, std::size_t nSize) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string sText;
  sText.reserve(nSize * 3);
  for (std::size_t i = 0; i < nSize; ++i) {
    if (i != 0) sText += ' ';
    sText += kDigits[pBytes[i] >> 4];
    sText += kDigits[pBytes[i] & 15];
  }
  return sText;
}

}  // namespace orb
