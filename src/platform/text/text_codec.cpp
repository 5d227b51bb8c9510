#include "platform/text/text_codec.h"

#include <iconv.h>

#include <cerrno>

#include "base/write_log.h"

namespace orb::platform {
namespace {

const char* IconvName(CodePage codePage) {
  return codePage == CodePage::Cp932 ? "CP932" : "CP1252";
}

// One conversion descriptor for one call: iconv_t keeps shift state and is not safe to
// share between threads, and these calls are far from any hot path.
class IconvHandle final {
 public:
  IconvHandle(const char* pTo, const char* pFrom) : m_h(iconv_open(pTo, pFrom)) {
    if (!IsOpen()) {
      WriteLog("TextCodec: iconv_open(%s, %s) failed : %d\r\n", pTo, pFrom, errno);
    }
  }
  ~IconvHandle() {
    if (IsOpen()) {
      iconv_close(m_h);
    }
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool IsOpen() const { return m_h != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return m_h; }

 private:
  iconv_t m_h;
};

// Length of the well-formed UTF-8 sequence at the start of `text`, 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  std::size_t nLength = 0;
  unsigned nMin = 0;
  if (b0 < 0x80) {
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    nLength = 2;
    nMin = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    nLength = 3;
    nMin = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    nLength = 4;
    nMin = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < nLength) {
    return 0;
  }
  unsigned nCode = b0 & (0x7F >> nLength);
  for (std::size_t i = 1; i < nLength; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) != 0x80) {
      return 0;
    }
    nCode = (nCode << 6) | (b & 0x3F);
  }
  if (nCode < nMin || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF)) {
    return 0;
  }
  return nLength;
}

enum class OnInvalid { Fail, ReplaceByte, ReplaceUtf8Char };

// Converts `in` completely. On a sequence iconv rejects: Fail stops with false;
// ReplaceByte appends `replacement` and skips one input byte; ReplaceUtf8Char skips one
// whole UTF-8 character when there is one there (else one byte) and appends `replacement`.
bool Convert(const char* pTo, const char* pFrom, std::string_view in, std::string& out, OnInvalid onInvalid,
             std::string_view replacement) {
  out.clear();
  IconvHandle handle(pTo, pFrom);
  if (!handle.IsOpen()) {
    return false;
  }
  std::string buffer(in.size() * 4 + 16, '\0');
  std::size_t nDone = 0;
  while (nDone < in.size()) {
    char* pIn = const_cast<char*>(in.data() + nDone);  // iconv's signature; input is not written
    std::size_t nInLeft = in.size() - nDone;
    char* pOut = buffer.data();
    std::size_t nOutLeft = buffer.size();
    const std::size_t nResult = iconv(handle.Get(), &pIn, &nInLeft, &pOut, &nOutLeft);
    const int nError = errno;
    out.append(buffer.data(), buffer.size() - nOutLeft);
    nDone = in.size() - nInLeft;
    if (nResult != static_cast<std::size_t>(-1)) {
      break;
    }
    if (nError == E2BIG) {
      continue;  // the part converted so far is kept; go on with a fresh buffer
    }
    // EILSEQ (no counterpart or malformed) or EINVAL (cut off at the end of the input).
    if (onInvalid == OnInvalid::Fail) {
      return false;
    }
    std::size_t nSkip = 1;
    if (onInvalid == OnInvalid::ReplaceUtf8Char) {
      const std::size_t nChar = Utf8SequenceLength(in.substr(nDone));
      nSkip = nChar == 0 ? 1 : nChar;
    }
    out.append(replacement);
    nDone += nSkip;
    iconv(handle.Get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  }
  // Flush any pending shift sequence (none for these code pages, but harmless).
  char* pOut = buffer.data();
  std::size_t nOutLeft = buffer.size();
  iconv(handle.Get(), nullptr, nullptr, &pOut, &nOutLeft);
  out.append(buffer.data(), buffer.size() - nOutLeft);
  return true;
}

}  // namespace

bool DecodeText(CodePage codePage, std::string_view bytes, std::string& out) {
  return Convert("UTF-8", IconvName(codePage), bytes, out, OnInvalid::Fail, {});
}

bool EncodeText(CodePage codePage, std::string_view utf8, std::string& out) {
  return Convert(IconvName(codePage), "UTF-8", utf8, out, OnInvalid::Fail, {});
}

std::string DecodeTextLossy(CodePage codePage, std::string_view bytes) {
  std::string out;
  Convert("UTF-8", IconvName(codePage), bytes, out, OnInvalid::ReplaceByte, "\xEF\xBF\xBD");
  return out;
}

std::string EncodeTextLossy(CodePage codePage, std::string_view utf8) {
  std::string out;
  Convert(IconvName(codePage), "UTF-8", utf8, out, OnInvalid::ReplaceUtf8Char, "?");
  return out;
}

bool IsLeadByte(CodePage codePage, std::uint8_t byte) {
  return codePage == CodePage::Cp932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

std::size_t CutTextLength(CodePage codePage, std::string_view bytes, std::size_t nMaxBytes) {
  std::size_t nPos = 0;
  while (nPos < bytes.size()) {
    // A lead byte with nothing after it is a broken character of one byte.
    const std::size_t nChar =
        (IsLeadByte(codePage, static_cast<std::uint8_t>(bytes[nPos])) && nPos + 1 < bytes.size()) ? 2 : 1;
    if (nPos + nChar > nMaxBytes) {
      break;
    }
    nPos += nChar;
  }
  return nPos;
}

}  // namespace orb::platform
