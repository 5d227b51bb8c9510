#pragma once
// The program's one window, run modally for the whole life of the program. It starts
// hidden and stays hidden until "Show Window..." (m_blKeepHidden); OK and Cancel hide it
// again without ending the program. It owns the resident core (profiles, selection,
// connection, device threads) and drives it from the tray menu, its timers, the device
// monitor, the foreground tracker and the messages posted to it. Worker threads reach it
// only through MessageTarget::Post, which queues a custom event for this window's thread.

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include "base/message_target.h"
#include "base/string_table.h"
#include "resident/resident_view.h"
#include "ui/wheel_score.h"

class QContextMenuEvent;
class QEventLoop;
class QMenu;
class QPushButton;
class QSocketNotifier;

namespace orb {

class CControllerPicture;
class CEndpointLink;
class CKeyPanel;
class CResidentCore;
class CSpeedControls;
class CTrayIcon;
struct ResidentConfig;

namespace platform {
class ForegroundTracker;
class HidMonitor;
class KeySink;
}  // namespace platform

class CMainDialog final : public QDialog, public MessageTarget, private ResidentView {
 public:
  // blSilent: started with "/S" from the session's autostart (m_blSilent).
  explicit CMainDialog(bool blSilent, QWidget* pParent = nullptr);
  // For tests: the core's configuration as given (data file, default table, key sink...).
  CMainDialog(bool blSilent, const ResidentConfig& config, QWidget* pParent = nullptr);
  ~CMainDialog() override;

  // Initialises the window (profiles, tray icon, notice, controller) and runs its loop
  // until done() (Exit, or EndProgram); then ends the program's work in its order.
  // Unlike QDialog::exec() the loop does not end when the window is hidden.
  int RunModal();

  void Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) override;

  // Ends the program the orderly way, as the tray menu's Exit does but without a check
  // that could refuse: closes a small dialog open over the window, then ends the modal
  // loop. The shell calls it on SIGTERM, SIGINT and SIGHUP.
  void EndProgram();

  // "&Show Window...": the small dialog open over the window to the front, else the
  // window itself, topmost and active.
  void OnSet();
  // Without a tray host the icon cannot be seen: a second start then shows the window.
  bool HasTrayIcon() const;
  // After RunModal: the end found a table and could not save it.
  bool ExitSaveFailed() const;

  bool IsSilent() const { return m_blSilent; }
  CResidentCore& Core() { return *m_pCore; }
  CTrayIcon& TrayIcon() { return *m_pTrayIcon; }
  // The window's controls are made when it is first shown, or when one of these asks.
  CControllerPicture& Picture() { return (EnsureControls(), *m_pPicture); }
  CKeyPanel& KeyPanel() { return (EnsureControls(), *m_pPanel); }
  CSpeedControls& Speeds() { return (EnsureControls(), *m_pSpeeds); }
  QPushButton& ApplyButton() { return (EnsureControls(), *m_pApply); }
  bool HasControls() const { return m_pPanel != nullptr; }
  QDialog* ModalDialog() const { return m_pModalDlg; }
  QMenu& WindowMenu() { return *m_pWindowMenu; }

  // Refuses to show the window while m_blKeepHidden is set, so RunModal's show() and
  // anything else that shows it leave it hidden.
  void setVisible(bool blVisible) override;

  void done(int nResult) override;
  // The close box and Esc act as Cancel: every unapplied edit is thrown away and the
  // window hidden; they never end the program.
  void reject() override;
  // OK (also Enter): the edits saved, the window hidden.
  void accept() override;
  // "&Apply": the edits saved, the window kept as it is.
  bool OnApply();

 protected:
  bool event(QEvent* pEvent) override;
  void contextMenuEvent(QContextMenuEvent* pEvent) override;

 private:
  // The program spends nearly all its life hidden, most of it never shown: the controls,
  // their pictures and fonts are made on the way to the first show, and what the core told
  // the window meanwhile (the application chosen, Apply) is caught up then.
  void EnsureControls();
  void BuildControls();
  void BuildWindowMenu();
  void Initialise();
  void Finish();
  bool Save();
  void OnWheelDoubleClick();
  void OnEditorLink();
  void FollowEditorWatch();
  void OnMessage(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam);
  void ConnectController();
  void OnAbout();
  void OnSetDefault();
  void OnStayAtStartup();
  void OnExit();
  void ShowResidentNotice();
  void RunSmallDialog(QDialog& dialog);
  void StartWatching();

  // ResidentView
  void SetTrayTip(const std::string& sTip) override;
  void SelectApplication(std::uint32_t nIndex) override;
  void RefreshPanel() override;
  void EnableApply(bool blEnable) override;
  bool AskOkCancel(const std::string& sText, const std::string& sCaption) override;
  void ResetStartupSettings() override;
  void SetHostModePolling(bool blOn) override;
  void HideWindow() override;
  void FillApplicationList() override;
  void TellEditsDropped() override;

  bool m_blSilent;
  bool m_blKeepHidden = true;
  bool m_blInitialised = false;
  bool m_blEnding = false;  // done() was called: no small dialog opens any more
  UiLanguage m_language;
  QIcon m_hIcon;
  QEventLoop* m_pModalLoop = nullptr;
  QPointer<QDialog> m_pModalDlg;
  std::unique_ptr<platform::KeySink> m_pKeySink;
  std::unique_ptr<CEndpointLink> m_pLink;  // before the core, which posts through it
  std::unique_ptr<CResidentCore> m_pCore;
  std::unique_ptr<CTrayIcon> m_pTrayIcon;
  CControllerPicture* m_pPicture = nullptr;
  CSpeedControls* m_pSpeeds = nullptr;
  CKeyPanel* m_pPanel = nullptr;
  QMenu* m_pWindowMenu = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pCancel = nullptr;
  QPushButton* m_pApply = nullptr;
  // The core's last choice of application while the controls did not exist: its record's
  // name, and its index should the name be gone by the time they are made. -1: none.
  int m_nPendingApp = -1;
  QByteArray m_pendingAppName;
  CWheelScore m_wheelScore;  // counts per second, toggled by a double-click on the wheel
  std::unique_ptr<platform::HidMonitor> m_pMonitor;
  std::unique_ptr<QSocketNotifier> m_pMonitorNotifier;
  std::unique_ptr<platform::ForegroundTracker> m_pForeground;
  std::unique_ptr<QSocketNotifier> m_pForegroundNotifier;
  std::unique_ptr<QSocketNotifier> m_pLinkNotifier;
  std::unique_ptr<QSocketNotifier> m_pEditorWatchNotifier;  // the editor's process ending
  unsigned m_nEditorWatchSerial = 0;
  QTimer m_hostModeTimer;    // 100 ms while a host-mode profile is current
  QTimer m_reconnectTimer;   // while a controller is present but cannot be opened
};

}  // namespace orb
