#include "ui/main_dialog.h"

#include <unistd.h>

#include <cinttypes>

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>

#include "base/write_log.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/hid/hid_monitor.h"
#include "platform/keys/key_sink.h"
#include "platform/time/clock.h"
#include "profiles/default_tables.h"
#include "profiles/profile_table.h"
#include "resident/abrupt_exit.h"
#include "resident/endpoint_link.h"
#include "resident/resident_core.h"
#include "shell/settings_store.h"
#include "ui/about_dialog.h"
#include "ui/controller_picture.h"
#include "ui/key_panel.h"
#include "ui/resident_notice.h"
#include "ui/speed_controls.h"
#include "ui/tray_icon.h"
#include "ui/ui_texts.h"

// The icons are compiled into this static library; their registration must be called.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace orb {
namespace {

constexpr int kIdsAboutItem = 101;  // the window menu's About, which differs from the tray's in Japanese
constexpr int kIdsProductName = 102;
constexpr int kHostModePollMs = 100;
constexpr std::uintptr_t kFirstProgramCode = 601;  // the programmable buttons' control codes
constexpr std::uintptr_t kLastProgramCode = 605;
// While a controller is listed but cannot be opened (its node's permissions), look again
// this often: udev may fix the permissions without telling us by an event we watch.
constexpr int kReconnectPollMs = 500;

QEvent::Type PostedMessageType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

class CPostedMessageEvent final : public QEvent {
 public:
  CPostedMessageEvent(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam)
      : QEvent(PostedMessageType()), m_nMsg(nMsg), m_wParam(wParam), m_lParam(lParam) {}

  std::uint32_t m_nMsg;
  std::uintptr_t m_wParam;
  std::intptr_t m_lParam;
};

QIcon ProgramIcon() {
  InitIconResources();
  return QIcon(QStringLiteral(":/icons/orb.svg"));
}

}  // namespace

CMainDialog::CMainDialog(bool blSilent, QWidget* pParent) : CMainDialog(blSilent, ResidentConfig{}, pParent) {}

CMainDialog::CMainDialog(bool blSilent, const ResidentConfig& config, QWidget* pParent)
    : QDialog(pParent), m_blSilent(blSilent), m_language(CurrentUiLanguage()), m_hIcon(ProgramIcon()) {
  ResidentConfig core = config;
  core.language = m_language;
  if (core.defaultTable.empty()) core.defaultTable = DefaultTable(m_language);
  if (core.nOwnPid == 0) core.nOwnPid = static_cast<int>(::getpid());
  if (core.pClock == nullptr) core.pClock = &platform::RealClock();
  if (core.pKeySink == nullptr) {
    m_pKeySink = platform::SelectKeySink(*core.pClock);
    core.pKeySink = m_pKeySink.get();
  }
  if (core.pEditorLink == nullptr) {
    std::string sError;
    const std::string sDirectory = platform::DefaultLinkDirectory(&sError);
    auto pEndpoint = sDirectory.empty() ? nullptr : platform::CLinkEndpoint::Open(sDirectory, &sError);
    if (pEndpoint) {
      m_pLink = std::make_unique<CEndpointLink>(std::move(pEndpoint));
      core.pEditorLink = m_pLink.get();
    } else {
      WriteLog("CMainDialog: no editor link: %s\r\n", sError.c_str());
    }
  }
  ResidentView& view = *this;
  m_pCore = std::make_unique<CResidentCore>(view, *this, std::move(core));
  m_pTrayIcon = std::make_unique<CTrayIcon>(m_language, m_hIcon);

  setWindowIcon(m_hIcon);
  setWindowTitle(QString::fromUtf8(LoadString(kIdsProductName, m_language)));
  CTrayIcon& tray = *m_pTrayIcon;
  connect(&tray, &CTrayIcon::ShowWindowRequested, this, &CMainDialog::OnSet);
  connect(&tray.ShowWindowAction(), &QAction::triggered, this, &CMainDialog::OnSet);
  // Queued: these run a dialog's loop, which must not run inside the menu's own event
  // handling, or the menu cannot open again until that dialog is gone.
  connect(&tray.SetDefaultAction(), &QAction::triggered, this, &CMainDialog::OnSetDefault, Qt::QueuedConnection);
  connect(&tray.StayAction(), &QAction::triggered, this, &CMainDialog::OnStayAtStartup);
  connect(&tray.AboutAction(), &QAction::triggered, this, &CMainDialog::OnAbout, Qt::QueuedConnection);
  connect(&tray.ExitAction(), &QAction::triggered, this, &CMainDialog::OnExit);
  BuildWindowMenu();

  m_hostModeTimer.setInterval(kHostModePollMs);
  connect(&m_hostModeTimer, &QTimer::timeout, this, [this] { m_pCore->PollHostMode(); });
  m_reconnectTimer.setInterval(kReconnectPollMs);
  connect(&m_reconnectTimer, &QTimer::timeout, this, &CMainDialog::ConnectController);
}

