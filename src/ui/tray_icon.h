#pragma once
// The notification-area icon with the tray menu. The window has a right-click menu of
// its own for setups without a tray host; both show the same check mark, m_blStartup.

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include "base/string_table.h"

namespace orb {

class CTrayIcon final : public QObject {
  Q_OBJECT

 public:
  CTrayIcon(UiLanguage language, const QIcon& icon, QObject* pParent = nullptr);
  ~CTrayIcon() override;

  // Whether a tray host is there to show the icon (Qt asks the desktop).
  static bool TrayAvailable();

  // Adds the icon with its tip, or changes the tip of the icon shown.
  void SetIcon(const QString& sTip);
  // Removes the icon.
  void RemoveIcon();
  bool Shown() const { return m_tray.isVisible(); }
  QString Tip() const { return m_tray.toolTip(); }

  // "S&tay when the system begins": its check mark is this, wherever the item is shown.
  bool Startup() const { return m_blStartup; }
  void SetStartup(bool blStartup);

  // While set (the editor holds the table), clicks on the icon do nothing.
  void SetIgnoreClicks(bool blIgnore) { m_blIgnoreClicks = blIgnore; }

  QMenu& Menu() { return m_menu; }
  QAction& ShowWindowAction() { return m_showWindow; }
  QAction& SetDefaultAction() { return m_setDefault; }
  QAction& StayAction() { return m_stay; }
  QAction& AboutAction() { return m_about; }
  QAction& ExitAction() { return m_exit; }

  // As a click on the icon would: for the tray host's activation and for tests.
  void OnActivated(QSystemTrayIcon::ActivationReason reason);

 signals:
  void ShowWindowRequested();

 private:
  QSystemTrayIcon m_tray;
  QMenu m_menu;
  QAction m_showWindow;
  QAction m_setDefault;
  QAction m_stay;
  QAction m_about;
  QAction m_exit;
  bool m_blStartup = true;
  bool m_blIgnoreClicks = false;
  bool m_blSingleActivation;  // the host reports one activation, not double-clicks
};

}  // namespace orb
