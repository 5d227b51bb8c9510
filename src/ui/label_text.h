#pragma once
// A programmable button's label between the label box (Unicode) and the profile record
// (szLabel: at most 31 bytes in the table's code page and a terminating zero).

#include <string>
#include <string_view>

#include <QString>

#include "base/string_table.h"
#include "platform/text/text_codec.h"

namespace orb {

inline constexpr std::size_t kLabelBytes = 31;

struct TableLabel {
  bool blOk;            // false: a character cannot be written in the code page
  std::string sBytes;   // at most kLabelBytes, no NUL; empty unless blOk
  bool blCut;           // less than the whole text was kept
  char32_t chRefused;   // the first character that cannot be written, when !blOk
};

// The label as table bytes. Cut to kLabelBytes on a character boundary, never between
// the two bytes of a double-byte character, and at a NUL, which would end the stored
// text there anyway. A character the code page lacks refuses the whole label: it is not
// stored as '?'.
TableLabel LabelToTable(const QString& sLabel, platform::CodePage codePage);

// The label after the user edited the box that showed `shownBytes`: what the user left
// as it was keeps the bytes behind it, even bytes the code page cannot decode (a table
// from elsewhere; shown as U+FFFD), and only what the user typed is encoded, so only that
// can be refused. Same cuts as LabelToTable.
TableLabel EditedLabelToTable(std::string_view shownBytes, const QString& sEdited, platform::CodePage codePage);

// For display: the bytes up to the first NUL, bytes that do not convert shown as U+FFFD.
// The array form never reads past the field, even when a stored label lacks its NUL.
QString LabelFromTable(const char (&szLabel)[32], platform::CodePage codePage);
QString LabelFromTable(std::string_view bytes, platform::CodePage codePage);

// Writes the bytes and zeroes the rest of the field, so no earlier label's bytes survive
// behind the NUL in the data file. Bytes beyond kLabelBytes are dropped.
void WriteTableLabel(char (&szLabel)[32], std::string_view bytes);

// True when the field holds exactly these bytes (up to its NUL).
bool TableLabelEquals(const char (&szLabel)[32], std::string_view bytes);

// What the window says when it refuses a label, in the user interface's language.
QString RefusedLabelMessage(UiLanguage language, platform::CodePage codePage, char32_t chRefused);

}  // namespace orb
