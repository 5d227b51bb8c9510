#include "tools/orbctl/play_script.h"

#include <charconv>

#include "base/ascii_text.h"

namespace orb::play {
namespace {

// A whole decimal number within [nMin, nMax]; a leading '-' only when nMin < 0.
bool ParseInt(std::string_view word, long long nMin, long long nMax, long long& nValue) {
  if (word.empty()) {
    return false;
  }
  const auto [pEnd, ec] = std::from_chars(word.data(), word.data() + word.size(), nValue, 10);
  return ec == std::errc() && pEnd == word.data() + word.size() && nValue >= nMin && nValue <= nMax;
}

bool AllDigits(std::string_view word) {
  if (word.empty()) {
    return false;
  }
  for (const char ch : word) {
    if (ch < '0' || ch > '9') {
      return false;
    }
  }
  return true;
}

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') {
    return ch - '0';
  }
  if (ch >= 'a' && ch <= 'f') {
    return ch - 'a' + 10;
  }
  if (ch >= 'A' && ch <= 'F') {
    return ch - 'A' + 10;
  }
  return -1;
}

class LineParser {
 public:
  LineParser(int nLine, std::vector<std::string_view> words, PlayScriptError& error)
      : m_nLine(nLine), m_words(std::move(words)), m_error(error) {}

  bool Parse(std::vector<PlayStep>& steps) {
    const std::string_view command = m_words[0];
    PlayStep step{StepKind::Report, m_nLine, 0, {}, {}};
    if (command == "profile") {
      if (!Arguments(1, 1)) {
        return false;
      }
      const std::string_view arg = m_words[1];
      long long nIndex = 0;
      if (arg == "none") {
        step.kind = StepKind::ProfileNone;
      } else if (AllDigits(arg)) {
        if (!ParseInt(arg, 0, 0xFFFFFFFF, nIndex)) {
          return Fail("profile " + std::string(arg) + ": not a record number");
        }
        step.kind = StepKind::ProfileIndex;
        step.nNumber = static_cast<std::uint32_t>(nIndex);
      } else {
        if (arg.size() > 260) {
          return Fail("profile: the executable name is longer than 260 bytes");
        }
        step.kind = StepKind::ProfileExe;
        step.sText = std::string(arg);
      }
    } else if (command == "self") {
      if (!Arguments(1, 1)) {
        return false;
      }
      if (m_words[1] != "on" && m_words[1] != "off") {
        return Fail("self takes on or off");
      }
      step.kind = StepKind::Self;
      step.nNumber = m_words[1] == "on" ? 1 : 0;
    } else if (command == "button" || command == "buttons" || command == "release") {
      const std::size_t nMin = command == "button" ? 1 : command == "buttons" ? 0 : 0;
      const std::size_t nMax = command == "button" ? 1 : command == "buttons" ? kMaxUsage : 0;
      if (!Arguments(nMin, nMax)) {
        return false;
      }
      std::vector<int> usages;
      for (std::size_t i = 1; i < m_words.size(); ++i) {
        long long nUsage = 0;
        if (!ParseInt(m_words[i], 1, kMaxUsage, nUsage)) {
          return Fail("button usage '" + std::string(m_words[i]) + "' is not 1 to 14");
        }
        usages.push_back(static_cast<int>(nUsage));
      }
      step.report = ButtonReport(usages);
    } else if (command == "wheel") {
      long long nValue = 0;
      if (!Arguments(1, 1)) {
        return false;
      }
      if (!ParseInt(m_words[1], -127, 127, nValue)) {
        return Fail("wheel value '" + std::string(m_words[1]) + "' is not -127 to 127");
      }
      step.report = WheelReport(static_cast<int>(nValue));
    } else if (command == "raw") {
      if (m_words.size() < 2) {
        return Fail("raw needs the report's bytes in hex");
      }
      std::string digits;
      for (std::size_t i = 1; i < m_words.size(); ++i) {
        digits += m_words[i];
      }
      if (digits.size() % 2 != 0) {
        return Fail("raw: an odd number of hex digits");
      }
      if (digits.size() / 2 > kMaxRawReport) {
        return Fail("raw: a report is at most 64 bytes");
      }
      for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int nHigh = HexDigit(digits[i]);
        const int nLow = HexDigit(digits[i + 1]);
        if (nHigh < 0 || nLow < 0) {
          return Fail("raw: '" + digits.substr(i, 2) + "' is not a hex byte");
        }
        step.report.push_back(static_cast<std::uint8_t>(nHigh * 16 + nLow));
      }
    } else if (command == "wait") {
      long long nMs = 0;
      if (!Arguments(1, 1)) {
        return false;
      }
      if (!ParseInt(m_words[1], 0, kMaxWaitMs, nMs)) {
        return Fail("wait '" + std::string(m_words[1]) + "' is not 0 to " + std::to_string(kMaxWaitMs) + " ms");
      }
      step.kind = StepKind::Wait;
      step.nNumber = static_cast<std::uint32_t>(nMs);
    } else if (command == "unplug" || command == "plug") {
      if (!Arguments(0, 0)) {
        return false;
      }
      step.kind = command == "unplug" ? StepKind::Unplug : StepKind::Plug;
    } else {
      return Fail("unknown command '" + std::string(command) + "'");
    }
    steps.push_back(std::move(step));
    return true;
  }

 private:
  bool Arguments(std::size_t nMin, std::size_t nMax) {
    const std::size_t nCount = m_words.size() - 1;
    if (nCount < nMin || nCount > nMax) {
      return Fail(std::string(m_words[0]) + " takes " +
                  (nMin == nMax ? std::to_string(nMin) : std::to_string(nMin) + " to " + std::to_string(nMax)) +
                  (nMax == 1 ? " argument" : " arguments"));
    }
    return true;
  }

  bool Fail(std::string reason) {
    m_error.nLine = m_nLine;
    m_error.sReason = std::move(reason);
    return false;
  }

  int m_nLine;
  std::vector<std::string_view> m_words;
  PlayScriptError& m_error;
};

}  // namespace

