#include "ui/about_dialog.h"

#include <cstdio>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ui_texts.h"

namespace orb {
namespace {

constexpr int kIdsVersion = 1038;
constexpr int kIconPixels = 48;

}  // namespace

std::string FormatVersionLine(const char* pBase, unsigned nMajor, unsigned nMinor, unsigned nBuild) {
  char szLine[128];
  std::snprintf(szLine, sizeof szLine, "%s %u.%u%u", pBase, nMajor, nMinor, nBuild);
  return szLine;
}

std::string ProgramVersionLine(UiLanguage language) {
  return FormatVersionLine(LoadString(kIdsVersion, language), ORB_VERSION_MAJOR, ORB_VERSION_MINOR,
                           ORB_VERSION_PATCH);
}

CAboutDialog::CAboutDialog(UiLanguage language, const QIcon& icon, QWidget* pParent) : QDialog(pParent) {
  const AboutTexts& texts = AboutText(language);
  setWindowTitle(QString::fromUtf8(texts.pCaption));
  setObjectName(QStringLiteral("AboutDialog"));

  auto* pIcon = new QLabel(this);
  pIcon->setPixmap(icon.pixmap(kIconPixels, kIconPixels));
  pIcon->setAccessibleName(QString::fromUtf8(LoadString(102, language)));
  auto* pVersion = new QLabel(QString::fromStdString(ProgramVersionLine(language)), this);
  pVersion->setObjectName(QStringLiteral("VersionLine"));  // 1038
  pVersion->setAccessibleName(pVersion->text());
  auto* pNotice = new QLabel(QString::fromUtf8(texts.pNoticeLine), this);  // 1036
  pNotice->setWordWrap(true);
  pNotice->setAccessibleName(pNotice->text());
  auto* pOk = new QPushButton(QString::fromUtf8(texts.pOk), this);  // 1
  pOk->setDefault(true);
  connect(pOk, &QPushButton::clicked, this, &QDialog::accept);

  auto* pText = new QVBoxLayout;
  pText->addWidget(pVersion);
  pText->addWidget(pNotice);
  auto* pTop = new QHBoxLayout;
  pTop->addWidget(pIcon, 0, Qt::AlignTop);
  pTop->addSpacing(12);
  pTop->addLayout(pText, 1);
  auto* pButtons = new QHBoxLayout;
  pButtons->addStretch(1);
  pButtons->addWidget(pOk);
  auto* pLayout = new QVBoxLayout(this);
  pLayout->addLayout(pTop);
  pLayout->addSpacing(8);
  pLayout->addLayout(pButtons);
  pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace orb
