// The labels under the programmable buttons: every built-in label readable whole in its
// place on the strip, broken between words, dark enough on the strip's gray.
#include "ui/strip_label.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QRegularExpression>

#include "profiles/default_tables.h"
#include "profiles/profile_record.h"
#include "ui/controller_picture.h"
#include "ui/label_text.h"

namespace orb {
namespace {

// The labels of the five programmable buttons of every profile of a built-in table.
QStringList BuiltInLabels(UiLanguage language) {
  const std::span<const std::uint8_t> table = DefaultTable(language);
  const platform::CodePage codePage =
      language == UiLanguage::Japanese ? platform::CodePage::Cp932 : platform::CodePage::Cp1252;
  QStringList labels;
  for (std::size_t nAt = 0; nAt + sizeof(ProfileRecord) <= table.size(); nAt += sizeof(ProfileRecord)) {
    ProfileRecord record;
    std::memcpy(&record, table.data() + nAt, sizeof record);
    for (int k = 0; k < 5; ++k) {
      const QString sLabel = LabelFromTable(record.entries[k].deck.szLabel, codePage);
      if (!sLabel.isEmpty() && !labels.contains(sLabel)) labels << sLabel;
    }
  }
  return labels;
}

class StripLabelTest : public ::testing::Test {
 protected:
  StripLabelTest() { m_picture.show(); }

  QSize Area() const { return m_picture.ProgramLabelRect(0).size(); }

  // True when `layout` shows `sText` in the area: no line wider than it, no more than two
  // lines in its height, every character there in order.
  void ExpectShownWhole(const StripLabelLayout& layout, const QString& sText) {
    const QFontMetricsF metrics(layout.font);
    EXPECT_TRUE(layout.blWhole) << sText.toStdString();
    ASSERT_GE(layout.lines.size(), 1) << sText.toStdString();
    EXPECT_LE(layout.lines.size(), 2) << sText.toStdString();
    EXPECT_LE(metrics.lineSpacing() * (layout.lines.size() - 1) + metrics.height(), Area().height())
        << sText.toStdString();
    for (const QString& sLine : layout.lines) {
      EXPECT_LE(metrics.horizontalAdvance(sLine), Area().width()) << sText.toStdString() << ": " << sLine.toStdString();
    }
    EXPECT_EQ(layout.lines.join(QString()).remove(' '), QString(sText).remove(' '));
    EXPECT_GE(QFontInfo(layout.font).pixelSize(), kStripLabelMinPixelSize) << sText.toStdString();
  }

  CControllerPicture m_picture;
  QFont m_font;
};

TEST_F(StripLabelTest, EveryBuiltInLabelIsShownWholeInItsPlace) {
  for (const UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    const QStringList labels = BuiltInLabels(language);
    ASSERT_GT(labels.size(), 20);
    for (const QString& sLabel : labels) {
      ExpectShownWhole(FitStripLabel(sLabel, m_font, Area()), sLabel);
    }
  }
}

TEST_F(StripLabelTest, ShortLabelsKeepTheFontAndLongOnesBreakBetweenWords) {
  StripLabelLayout layout = FitStripLabel("Cut", m_font, Area());
  EXPECT_EQ(layout.lines, QStringList{"Cut"});
  EXPECT_EQ(QFontInfo(layout.font).pixelSize(), QFontInfo(m_font).pixelSize());

  for (const QString& sLabel : {QStringLiteral("Scale 1 Second"), QStringLiteral("Batch Capture")}) {
    layout = FitStripLabel(sLabel, m_font, Area());
    ExpectShownWhole(layout, sLabel);
    const QStringList words = sLabel.split(' ');
    for (const QString& sLine : layout.lines) {
      for (const QString& sWord : sLine.split(' ')) {
        EXPECT_TRUE(words.contains(sWord)) << sLine.toStdString() << " cuts a word of " << sLabel.toStdString();
      }
    }
  }
}

TEST_F(StripLabelTest, TwoLinesAreFilledEvenly) {
  // Japanese breaks between most two characters: not three and a lone last one.
  for (const QString& sLabel : {QStringLiteral("全体表示"), QStringLiteral("リプレイ"), QStringLiteral("次のシーン"),
                                QStringLiteral("Scale 1 Second")}) {
    const StripLabelLayout layout = FitStripLabel(sLabel, m_font, Area());
    ExpectShownWhole(layout, sLabel);
    if (layout.lines.size() == 2) {
      EXPECT_LE(std::abs(layout.lines[0].size() - layout.lines[1].size()), 1)
          << layout.lines.join('|').toStdString();
    }
  }
}

TEST_F(StripLabelTest, ALabelTooLongForTheSmallestFontEndsInAnEllipsisAndKeepsItsText) {
  const QString sLong = QStringLiteral("Play from the start, then stop.");
  const StripLabelLayout layout = FitStripLabel(sLong, m_font, Area());
  EXPECT_FALSE(layout.blWhole);
  ASSERT_EQ(layout.lines.size(), 2);
  EXPECT_TRUE(layout.lines.back().endsWith(QChar(0x2026))) << layout.lines.back().toStdString();
  const QFontMetricsF metrics(layout.font);
  for (const QString& sLine : layout.lines) EXPECT_LE(metrics.horizontalAdvance(sLine), Area().width());

  CStripLabel field(&m_picture.ProgramStrip());
  field.setGeometry(m_picture.ProgramLabelRect(1));
  field.SetLabelText(sLong);
  EXPECT_EQ(field.toolTip(), sLong);
  EXPECT_EQ(field.accessibleName(), sLong);
  EXPECT_FALSE(field.Layout().blWhole);
}

TEST_F(StripLabelTest, TheTextIsDarkEnoughOnTheStrip) {
  CStripLabel field(&m_picture.ProgramStrip());
  field.setGeometry(m_picture.ProgramLabelRect(0));
  field.SetLabelText("Mark");
  // The strip's colour as drawn, beside the label, and the colour the label is drawn in.
  const QImage strip = m_picture.ProgramStrip().grab().toImage();
  const QColor background = strip.pixelColor(QPoint(1, 1) * strip.devicePixelRatio());
  EXPECT_EQ(background, QColor(128, 128, 128));
  EXPECT_GE(ContrastRatio(field.palette().color(QPalette::WindowText), background), 4.5);
  // And the text is drawn: some of its pixels are darker than the strip.
  const QImage drawn = field.grab().toImage();
  bool blDark = false;
  for (int y = 0; y < drawn.height() && !blDark; ++y) {
    for (int x = 0; x < drawn.width() && !blDark; ++x) blDark = drawn.pixelColor(x, y).lightness() < 64;
  }
  EXPECT_TRUE(blDark);
}

TEST(ContrastRatioTest, FollowsTheRelativeLuminanceOfSrgb) {
  EXPECT_NEAR(ContrastRatio(Qt::white, Qt::black), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(Qt::white, QColor(128, 128, 128)), 3.95, 0.01);
  EXPECT_NEAR(ContrastRatio(QColor(118, 118, 118), Qt::white), 4.54, 0.01);
}

}  // namespace
}  // namespace orb