void CMainDialog::BuildWindowMenu() {
  // The tray's commands on the window's own right-click menu, for setups where no tray
  // host shows the icon. A menu of the window's own, opened only from the window's own
  // contextMenuEvent: the tray menu stays the icon's alone. "Stay" is the tray's action,
  // so both show one check mark; About is the window menu's own text (string 101).
  CTrayIcon& tray = *m_pTrayIcon;
  m_pWindowMenu = new QMenu(this);
  m_pWindowMenu->setObjectName(QStringLiteral("WindowMenu"));
  m_pWindowMenu->addAction(&tray.SetDefaultAction());
  m_pWindowMenu->addAction(&tray.StayAction());
  QAction* pAbout = m_pWindowMenu->addAction(QString::fromUtf8(LoadString(kIdsAboutItem, m_language)));
  connect(pAbout, &QAction::triggered, this, &CMainDialog::OnAbout, Qt::QueuedConnection);
  m_pWindowMenu->addSeparator();
  m_pWindowMenu->addAction(&tray.ExitAction());
  setContextMenuPolicy(Qt::DefaultContextMenu);
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* pEvent) {
  m_pWindowMenu->popup(pEvent->globalPos());
  pEvent->accept();
}

void CMainDialog::EnsureControls() {
  if (m_pPanel != nullptr) {
    return;
  }
  BuildControls();
  m_pApply->setEnabled(m_pCore->Store().IsModified());
  if (m_blInitialised && m_pCore->Store().Profiles() != nullptr) {
    m_pPanel->FillApplicationList();
    if (m_nPendingApp >= 0) {
      // By name, as the list would have kept it through a change of table; else its place.
      const int nCount = m_pPanel->ApplicationList().count();
      int nIndex = m_pPanel->ApplicationList().findData(m_pendingAppName);
      if (nIndex < 0) nIndex = m_nPendingApp < nCount ? m_nPendingApp : 0;
      m_pPanel->SelectApplicationIndex(nIndex);
    }
  }
  m_nPendingApp = -1;
  m_pendingAppName.clear();

  // Centred on the screen where it first appears; the user may move it from there.
  adjustSize();
  if (const QScreen* pScreen = QGuiApplication::primaryScreen()) {
    const QRect area = pScreen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
}

void CMainDialog::BuildControls() {
  const PanelTexts& texts = PanelText(m_language);
  m_pPicture = new CControllerPicture(this);
  m_pPicture->setObjectName(QStringLiteral("Control1007"));
  m_pSpeeds = new CSpeedControls(m_language, this);
  CKeyPanel::Host host;
  host.setModified = [this](bool blModified) { m_pCore->SetModified(blModified); };
  host.runSmallDialog = [this](QDialog& dialog) {
    RunSmallDialog(dialog);
    return dialog.result() == QDialog::Accepted;
  };
  m_pPanel = new CKeyPanel(m_language, m_pCore->Store(), *m_pPicture, *m_pSpeeds, std::move(host), this);
  connect(m_pPicture, &CControllerPicture::ProgramButtonClicked, this,
          [this](int nCode) { m_pPanel->SelectControl(static_cast<std::uint32_t>(nCode)); });
  connect(m_pPicture, &CControllerPicture::WheelDoubleClicked, this, &CMainDialog::OnWheelDoubleClick);
  connect(m_pSpeeds, &CSpeedControls::Modified, this, [this] { m_pCore->SetModified(true); });

  m_pOk = new QPushButton(QString::fromUtf8(texts.pOk), this);
  m_pOk->setObjectName(QStringLiteral("Control1"));
  m_pOk->setDefault(true);
  connect(m_pOk, &QPushButton::clicked, this, &CMainDialog::accept);
  m_pCancel = new QPushButton(QString::fromUtf8(texts.pCancel), this);
  m_pCancel->setObjectName(QStringLiteral("Control2"));
  m_pCancel->setAutoDefault(false);
  connect(m_pCancel, &QPushButton::clicked, this, &CMainDialog::reject);
  m_pApply = new QPushButton(QString::fromUtf8(texts.pApply), this);
  m_pApply->setObjectName(QStringLiteral("Control3"));
  m_pApply->setAutoDefault(false);
  m_pApply->setEnabled(false);
  connect(m_pApply, &QPushButton::clicked, this, &CMainDialog::OnApply);

  // The picture on the left, the panel and the speeds beside it, the dialog's buttons
  // below; one fixed size, as the picture's pixels are fixed.
  auto* pRight = new QVBoxLayout;
  pRight->addWidget(m_pPanel);
  pRight->addWidget(m_pSpeeds);
  pRight->addStretch(1);
  auto* pTop = new QHBoxLayout;
  pTop->addWidget(m_pPicture, 0, Qt::AlignTop);
  pTop->addSpacing(8);
  pTop->addLayout(pRight, 1);
  auto* pButtons = new QHBoxLayout;
  pButtons->addStretch(1);
  pButtons->addWidget(m_pOk);
  pButtons->addWidget(m_pCancel);
  pButtons->addWidget(m_pApply);
  auto* pLayout = new QVBoxLayout(this);
  pLayout->addLayout(pTop);
  pLayout->addSpacing(6);
  pLayout->addLayout(pButtons);
  pLayout->setSizeConstraint(QLayout::SetFixedSize);

  // Tab follows the layout: the strip's buttons top left, then the panel from the
  // application list down, the speeds, and the dialog's buttons. The window opens on
  // the application list, where every edit begins.
  QList<QWidget*> order;
  for (int k = 0; k < CControllerPicture::kProgramButtons; ++k) order << &m_pPicture->ProgramButton(k);
  order << m_pPanel->FocusOrder() << &m_pSpeeds->JogSlider() << &m_pSpeeds->ShuttleSlider() << m_pOk << m_pCancel
        << m_pApply;
  for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  m_pPanel->ApplicationList().setFocus();
}

CMainDialog::~CMainDialog() {
  Finish();
  // Before the core's store goes with this object's members: the panel points into it.
  delete m_pPanel;
  m_pPanel = nullptr;
  WriteLog("CMainDialog: destroyed\r\n");
}

void CMainDialog::Initialise() {
  m_blInitialised = true;
  m_pForeground = platform::SelectForegroundTracker();
  const platform::ForegroundWindow front = m_pForeground->Current();
  m_pCore->Initialise(front.nWindow, front.nPid, front.nStartTime, front.sApplication);
  EndCoreAtExit(m_pCore.get());  // the display may go away without a word
  if (HasControls() && m_pCore->Store().Profiles() != nullptr) {
    m_pPanel->FillApplicationList();
  }
  m_pCore->SetModified(false);

  // Hidden until "Show Window...", which makes the controls and centres the window.
  setWindowFlag(Qt::WindowStaysOnTopHint, true);

  // Shown even without a notification area: a panel that starts after us (the session's
  // autostart races it) docks the icon when it comes.
  m_pTrayIcon->SetIcon(QString::fromStdString(m_pCore->TrayTip()));
  if (!CTrayIcon::TrayAvailable()) {
    WriteLog("CMainDialog: no notification area; start the program again to show its window\r\n");
  }
  std::uint32_t dwStartup = 1;
  MX8RegGetValue(&dwStartup, "Startup");
  m_pTrayIcon->SetStartup(dwStartup != 0);
  std::uint32_t dwShowStay = 1;
  MX8RegGetValue(&dwShowStay, "ShowStay");
  if (dwShowStay != 0 && !m_blSilent && m_pModalDlg == nullptr) {
    // After the loop runs, so that Exit and signals can reach the notice.
    QTimer::singleShot(0, this, &CMainDialog::ShowResidentNotice);
  }
  StartWatching();
  ConnectController();
}

void CMainDialog::StartWatching() {
  m_pForeground->SetListener([this](const platform::ForegroundWindow& front) {
    m_pCore->CheckForegroundWindow(front.nWindow, front.nPid, front.nStartTime, front.sApplication);
  });
  if (m_pForeground->Fd() >= 0) {
    m_pForegroundNotifier = std::make_unique<QSocketNotifier>(m_pForeground->Fd(), QSocketNotifier::Read);
    connect(m_pForegroundNotifier.get(), &QSocketNotifier::activated, this, [this] { m_pForeground->Dispatch(); });
  }
  if (m_pLink) {
    m_pLinkNotifier = std::make_unique<QSocketNotifier>(m_pLink->Endpoint().Fd(), QSocketNotifier::Read);
    connect(m_pLinkNotifier.get(), &QSocketNotifier::activated, this, &CMainDialog::OnEditorLink);
  }
  FollowEditorWatch();
  m_pMonitor = platform::CreateHidMonitor();
  if (m_pMonitor && m_pMonitor->Fd() >= 0) {
    m_pMonitorNotifier = std::make_unique<QSocketNotifier>(m_pMonitor->Fd(), QSocketNotifier::Read);
    connect(m_pMonitorNotifier.get(), &QSocketNotifier::activated, this, [this] {
      if (m_pMonitor->Dispatch()) ConnectController();
    });
  } else {
    // No event source: fall back to looking every so often.
    m_reconnectTimer.start();
  }
}

void CMainDialog::OnEditorLink() {
  platform::LinkMessage message;
  while (m_blInitialised && m_pLink->Endpoint().Receive(&message)) {
    m_pCore->OnEditorMessage(message.dwParam, message.sSender, std::move(message.fdBlock), message.nSenderPid);
    FollowEditorWatch();
  }
}

void CMainDialog::FollowEditorWatch() {
  // While an editor holds the link the tray icon takes no clicks.
  m_pTrayIcon->SetIgnoreClicks(!m_pCore->EditorWindow().empty());
  if (m_pCore->EditorWatchSerial() == m_nEditorWatchSerial) {
    return;
  }
  m_nEditorWatchSerial = m_pCore->EditorWatchSerial();
  if (m_pEditorWatchNotifier) {
    // This may run inside the notifier's own signal: it goes once that has returned.
    m_pEditorWatchNotifier->setEnabled(false);
    m_pEditorWatchNotifier.release()->deleteLater();
  }
  if (m_pCore->EditorWatchFd() >= 0) {
    m_pEditorWatchNotifier = std::make_unique<QSocketNotifier>(m_pCore->EditorWatchFd(), QSocketNotifier::Read);
    connect(m_pEditorWatchNotifier.get(), &QSocketNotifier::activated, this, [this] {
      m_pCore->OnEditorGone();
      FollowEditorWatch();
    });
  }
}

void CMainDialog::ConnectController() {
  const bool blConnected = m_pCore->ConnectController();
  if (blConnected || !m_pCore->ControllerPresentButClosed()) {
    if (m_pMonitor) m_reconnectTimer.stop();
  } else if (!m_reconnectTimer.isActive()) {
    m_reconnectTimer.start();
  }
}

void CMainDialog::Finish() {
  if (!m_blInitialised) {
    return;
  }
  m_blInitialised = false;
  m_hostModeTimer.stop();
  m_reconnectTimer.stop();
  m_pMonitorNotifier.reset();
  m_pForegroundNotifier.reset();
  m_pLinkNotifier.reset();
  m_pEditorWatchNotifier.reset();
  EndCoreAtExit(nullptr);
  m_pCore->Destroy();
  m_pTrayIcon->RemoveIcon();
}

int CMainDialog::RunModal() {
  Initialise();
  QEventLoop loop;
  m_pModalLoop = &loop;
  setResult(0);
  show();  // refused while m_blKeepHidden is set
  loop.exec();
  m_pModalLoop = nullptr;
  Finish();
  return result();
}

bool CMainDialog::ExitSaveFailed() const { return m_pCore->ExitSaveFailed(); }

void CMainDialog::done(int nResult) {
  m_blEnding = true;
  QDialog::done(nResult);
  if (m_pModalLoop != nullptr) {
    m_pModalLoop->exit(nResult);
  }
}

void CMainDialog::Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) {
  QCoreApplication::postEvent(this, new CPostedMessageEvent(nMsg, wParam, lParam));
}

