#include "ui/label_text.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <QList>

#include "profiles/profile_table.h"

namespace orb {
namespace {

// The first character of the text that the code page cannot write; U+FFFD when each one
// alone converts (not expected with these code pages, which carry no state).
char32_t FirstRefusedCharacter(QStringView text, platform::CodePage codePage) {
  std::string sBytes;
  for (const char32_t ch : text.toUcs4()) {
    if (!platform::EncodeText(codePage, QString::fromUcs4(&ch, 1).toStdString(), sBytes)) {
      return ch;
    }
  }
  return U'\uFFFD';
}

// "“é” (U+00E9)", or only the code for a character that would not show.
QString CharacterText(char32_t ch, UiLanguage language) {
  const QString sCode = QStringLiteral("U+%1").arg(static_cast<uint>(ch), 4, 16, QLatin1Char('0')).toUpper();
  if (!QChar::isPrint(ch)) {
    return sCode;
  }
  const QString sChar = QString::fromUcs4(&ch, 1);
  return language == UiLanguage::Japanese ? QStringLiteral("「%1」(%2)").arg(sChar, sCode)
                                          : QStringLiteral("“%1” (%2)").arg(sChar, sCode);
}

// A stored label split into characters as the code page reads them, each with the text it
// shows as: a lone byte that does not decode shows as U+FFFD, a broken pair as two.
struct LabelPiece {
  std::string_view bytes;
  QString sText;
};

std::vector<LabelPiece> SplitLabel(std::string_view bytes, platform::CodePage codePage) {
  std::vector<LabelPiece> pieces;
  std::size_t nPos = 0;
  while (nPos < bytes.size()) {
    const bool blPair =
        platform::IsLeadByte(codePage, static_cast<std::uint8_t>(bytes[nPos])) && nPos + 1 < bytes.size();
    const std::string_view piece = bytes.substr(nPos, blPair ? 2 : 1);
    pieces.push_back({piece, QString::fromStdString(platform::DecodeTextLossy(codePage, piece))});
    nPos += piece.size();
  }
  return pieces;
}

}  // namespace

TableLabel LabelToTable(const QString& sLabel, platform::CodePage codePage) {
  return EditedLabelToTable({}, sLabel, codePage);
}

TableLabel EditedLabelToTable(std::string_view shownBytes, const QString& sEdited, platform::CodePage codePage) {
  if (const std::size_t nNul = shownBytes.find('\0'); nNul != std::string_view::npos) {
    shownBytes = shownBytes.substr(0, nNul);
  }
  TableLabel label{true, {}, false, 0};
  QStringView text(sEdited);
  if (const qsizetype nNul = text.indexOf(QChar(u'\0')); nNul >= 0) {
    text = text.left(nNul);
    label.blCut = true;
  }
  // The characters kept at the front and at the back, whole, without overlapping.
  const std::vector<LabelPiece> pieces = SplitLabel(shownBytes, codePage);
  std::size_t nFront = 0;
  qsizetype nFrontChars = 0;
  while (nFront < pieces.size() && text.mid(nFrontChars).startsWith(pieces[nFront].sText)) {
    nFrontChars += pieces[nFront].sText.size();
    ++nFront;
  }
  std::size_t nBack = pieces.size();
  qsizetype nBackChars = 0;
  while (nBack > nFront) {
    const QString& sPiece = pieces[nBack - 1].sText;
    if (text.size() - nBackChars - sPiece.size() < nFrontChars ||
        !text.left(text.size() - nBackChars).endsWith(sPiece)) {
      break;
    }
    nBackChars += sPiece.size();
    --nBack;
  }
  const QStringView typed = text.mid(nFrontChars, text.size() - nFrontChars - nBackChars);
  std::string sTyped;
  if (!platform::EncodeText(codePage, typed.toUtf8().toStdString(), sTyped)) {
    return {false, {}, false, FirstRefusedCharacter(typed, codePage)};
  }
  std::string sBytes;
  for (std::size_t i = 0; i < nFront; ++i) sBytes += pieces[i].bytes;
  sBytes += sTyped;
  for (std::size_t i = nBack; i < pieces.size(); ++i) sBytes += pieces[i].bytes;
  const std::size_t nKept = platform::CutTextLength(codePage, sBytes, kLabelBytes);
  if (nKept < sBytes.size()) {
    sBytes.resize(nKept);
    label.blCut = true;
  }
  label.sBytes = std::move(sBytes);
  return label;
}

QString LabelFromTable(const char (&szLabel)[32], platform::CodePage codePage) {
  return LabelFromTable(FieldText(szLabel), codePage);
}

QString LabelFromTable(std::string_view bytes, platform::CodePage codePage) {
  if (const std::size_t nNul = bytes.find('\0'); nNul != std::string_view::npos) {
    bytes = bytes.substr(0, nNul);
  }
  return QString::fromStdString(platform::DecodeTextLossy(codePage, bytes));
}

void WriteTableLabel(char (&szLabel)[32], std::string_view bytes) {
  std::memset(szLabel, 0, sizeof szLabel);
  std::memcpy(szLabel, bytes.data(), std::min(bytes.size(), kLabelBytes));
}

bool TableLabelEquals(const char (&szLabel)[32], std::string_view bytes) {
  return FieldText(szLabel) == bytes;
}

QString RefusedLabelMessage(UiLanguage language, platform::CodePage codePage, char32_t chRefused) {
  const bool blJapanese = language == UiLanguage::Japanese;
  const bool blCp932 = codePage == platform::CodePage::Cp932;
  const QString sCharacter = CharacterText(chRefused, language);
  if (blJapanese) {
    return QStringLiteral("ラベルに %1 は使えません。ラベルは%2の文字で保存されます。")
        .arg(sCharacter, blCp932 ? QStringLiteral("日本語 (コード ページ 932)")
                                 : QStringLiteral("西ヨーロッパ言語 (コード ページ 1252)"));
  }
  return QStringLiteral("The label cannot hold %1: labels are stored in the %2 character set.")
      .arg(sCharacter, blCp932 ? QStringLiteral("Japanese (code page 932)")
                               : QStringLiteral("Western European (code page 1252)"));
}

}  // namespace orb