bool ParsePlayScript(std::string_view text, std::vector<PlayStep>& steps, PlayScriptError& error) {
  std::uint64_t nTotalMs = 0;
  int nLine = 0;
  std::size_t nPos = 0;
  while (nPos < text.size()) {
    std::size_t nEnd = text.find('\n', nPos);
    if (nEnd == std::string_view::npos) {
      nEnd = text.size();
    }
    std::string_view line = text.substr(nPos, nEnd - nPos);
    nPos = nEnd + 1;
    ++nLine;
    if (const std::size_t nHash = line.find('#'); nHash != std::string_view::npos) {
      line = line.substr(0, nHash);
    }
    std::vector<std::string_view> words = SplitWords(line);
    if (words.empty()) {
      continue;
    }
    if (!LineParser(nLine, std::move(words), error).Parse(steps)) {
      return false;
    }
    if (steps.back().kind == StepKind::Wait) {
      nTotalMs += steps.back().nNumber;
      if (nTotalMs > kMaxScriptMs) {
        error.nLine = nLine;
        error.sReason = "the waits add up to more than " + std::to_string(kMaxScriptMs) +
                        " ms (an hour), the limit for a script";
        return false;
      }
    }
  }
  return true;
}

std::vector<std::uint8_t> ButtonReport(const std::vector<int>& usages) {
  std::vector<std::uint8_t> report{1, 0, 0};
  for (const int nUsage : usages) {
    if (nUsage >= 1 && nUsage <= kMaxUsage) {
      const int nBit = nUsage - 1;
      report[1 + static_cast<std::size_t>(nBit / 8)] |= static_cast<std::uint8_t>(1u << (nBit % 8));
    }
  }
  return report;
}

std::vector<std::uint8_t> WheelReport(int nValue) {
  return {2, static_cast<std::uint8_t>(static_cast<std::int8_t>(nValue))};
}

}  // namespace orb::play