bool CMainDialog::event(QEvent* pEvent) {
  if (pEvent->type() == PostedMessageType()) {
    const auto* pMessage = static_cast<CPostedMessageEvent*>(pEvent);
    OnMessage(pMessage->m_nMsg, pMessage->m_wParam, pMessage->m_lParam);
    return true;
  }
  return QDialog::event(pEvent);
}

void CMainDialog::OnMessage(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!m_blInitialised) {
    return;  // after the end: the core has released everything these would touch
  }
  switch (nMsg) {
    case WM_SELECTPROFILE:
      m_pCore->OnSelectProfile();
      return;
    case WM_MODECHANGE:
      m_pCore->OnModeChange(wParam);
      return;
    case WM_SELECTCONTROL:
      // A button of the controller while this window (or a small dialog of it) is in
      // front: the choice is kept for the window even before it was ever shown. A window
      // not yet made has no choice to clear.
      if (HasControls() || (wParam >= kFirstProgramCode && wParam <= kLastProgramCode)) {
        KeyPanel().SelectControl(static_cast<std::uint32_t>(wParam));
      }
      return;
    case WM_WHEELMOVED:
      m_wheelScore.AddMovement(static_cast<int>(lParam));
      return;
    case WM_DEVICEREMOVED:
      m_pCore->OnDeviceRemoved();
      ConnectController();  // it may be back already; its arrival came before this
      return;
    default:
      WriteLog("CMainDialog: message %" PRIu32 " (%" PRIuPTR ", %" PRIdPTR ") not handled\r\n", nMsg, wParam, lParam);
  }
}

