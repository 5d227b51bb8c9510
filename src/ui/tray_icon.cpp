#include "ui/tray_icon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include "base/write_log.h"
#include "ui/ui_texts.h"

namespace orb {
namespace {

// Hosts of the D-Bus tray protocol (KDE's and the AppIndicator ones) hand a click over as
// one "activate": no double-click ever arrives there, so that activation shows the window.
bool HostReportsSingleActivation() {
  QDBusConnectionInterface* pBus = QDBusConnection::sessionBus().interface();
  return pBus != nullptr && pBus->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

}  // namespace

CTrayIcon::CTrayIcon(UiLanguage language, const QIcon& icon, QObject* pParent)
    : QObject(pParent), m_tray(icon), m_blSingleActivation(HostReportsSingleActivation()) {
  const TrayMenuTexts& texts = TrayMenuText(language);
  m_showWindow.setText(QString::fromUtf8(texts.pShowWindow));
  m_setDefault.setText(QString::fromUtf8(texts.pSetDefault));
  m_stay.setText(QString::fromUtf8(texts.pStayAtStart));
  m_stay.setCheckable(true);
  m_about.setText(QString::fromUtf8(texts.pAbout));
  m_exit.setText(QString::fromUtf8(texts.pExit));
  m_menu.addAction(&m_showWindow);
  m_menu.addAction(&m_setDefault);
  m_menu.addAction(&m_stay);
  m_menu.addAction(&m_about);
  m_menu.addSeparator();
  m_menu.addAction(&m_exit);
  m_menu.setDefaultAction(&m_showWindow);  // drawn bold
  m_stay.setChecked(m_blStartup);
  m_tray.setContextMenu(&m_menu);
  connect(&m_tray, &QSystemTrayIcon::activated, this, &CTrayIcon::OnActivated);
}

CTrayIcon::~CTrayIcon() { RemoveIcon(); }

bool CTrayIcon::TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void CTrayIcon::SetStartup(bool blStartup) {
  m_blStartup = blStartup;
  m_stay.setChecked(blStartup);
}

void CTrayIcon::SetIcon(const QString& sTip) {
  m_tray.setToolTip(sTip.left(127));
  if (!m_tray.isVisible()) {
    m_tray.show();
  }
}

void CTrayIcon::RemoveIcon() { m_tray.hide(); }

void CTrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  if (m_blIgnoreClicks) {
    return;
  }
  if (reason == QSystemTrayIcon::DoubleClick || (reason == QSystemTrayIcon::Trigger && m_blSingleActivation)) {
    emit ShowWindowRequested();
  }
}

}  // namespace orb
