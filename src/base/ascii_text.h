#pragma once
// ASCII-only text helpers for names that come from files and scripts (executable names,
// key names, control names). Bytes above 0x7F are left alone, so a Shift-JIS or UTF-8
// text is never altered by a case change.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

inline constexpr char AsciiUpper(char ch) { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch; }
inline constexpr char AsciiLower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; }
inline constexpr bool IsAsciiSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

inline constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
      return false;
    }
  }
  return true;
}

inline std::string AsciiUpperCopy(std::string_view text) {
  std::string upper(text);
  for (char& ch : upper) {
    ch = AsciiUpper(ch);
  }
  return upper;
}

// The words of a line, separated by runs of white space; views into `text`.
inline std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t nPos = 0;
  while (nPos < text.size()) {
    while (nPos < text.size() && IsAsciiSpace(text[nPos])) {
      ++nPos;
    }
    const std::size_t nStart = nPos;
    while (nPos < text.size() && !IsAsciiSpace(text[nPos])) {
      ++nPos;
    }
    if (nPos > nStart) {
      words.push_back(text.substr(nStart, nPos - nStart));
    }
  }
  return words;
}

}  // namespace orb
