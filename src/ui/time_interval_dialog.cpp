#include "ui/time_interval_dialog.h"

#include <charconv>
#include <cmath>
#include <string>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace orb {
namespace {

struct IntervalTexts {
  const char* pCaption;
  const char* pPrompt;
  const char* pOk;
  const char* pCancel;
};

constexpr IntervalTexts kEnglish{"Time interval setting", "Time interval (in 0.1sec.):", "OK", "cancel"};
constexpr IntervalTexts kJapanese{"ポーズ時間設定", "コマンドを停止する時間(0.1秒)：", "OK", "キャンセル"};

constexpr int kIdsProductName = 102;
constexpr int kIdsNotANumber = 61713;
constexpr int kIdsOutOfRange = 61715;

constexpr std::uint32_t kMaxPauseUnits = 511;  // the nine bits of a key stroke's pause

QString LimitText(double rLimit) { return QString::number(rLimit, 'g', 15); }

}  // namespace

std::uint32_t PauseUnitsFromSeconds(double rSeconds) {
  // Below a thousandth nothing survives the truncation to hundredths; at 51.15 and above
  // the result is clamped. Both bounds keep NaN and huge values out of the digits below.
  if (!(rSeconds >= 0.001)) {
    return 0;
  }
  if (rSeconds >= 51.15) {
    return kMaxPauseUnits;
  }
  // The shortest decimal form is what the user typed (up to 15 digits), so truncating its
  // digits truncates the decimal value, not its binary neighbour below.
  char szDigits[64];
  const auto result = std::to_chars(szDigits, szDigits + sizeof szDigits, rSeconds, std::chars_format::fixed);
  const std::string_view digits(szDigits, static_cast<std::size_t>(result.ptr - szDigits));
  const std::size_t nPoint = digits.find('.');
  const std::string_view whole = digits.substr(0, nPoint);
  const std::string_view fraction = nPoint == std::string_view::npos ? std::string_view() : digits.substr(nPoint + 1);
  std::uint32_t nHundredths = 0;
  for (const char c : whole) {
    nHundredths = nHundredths * 10 + static_cast<std::uint32_t>(c - '0');
  }
  for (std::size_t i = 0; i < 2; ++i) {
    nHundredths = nHundredths * 10 + (i < fraction.size() ? static_cast<std::uint32_t>(fraction[i] - '0') : 0);
  }
  std::uint32_t nUnits = nHundredths / 10 + (nHundredths % 10 >= 5 ? 1 : 0);
  return nUnits > kMaxPauseUnits ? kMaxPauseUnits : nUnits;
}

std::optional<double> ParseSeconds(const QString& sText) {
  QString sNumber = sText.trimmed();
  if (QLocale().decimalPoint() == QStringLiteral(",") && !sNumber.contains(u'.')) {
    sNumber.replace(u',', u'.');
  }
  if (sNumber.startsWith(u'+')) {
    sNumber.remove(0, 1);
  }
  const std::string text = sNumber.toStdString();
  if (text.empty()) {
    return std::nullopt;
  }
  double rValue = 0;
  const char* pEnd = text.data() + text.size();
  const auto result = std::from_chars(text.data(), pEnd, rValue, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != pEnd || !std::isfinite(rValue)) {
    return std::nullopt;
  }
  return rValue;
}

QString FormatSeconds(double rSeconds) {
  // Fifteen digits: a pause of p tenths arrives as p * 0.1, which is a hair off in binary.
  return QString::number(rSeconds, 'g', 15);
}

CTimeIntervalDialog::CTimeIntervalDialog(UiLanguage language, double rSeconds, QWidget* pParent)
    : QDialog(pParent), m_language(language), m_rSeconds(rSeconds) {
  const IntervalTexts& texts = language == UiLanguage::Japanese ? kJapanese : kEnglish;
  setWindowTitle(QString::fromUtf8(texts.pCaption));
  setObjectName(QStringLiteral("TimeIntervalDialog"));

  auto* pPrompt = new QLabel(QString::fromUtf8(texts.pPrompt), this);
  pPrompt->setObjectName(QStringLiteral("IntervalPrompt"));
  pPrompt->setAccessibleName(pPrompt->text());
  m_pEdit = new QLineEdit(FormatSeconds(rSeconds), this);
  m_pEdit->setObjectName(QStringLiteral("Control10"));
  m_pEdit->setAccessibleName(pPrompt->text());
  m_pEdit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pPrompt->setBuddy(m_pEdit);
  auto* pOk = new QPushButton(QString::fromUtf8(texts.pOk), this);
  pOk->setObjectName(QStringLiteral("Control1"));
  pOk->setDefault(true);
  auto* pCancel = new QPushButton(QString::fromUtf8(texts.pCancel), this);
  pCancel->setObjectName(QStringLiteral("Control2"));
  connect(pOk, &QPushButton::clicked, this, &CTimeIntervalDialog::OnOk);
  connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* pRow = new QHBoxLayout;
  pRow->addWidget(pPrompt);
  pRow->addWidget(m_pEdit);
  auto* pButtons = new QHBoxLayout;
  pButtons->addStretch(1);
  pButtons->addWidget(pOk);
  pButtons->addWidget(pCancel);
  auto* pLayout = new QVBoxLayout(this);
  pLayout->addLayout(pRow);
  pLayout->addLayout(pButtons);
  pLayout->setSizeConstraint(QLayout::SetFixedSize);

  m_pEdit->setFocus();
  m_pEdit->selectAll();
}

void CTimeIntervalDialog::OnOk() {
  if (m_pRefusal != nullptr) {
    return;  // one refusal at a time; it is window-modal anyway
  }
  const std::optional<double> value = ParseSeconds(m_pEdit->text());
  if (!value) {
    Refuse(QString::fromUtf8(LoadString(kIdsNotANumber, m_language)));
    return;
  }
  if (*value < kMinPauseSeconds || *value > kMaxPauseSeconds) {
    Refuse(QString::fromUtf8(LoadString(kIdsOutOfRange, m_language))
               .arg(LimitText(kMinPauseSeconds), LimitText(kMaxPauseSeconds)));
    return;
  }
  m_rSeconds = *value;
  accept();
}

void CTimeIntervalDialog::Refuse(const QString& sText) {
  // Window-modal and opened, not exec'd: the dialog's own loop keeps running, so the
  // caller's modal loop (and a test) is never stuck inside a second one.
  auto* pBox = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(LoadString(kIdsProductName, m_language)),
                               sText, QMessageBox::Ok, this);
  pBox->setObjectName(QStringLiteral("IntervalRefusal"));
  pBox->setAttribute(Qt::WA_DeleteOnClose);
  connect(pBox, &QDialog::finished, this, [this] {
    m_pRefusal = nullptr;  // its deletion comes later, from the event loop
    m_pEdit->setFocus();
    m_pEdit->selectAll();
  });
  m_pRefusal = pBox;
  pBox->open();
}

void CTimeIntervalDialog::done(int nResult) {
  // Cancelled from outside (the window closing its small dialog) while a refusal is up.
  if (m_pRefusal != nullptr) {
    m_pRefusal->close();
  }
  QDialog::done(nResult);
}

}  // namespace orb
