#include "ui/resident_notice.h"

#include <algorithm>
#include <utility>

#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ui_texts.h"

namespace orb {

CResidentNotice::CResidentNotice(UiLanguage language, std::function<void(bool blHide)> onHideToggled,
                                 QWidget* pParent)
    : QDialog(pParent) {
  const NoticeTexts& texts = NoticeText(language);
  setWindowTitle(QString::fromUtf8(LoadString(102, language)));
  setObjectName(QStringLiteral("ResidentNotice"));

  auto* pLine = new QLabel(QString::fromUtf8(texts.pStayed), this);
  pLine->setAccessibleName(pLine->text());
  auto* pHide = new QCheckBox(QString::fromUtf8(texts.pHideMessage), this);  // 1035, starts clear
  pHide->setObjectName(QStringLiteral("HideMessage"));
  pHide->setAccessibleName(pHide->text().remove(QLatin1Char('&')));
  connect(pHide, &QCheckBox::toggled, this, [onHideToggled = std::move(onHideToggled)](bool blChecked) {
    if (onHideToggled) onHideToggled(blChecked);
  });
  auto* pOk = new QPushButton(QString::fromUtf8(texts.pOk), this);
  pOk->setDefault(true);
  connect(pOk, &QPushButton::clicked, this, &QDialog::accept);

  auto* pButtons = new QHBoxLayout;
  pButtons->addStretch(1);
  pButtons->addWidget(pOk);
  auto* pLayout = new QVBoxLayout(this);
  pLayout->addWidget(pLine);
  pLayout->addWidget(pHide);
  pLayout->addLayout(pButtons);

  // Fixed, yet wide enough that a title bar shows the whole caption, not an ellipsis: window
  // managers draw it bold, beside an icon and three buttons (room of about eight lines).
  QFont captionFont = font();
  captionFont.setBold(true);
  const QFontMetrics metrics(captionFont);
  const int nCaptionRoom = metrics.horizontalAdvance(windowTitle()) + 8 * metrics.height();
  const QSize hint = sizeHint();
  setFixedSize(std::max(hint.width(), nCaptionRoom), hint.height());
}

}  // namespace orb
