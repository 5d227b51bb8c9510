#pragma once
// Profile texts are bytes in the Windows code page of the table's language: 1252 for
// English, 932 (Shift-JIS with the Windows extensions) for Japanese. These functions are
// the only place where such bytes meet UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orb::platform {

enum class CodePage : std::uint16_t {
  Cp1252 = 1252,
  Cp932 = 932,
};

// Strict conversions: false (and `out` unspecified) when any byte sequence has no
// counterpart, so a caller can tell a faithful conversion from a lossy one.
bool DecodeText(CodePage codePage, std::string_view bytes, std::string& out);
bool EncodeText(CodePage codePage, std::string_view utf8, std::string& out);

// For display only: every byte that does not convert becomes U+FFFD, one per byte, and
// the rest of the text is still converted. Never fails.
std::string DecodeTextLossy(CodePage codePage, std::string_view bytes);

// For text typed by the user: every character the code page lacks becomes '?' (and
// invalid UTF-8 one '?' per byte). Never fails.
std::string EncodeTextLossy(CodePage codePage, std::string_view utf8);

// True for the first byte of a two-byte character: 0x81-0x9F and 0xE0-0xFC in code page
// 932; never in 1252.
bool IsLeadByte(CodePage codePage, std::uint8_t byte);

// The length of the longest prefix of `bytes` that is at most nMaxBytes long and does
// not end between the two bytes of a double-byte character (labels hold 31 bytes).
std::size_t CutTextLength(CodePage codePage, std::string_view bytes, std::size_t nMaxBytes);

}  // namespace orb::platform