bool CMainDialog::HasTrayIcon() const { return m_pTrayIcon->Shown() && CTrayIcon::TrayAvailable(); }

void CMainDialog::OnSet() {
  if (m_pModalDlg != nullptr) {
    WriteLog("OnSet: show Window\r\n");
    m_pModalDlg->show();
    m_pModalDlg->raise();
    m_pModalDlg->activateWindow();
    return;
  }
  m_blKeepHidden = false;
  if (!isVisible()) {
    KeyPanel().ApplicationList().setFocus();  // opened anew, not brought back (makes the controls)
  }
  // Shown normally: a minimized window comes back too.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void CMainDialog::RunSmallDialog(QDialog& dialog) {
  m_pModalDlg = &dialog;
  // Modal to this window only: application-modal would block the tray icon (one of our
  // windows too), and its menu is how "Show Window..." and Exit reach the open dialog.
  dialog.setWindowModality(Qt::WindowModal);
  dialog.exec();
  m_pModalDlg = nullptr;
}

void CMainDialog::ShowResidentNotice() {
  if (m_pModalDlg != nullptr || m_blEnding) {
    return;
  }
  CResidentNotice notice(m_language, [](bool blHide) { MX8RegSetValue(blHide ? 0 : 1, "ShowStay"); }, this);
  RunSmallDialog(notice);
}

