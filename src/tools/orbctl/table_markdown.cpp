#include "tools/orbctl/table_markdown.h"

#include <cstring>
#include <string_view>

#include "platform/text/text_codec.h"
#include "profiles/stroke_text.h"

namespace orb::orbctl {
namespace {

constexpr int kJogBack = 14;
constexpr int kJogFore = 15;
constexpr int kFirstShuttle = 16;
constexpr int kCentre = 5;

constexpr const char* kButtonNames[] = {"PGM1", "PGM2", "PGM3", "PGM4", "PGM5", "DECK/FILE", "BACK",
                                        "FORE", "CAP",  "PLAY", "IN",   "OUT",  "ADD",  "JOG/SHUTTLE"};

std::string_view FieldView(const char* pField, std::size_t nSize) {
  const void* pNul = std::memchr(pField, '\0', nSize);
  return {pField, pNul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(pNul) - pField) : nSize};
}

// A label as UTF-8: in the table's code page, or the other one where only that one gives
// the same bytes back (the English table keeps a few Japanese labels).
std::string FieldUtf8(std::string_view bytes, TableLanguage language) {
  const platform::CodePage first = TableCodePage(language);
  const platform::CodePage second =
      first == platform::CodePage::Cp932 ? platform::CodePage::Cp1252 : platform::CodePage::Cp932;
  for (const platform::CodePage codePage : {first, second}) {
    std::string utf8, again;
    if (platform::DecodeText(codePage, bytes, utf8) && platform::EncodeText(codePage, utf8, again) &&
        again == bytes) {
      return utf8;
    }
  }
  return std::string(bytes.size(), '?');
}

// Markdown table cells take no '|' and no line break; '*', '_' and '`' would format.
std::string Escaped(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    if (ch == '|' || ch == '*' || ch == '_' || ch == '`' || ch == '\\' || ch == '<' || ch == '>') out += '\\';
    out += (ch == '\n' || ch == '\r') ? ' ' : ch;
  }
  return out;
}

bool HasKeys(const KeyCommand& command) { return KeyStrokeVirtualKey(command.keys[0]) != 0; }

bool SameCommand(const KeyCommand& a, const KeyCommand& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// "Label: `K`, `L`", "—" for nothing at all.
std::string Cell(const KeyCommand& command, TableLanguage language) {
  const std::string label = Escaped(FieldUtf8(FieldView(command.szLabel, sizeof command.szLabel), language));
  std::string keys;
  for (const KeyStroke stroke : command.keys) {
    if (KeyStrokeVirtualKey(stroke) == 0) break;
    keys += (keys.empty() ? "`" : ", `") + KeyStrokeToText(stroke) + "`";
  }
  if (keys.empty()) return label.empty() ? "—" : label + " (no key)";
  if ((command.dwOption & KC_OPTION_REPEAT) != 0) keys += " (repeats)";
  return label.empty() ? keys : label + ": " + keys;
}

std::string PositionName(int nPosition) {
  const int nOffset = nPosition - kCentre;
  if (nOffset == 0) return "Shuttle 0";
  return std::string("Shuttle ") + (nOffset < 0 ? "−" : "+") + std::to_string(nOffset < 0 ? -nOffset : nOffset);
}

class Writer {
 public:
  Writer(const ProfileRecord& row, TableLanguage language)
      : m_row(row), m_language(language), m_blBothModes((row.dwFlags & PF_DECKFILE) != 0) {}

  std::string Text() {
    const bool blDeck = (m_row.dwFlags & PF_DECK) != 0;
    m_text += "### " + Escaped(FieldUtf8(FieldView(m_row.szAppName, sizeof m_row.szAppName), m_language)) + "\n\n";
    m_text += "Executable `" + std::string(FieldView(m_row.szExeName, sizeof m_row.szExeName)) + "`";
    m_text += m_blBothModes ? std::string("; starts in ") + (blDeck ? "DECK" : "FILE") + " mode" : "; one mode";
    m_text += ".\n\n";
    m_text += m_blBothModes ? "| Control | DECK mode | FILE mode |\n|---|---|---|\n" : "| Control | Does |\n|---|---|\n";
    for (int k = 0; k < kJogBack; ++k) {
      Line(kButtonNames[k], m_row.entries[k]);
    }
    const bool blShuttleBeyondCentre = ShuttleBeyondCentre();
    const char* pBack = blShuttleBeyondCentre ? "Jog back" : "Wheel back";
    const char* pFore = blShuttleBeyondCentre ? "Jog forward" : "Wheel forward";
    LineIfAny(pBack, m_row.entries[kJogBack]);
    LineIfAny(pFore, m_row.entries[kJogFore]);
    if (blShuttleBeyondCentre) {
      for (int nPosition = 0; nPosition <= 2 * kCentre; ++nPosition) {
        const ControlEntry& back = m_row.entries[kFirstShuttle + 2 * nPosition];
        const ControlEntry& fore = m_row.entries[kFirstShuttle + 2 * nPosition + 1];
        // A position is entered turning outward; its other entry matters when it differs.
        const ControlEntry& outward = nPosition < kCentre ? back : fore;
        LineIfAny(PositionName(nPosition), outward);
        const ControlEntry& inward = nPosition < kCentre ? fore : back;
        if (!SameCommand(inward.deck, outward.deck) || !SameCommand(inward.file, outward.file)) {
          LineIfAny(PositionName(nPosition) + (nPosition < kCentre ? " (turning forward)" : " (turning back)"),
                    inward);
        }
      }
    }
    m_text += "\n";
    return m_text;
  }

 private:
  bool ShuttleBeyondCentre() const {
    for (int nPosition = 0; nPosition <= 2 * kCentre; ++nPosition) {
      if (nPosition == kCentre) continue;
      for (int d = 0; d < 2; ++d) {
        const ControlEntry& entry = m_row.entries[kFirstShuttle + 2 * nPosition + d];
        if (HasKeys(entry.deck) || HasKeys(entry.file)) return true;
      }
    }
    return false;
  }

  void Line(const std::string& name, const ControlEntry& entry) {
    const bool blDeck = (m_row.dwFlags & PF_DECK) != 0;
    m_text += "| " + name + " | ";
    if (m_blBothModes) {
      m_text += Cell(entry.deck, m_language) + " | " + Cell(entry.file, m_language);
    } else {
      m_text += Cell(blDeck ? entry.deck : entry.file, m_language);
    }
    m_text += " |\n";
  }

  void LineIfAny(const std::string& name, const ControlEntry& entry) {
    if (HasKeys(entry.deck) || HasKeys(entry.file)) Line(name, entry);
  }

  const ProfileRecord& m_row;
  TableLanguage m_language;
  bool m_blBothModes;
  std::string m_text;
};

}  // namespace

std::string TableMarkdown(std::span<const ProfileRecord> records, TableLanguage language) {
  std::string text;
  for (const ProfileRecord& row : records) {
    text += Writer(row, language).Text();
  }
  return text;
}

}  // namespace orb::orbctl
