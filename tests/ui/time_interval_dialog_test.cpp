// The pause dialog: the value shown, the value accepted, what is refused and how, and the
// seconds-to-tenths conversion that decides what is stored.
#include "ui/time_interval_dialog.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace orb {
namespace {

TEST(PauseUnitsTest, TruncatesToHundredthsThenRoundsTenthsHalfUp) {
  struct Case {
    double rSeconds;
    std::uint32_t nUnits;
  };
  const Case kCases[] = {
      {0.0, 0},  {0.04, 0},  {0.049, 0}, {0.05, 1},   {0.045, 0},  {0.5, 5},   {1.25, 13},
      {1.24, 12}, {30.0, 300}, {30.1, 301}, {51.1, 511}, {51.2, 511}, {1e9, 511}, {-0.5, 0},
      // x * 100 falls just below the integer in binary; the decimal value decides.
      {1.15, 12}, {4.35, 44},  {0.29, 3},   {2.55, 26},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(PauseUnitsFromSeconds(c.rSeconds), c.nUnits) << c.rSeconds;
  }
  // Every pause the field can hold comes back from the value the dialog is given.
  for (std::uint32_t p = 0; p <= 511; ++p) {
    ASSERT_EQ(PauseUnitsFromSeconds(p * 0.1), p) << p;
  }
  EXPECT_EQ(PauseUnitsFromSeconds(std::numeric_limits<double>::quiet_NaN()), 0u);
  EXPECT_EQ(PauseUnitsFromSeconds(std::numeric_limits<double>::infinity()), 511u);
  EXPECT_EQ(PauseUnitsFromSeconds(std::numeric_limits<double>::denorm_min()), 0u);
}

TEST(ParseSecondsTest, AcceptsPlainDecimalsAndTheLocalesDecimalComma) {
  const QLocale saved;
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(ParseSeconds(QStringLiteral("  30 ")), 30.0);
  EXPECT_EQ(ParseSeconds(QStringLiteral("+.5")), 0.5);
  for (const char* pText : {"", "abc", "1.2.3", "1.5s", "0x10", "inf", "nan", "1e999", "--1", "1,5"}) {
    EXPECT_FALSE(ParseSeconds(QString::fromLatin1(pText)).has_value()) << pText;
  }
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(ParseSeconds(QStringLiteral("0,5")), 0.5);
  EXPECT_EQ(ParseSeconds(QStringLiteral("0.5")), 0.5);
  EXPECT_FALSE(ParseSeconds(QStringLiteral("1.000,5")).has_value());  // no group separators
  QLocale::setDefault(saved);
}

class TimeIntervalDialogTest : public ::testing::Test {
 protected:
  void Ok(CTimeIntervalDialog& dialog) {
    auto* pOk = dialog.findChild<QPushButton*>(QStringLiteral("Control1"));
    ASSERT_NE(pOk, nullptr);
    pOk->click();
  }
  void Type(CTimeIntervalDialog& dialog, const QString& sText) {
    dialog.Edit().selectAll();
    QTest::keyClicks(&dialog.Edit(), sText);
  }
  // The refusal the dialog opened, checked and closed again.
  void ExpectRefusal(CTimeIntervalDialog& dialog, const QString& sText) {
    QMessageBox* pBox = dialog.findChild<QMessageBox*>();
    ASSERT_NE(pBox, nullptr);
    EXPECT_EQ(pBox, dialog.Refusal());
    EXPECT_TRUE(pBox->isVisible());
    EXPECT_EQ(pBox->icon(), QMessageBox::Warning);
    EXPECT_EQ(pBox->text(), sText);
    pBox->button(QMessageBox::Ok)->click();
    EXPECT_EQ(dialog.Refusal(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(dialog.findChild<QMessageBox*>(), nullptr);
  }
};

TEST_F(TimeIntervalDialogTest, ShowsThePauseWithItsTenthsExactly) {
  for (const auto& [nTenths, pText] : {std::pair{5, "0.5"}, {3, "0.3"}, {0, "0"}, {300, "30"}, {511, "51.1"}}) {
    CTimeIntervalDialog dialog(UiLanguage::English, nTenths * 0.1);
    EXPECT_EQ(dialog.Edit().text(), QString::fromLatin1(pText)) << nTenths;
  }
}

TEST_F(TimeIntervalDialogTest, OkTakesTheTypedValueAndCancelKeepsTheOldOne) {
  CTimeIntervalDialog dialog(UiLanguage::English, 0.5);
  dialog.show();
  Type(dialog, QStringLiteral("1.25"));
  Ok(dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Value(), 1.25);
  EXPECT_EQ(PauseUnitsFromSeconds(dialog.Value()), 13u);

  CTimeIntervalDialog cancelled(UiLanguage::English, 0.5);
  cancelled.show();
  Type(cancelled, QStringLiteral("7"));
  cancelled.findChild<QPushButton*>(QStringLiteral("Control2"))->click();
  EXPECT_EQ(cancelled.result(), QDialog::Rejected);
  EXPECT_EQ(cancelled.Value(), 0.5);
}

TEST_F(TimeIntervalDialogTest, RefusesWhatIsNotANumberFromZeroToThirty) {
  CTimeIntervalDialog dialog(UiLanguage::English, 0.5);
  dialog.show();
  Type(dialog, QStringLiteral("30.1"));
  Ok(dialog);
  EXPECT_TRUE(dialog.isVisible());
  ExpectRefusal(dialog, QStringLiteral("Please enter a number between 0 and 30."));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.Edit().selectedText(), QStringLiteral("30.1"));

  Type(dialog, QStringLiteral("abc"));
  Ok(dialog);
  ExpectRefusal(dialog, QStringLiteral("Please enter a number."));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.Value(), 0.5);
}

TEST_F(TimeIntervalDialogTest, AcceptsEachLimitAndRefusesJustBeyondIt) {
  struct Case {
    const char* pText;
    bool blAccepted;
    std::uint32_t nUnits;  // stored when accepted
  };
  const Case kCases[] = {
      {"0", true, 0},          {"0.0", true, 0},        {"-0", true, 0},         {"30", true, 300},
      {"30.0", true, 300},     {"29.99", true, 300},    {"0.01", true, 0},       {"-0.01", false, 0},
      {"-0.000001", false, 0}, {"30.01", false, 0},     {"30.000001", false, 0}, {"30.1", false, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.pText);
    CTimeIntervalDialog dialog(UiLanguage::English, 0.5);
    dialog.show();
    Type(dialog, QString::fromLatin1(c.pText));
    Ok(dialog);
    if (c.blAccepted) {
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      EXPECT_FALSE(dialog.isVisible());
      EXPECT_EQ(dialog.Refusal(), nullptr);
      EXPECT_EQ(PauseUnitsFromSeconds(dialog.Value()), c.nUnits);
    } else {
      EXPECT_TRUE(dialog.isVisible());
      ExpectRefusal(dialog, QStringLiteral("Please enter a number between 0 and 30."));
      EXPECT_EQ(dialog.Value(), 0.5) << "a refused value is not taken";
    }
  }
}

TEST_F(TimeIntervalDialogTest, RefusesInJapaneseAndGoesAwayWithTheDialog) {
  auto* pDialog = new CTimeIntervalDialog(UiLanguage::Japanese, 0.0);
  pDialog->show();
  Type(*pDialog, QStringLiteral("-1"));
  Ok(*pDialog);
  QMessageBox* pBox = pDialog->Refusal();
  ASSERT_NE(pBox, nullptr);
  EXPECT_EQ(pBox->text(), QStringLiteral("0 から 30 までの数字を入力してください。"));
  // The window cancels its small dialog while the refusal is up: both go.
  pDialog->reject();
  EXPECT_FALSE(pBox->isVisible());
  EXPECT_EQ(pDialog->Refusal(), nullptr);
  delete pDialog;
}

}  // namespace
}  // namespace orb