void CMainDialog::OnAbout() {
  if (m_pModalDlg != nullptr) {
    OnSet();  // one small dialog at a time: bring the open one forward
    return;
  }
  if (m_blEnding) {
    return;
  }
  CAboutDialog about(m_language, m_hIcon, this);
  RunSmallDialog(about);
}

void CMainDialog::OnSetDefault() {
  if (m_pModalDlg != nullptr) {
    OnSet();  // one small dialog at a time, and no table replaced under an open one
    return;
  }
  if (m_blEnding) {
    return;
  }
  m_pCore->OnSetDefault();
}

void CMainDialog::OnStayAtStartup() {
  CTrayIcon& tray = *m_pTrayIcon;
  tray.SetStartup(!tray.Startup());
  MX8RegSetValue(tray.Startup() ? 1 : 0, "Startup");
}

void CMainDialog::OnExit() {
  if (m_pModalDlg != nullptr) {
    m_pModalDlg->reject();
  }
  done(QDialog::Accepted);
}

void CMainDialog::setVisible(bool blVisible) {
  if (blVisible && m_blKeepHidden) {
    return;
  }
  if (blVisible) {
    EnsureControls();
  }
  QDialog::setVisible(blVisible);
}

void CMainDialog::reject() {
  m_pCore->CancelEdits();
  if (m_pPanel != nullptr) m_pPanel->ShowFirstApplication();
  hide();
}

void CMainDialog::accept() {
  if (!Save()) {
    return;  // the window stays, with the user's edits in use, until they decide
  }
  if (m_pPanel != nullptr) m_pPanel->ShowFirstApplication();
  hide();
}

bool CMainDialog::OnApply() { return Save(); }

