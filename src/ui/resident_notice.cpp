#include "ui/resident_notice.h"

#include <utility>

#include <QCheckBox>
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
  pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace orb
