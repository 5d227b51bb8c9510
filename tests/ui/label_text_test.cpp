// Labels between the label box and the 32-byte field: the 31-byte cut on character
// boundaries, refusal of what the code page cannot hold, and reading a field back.
#include "ui/label_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace orb {
namespace {

using platform::CodePage;

TEST(LabelTextTest, CutsAt31BytesOnACharacterBoundary) {
  // Sixteen Japanese characters are 32 bytes: fifteen fit, never half of the sixteenth.
  const QString sSixteen = QString(16, QChar(u'再'));
  TableLabel label = LabelToTable(sSixteen, CodePage::Cp932);
  ASSERT_TRUE(label.blOk);
  EXPECT_TRUE(label.blCut);
  EXPECT_EQ(label.sBytes.size(), 30u);
  EXPECT_EQ(LabelFromTable(label.sBytes, CodePage::Cp932), QString(15, QChar(u'再')));

  // After one single-byte character, fifteen double-byte ones end exactly at 31.
  label = LabelToTable(QStringLiteral("A") + sSixteen, CodePage::Cp932);
  ASSERT_TRUE(label.blOk);
  EXPECT_TRUE(label.blCut);
  EXPECT_EQ(label.sBytes.size(), 31u);

  // Half-width katakana are single bytes in 932 despite being above 0x7F.
  label = LabelToTable(QString(31, QChar(u'ｱ')), CodePage::Cp932);
  EXPECT_TRUE(label.blOk);
  EXPECT_FALSE(label.blCut);
  EXPECT_EQ(label.sBytes, std::string(31, '\xB1'));

  const QString s31 = QStringLiteral("Play from the start, then stop.");
  label = LabelToTable(s31, CodePage::Cp1252);
  EXPECT_FALSE(label.blCut);
  EXPECT_EQ(label.sBytes, s31.toStdString());
}

TEST(LabelTextTest, WritesWhatTheCodePageHoldsAndRefusesTheRest) {
  TableLabel label = LabelToTable(QStringLiteral("Café €5"), CodePage::Cp1252);
  EXPECT_TRUE(label.blOk);
  EXPECT_EQ(label.sBytes, "Caf\xE9 \x80" "5");
  EXPECT_EQ(LabelFromTable(label.sBytes, CodePage::Cp1252), QStringLiteral("Café €5"));

  label = LabelToTable(QStringLiteral("In 再生"), CodePage::Cp1252);
  EXPECT_FALSE(label.blOk);
  EXPECT_TRUE(label.sBytes.empty());
  EXPECT_EQ(label.chRefused, U'再');

  // A character outside the Basic Multilingual Plane is one character, not two halves.
  label = LabelToTable(QStringLiteral("再生\U0001F3AC"), CodePage::Cp932);
  EXPECT_FALSE(label.blOk);
  EXPECT_TRUE(label.sBytes.empty());
  EXPECT_EQ(label.chRefused, U'\U0001F3AC');
}

TEST(LabelTextTest, ANulEndsTheLabel) {
  QString sLabel = QStringLiteral("Mark");
  sLabel += QChar(u'\0');
  sLabel += QStringLiteral("再");  // not refused: it would never be stored
  const TableLabel label = LabelToTable(sLabel, CodePage::Cp1252);
  EXPECT_TRUE(label.blOk);
  EXPECT_TRUE(label.blCut);
  EXPECT_EQ(label.sBytes, "Mark");
}

TEST(LabelTextTest, FieldsAreReadUpToTheirNulAndNeverBeyond) {
  char szLabel[32];
  std::memset(szLabel, 'x', sizeof szLabel);
  WriteTableLabel(szLabel, "Stop");
  EXPECT_EQ(LabelFromTable(szLabel, CodePage::Cp1252), QStringLiteral("Stop"));
  EXPECT_EQ(std::string(szLabel, sizeof szLabel), std::string("Stop") + std::string(28, '\0'));
  EXPECT_TRUE(TableLabelEquals(szLabel, "Stop"));
  EXPECT_FALSE(TableLabelEquals(szLabel, "Sto"));

  WriteTableLabel(szLabel, std::string(40, 'y'));  // the 32nd byte stays the terminator
  EXPECT_EQ(szLabel[31], '\0');
  EXPECT_EQ(LabelFromTable(szLabel, CodePage::Cp1252), QString(31, QChar(u'y')));

  // A field from a file that lacks its NUL shows its 32 bytes, and no more.
  std::memset(szLabel, 'z', sizeof szLabel);
  EXPECT_EQ(LabelFromTable(szLabel, CodePage::Cp1252), QString(32, QChar(u'z')));
  EXPECT_TRUE(TableLabelEquals(szLabel, std::string(32, 'z')));

  // A lead byte cut off from its second byte shows as one replacement character.
  EXPECT_EQ(LabelFromTable(std::string_view("\x8D\xC4\x90"), CodePage::Cp932), QStringLiteral("再\uFFFD"));
}

TEST(LabelTextTest, AnEditKeepsTheBytesTheUserLeftAloneAndRefusesOnlyWhatWasTyped) {
  // 0x81 has no character in 1252: shown as U+FFFD, kept as 0x81 wherever it was left.
  const std::string_view stored("Mark\x81In");
  const QString sShown = LabelFromTable(stored, CodePage::Cp1252);
  ASSERT_EQ(sShown, QStringLiteral("Mark\uFFFDIn"));

  TableLabel label = EditedLabelToTable(stored, sShown, CodePage::Cp1252);
  ASSERT_TRUE(label.blOk);
  EXPECT_EQ(label.sBytes, stored);

  label = EditedLabelToTable(stored, QStringLiteral("Mark\uFFFDIné"), CodePage::Cp1252);
  ASSERT_TRUE(label.blOk);
  EXPECT_EQ(label.sBytes, "Mark\x81In\xE9");
  label = EditedLabelToTable(stored, QStringLiteral("Mark \uFFFDIn"), CodePage::Cp1252);
  ASSERT_TRUE(label.blOk);
  EXPECT_EQ(label.sBytes, "Mark \x81In");
  label = EditedLabelToTable(stored, QStringLiteral("MarkIn"), CodePage::Cp1252);  // the odd byte deleted
  ASSERT_TRUE(label.blOk);
  EXPECT_EQ(label.sBytes, "MarkIn");

  // What the user typed is still refused, U+FFFD itself among it.
  label = EditedLabelToTable(stored, QStringLiteral("Mark\uFFFDIn 再"), CodePage::Cp1252);
  EXPECT_FALSE(label.blOk);
  EXPECT_EQ(label.chRefused, U'再');
  label = EditedLabelToTable(stored, QStringLiteral("Mark\uFFFDIn\uFFFD"), CodePage::Cp1252);
  EXPECT_FALSE(label.blOk);
  EXPECT_EQ(label.chRefused, U'\uFFFD');

  // In 932 a pair whose second byte is not valid is kept whole; a typed character after
  // it still counts against the 31 bytes.
  const std::string sPair = std::string("\x81\x7F") + std::string(28, 'a');
  label = EditedLabelToTable(sPair, LabelFromTable(sPair, CodePage::Cp932) + QStringLiteral("bc"), CodePage::Cp932);
  ASSERT_TRUE(label.blOk);
  EXPECT_TRUE(label.blCut);
  EXPECT_EQ(label.sBytes, sPair + "b");
}

TEST(LabelTextTest, TheRefusalNamesTheCharacterAndTheCodePage) {
  const QString sEnglish = RefusedLabelMessage(UiLanguage::English, CodePage::Cp1252, U'再');
  EXPECT_TRUE(sEnglish.contains(QStringLiteral("“再” (U+518D)"))) << sEnglish.toStdString();
  const QString sJapanese = RefusedLabelMessage(UiLanguage::Japanese, CodePage::Cp932, U'\U0001F3AC');
  EXPECT_TRUE(sJapanese.contains(QStringLiteral("「\U0001F3AC」(U+1F3AC)"))) << sJapanese.toStdString();
  // A character that would not show is named by its code alone.
  EXPECT_TRUE(RefusedLabelMessage(UiLanguage::English, CodePage::Cp932, U'\u200B').contains(QStringLiteral(" U+200B")));
}

}  // namespace
}  // namespace orb