void CMainDialog::OnWheelDoubleClick() {
  const std::optional<std::string> text = m_wheelScore.Toggle();
  if (!text || m_pModalDlg != nullptr || m_blEnding) {
    return;
  }
  // The text breaks its line the Windows way; a Qt label wants a bare newline.
  QString sText = QString::fromStdString(*text);
  sText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::NoIcon, QString(), sText, QMessageBox::Ok, this);
  RunSmallDialog(box);
}

bool CMainDialog::Save() {
  if (m_pCore->Store().Profiles() == nullptr) {
    // No table (the editor holds it, or none could be read): nothing of ours to save or lose.
    m_pCore->SetModified(false);
    return true;
  }
  if (m_pCore->SaveProfiles()) {
    return true;
  }
  // The edits are live now all the same; only the data file did not take them.
  const std::string& sProblem = m_pCore->Store().SaveProblem();
  WriteLog("CMainDialog: profiles not saved: %s\r\n", sProblem.c_str());
  QMessageBox box(QMessageBox::Warning, windowTitle(),
                  QString::fromUtf8(PanelText(m_language).pSaveFailed).arg(QString::fromStdString(sProblem)),
                  QMessageBox::Ok, this);
  RunSmallDialog(box);
  return false;
}

void CMainDialog::EndProgram() {
  // Close the small modal dialogs over the window first, topmost first, as Exit does.
  for (int i = 0; i < 16; ++i) {
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal == nullptr || pModal == this) {
      break;
    }
    if (auto* pDialog = qobject_cast<QDialog*>(pModal)) {
      pDialog->reject();
    } else {
      pModal->close();
    }
  }
  if (m_pModalDlg != nullptr) {
    m_pModalDlg->reject();
  }
  done(QDialog::Accepted);
}

// ResidentView

void CMainDialog::SetTrayTip(const std::string& sTip) {
  if (m_blInitialised) {
    m_pTrayIcon->SetIcon(QString::fromStdString(sTip));
  }
}

void CMainDialog::SelectApplication(std::uint32_t nIndex) {
  if (m_pPanel != nullptr) {
    m_pPanel->SelectApplicationIndex(static_cast<int>(nIndex));
    return;
  }
  const ProfileRecord* pTable = m_pCore->Store().Profiles();
  if (pTable != nullptr && nIndex < m_pCore->Store().ComSet()) {
    const std::string_view name = FieldText(pTable[nIndex].szAppName);
    m_nPendingApp = static_cast<int>(nIndex);
    m_pendingAppName = QByteArray(name.data(), static_cast<qsizetype>(name.size()));
  }
}

void CMainDialog::RefreshPanel() {
  if (m_pPanel != nullptr) m_pPanel->RefreshPanel();
}

void CMainDialog::EnableApply(bool blEnable) {
  if (m_pApply != nullptr) m_pApply->setEnabled(blEnable);
}

bool CMainDialog::AskOkCancel(const std::string& sText, const std::string& sCaption) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(sCaption), QString::fromStdString(sText),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setWindowIcon(m_hIcon);
  RunSmallDialog(box);
  return box.clickedButton() == box.button(QMessageBox::Ok);
}

void CMainDialog::ResetStartupSettings() {
  MX8RegSetValue(1, "Startup");
  MX8RegSetValue(1, "ShowStay");
  m_pTrayIcon->SetStartup(true);
}

void CMainDialog::HideWindow() { hide(); }

void CMainDialog::TellEditsDropped() {
  WriteLog("CMainDialog: unapplied edits discarded for the editor's table\r\n");
  // Later, from the loop: the core is in the middle of an editor message now, and a modal
  // box here would let the next one in before this one is done.
  QTimer::singleShot(0, this, [this] {
    if (m_pModalDlg != nullptr || m_blEnding || !m_blInitialised) {
      return;
    }
    QMessageBox box(QMessageBox::Information, windowTitle(), QString::fromUtf8(PanelText(m_language).pEditsDropped),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("EditsDropped"));
    RunSmallDialog(box);
  });
}

void CMainDialog::FillApplicationList() {
  if (m_pPanel != nullptr) {
    m_pPanel->FillApplicationList();
    return;
  }
  m_nPendingApp = -1;  // a new table starts at its first entry
  m_pendingAppName.clear();
}

void CMainDialog::SetHostModePolling(bool blOn) {
  if (blOn) {
    m_hostModeTimer.start();
  } else {
    m_hostModeTimer.stop();
  }
}

}  // namespace orb
