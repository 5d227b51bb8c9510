#include "app/resident_app.h"

#include <cstdint>

#include <QString>
#include <QWidget>

#include "base/string_table.h"
#include "base/tick_count.h"
#include "base/write_log.h"
#include "platform/keys/key_guard.h"
#include "shell/already_running_message.h"
#include "shell/command_line.h"
#include "shell/instance_channel.h"
#include "shell/number_format.h"
#include "shell/runtime_dir.h"
#include "shell/settings_store.h"
#include "shell/signal_watcher.h"
#include "shell/startup_option.h"
#include "ui/main_dialog.h"

namespace orb {
namespace {

// Long enough for a busy first instance to answer, short enough that a hung one does not
// leave the user waiting for the message.
constexpr int kAskFirstInstanceMs = 3000;

QString SocketPath(const std::string& runtimeDir) {
  return QString::fromStdString(runtimeDir + "/" + kInstanceName + ".sock");
}

}  // namespace

CResidentApp::CResidentApp(int& argc, char** argv)
    : m_strCommandLine(JoinCommandLine(argc, argv)), m_app(argc, argv) {
  QApplication::setOrganizationName(QStringLiteral("TARN"));
  QApplication::setApplicationName(QStringLiteral("ORB"));
  // The hidden main window is the program's life; closing the last small dialog over it
  // must not quit every event loop.
  QApplication::setQuitOnLastWindowClosed(false);
  UseCNumberFormats();  // QApplication took LC_NUMERIC from the environment
  SetUiLanguage(SystemUiLanguage());
}

CResidentApp::~CResidentApp() = default;

bool CResidentApp::ClaimSingleInstance() {
  const std::string runtimeDir = RuntimeDirectory();
  if (runtimeDir.empty()) {
    return false;
  }
  switch (m_instanceLock.Acquire(runtimeDir + "/" + kInstanceName)) {
    case CInstanceLock::Result::Failed:
      return false;  // like a mutex that cannot be created: end without a word
    case CInstanceLock::Result::AlreadyRunning:
      // No answer (the first instance hangs or is still starting) is treated as hidden:
      // the user learns why nothing appeared.
      if (AskFirstInstance(SocketPath(runtimeDir), kAskFirstInstanceMs) != FirstInstanceReply::Shown) {
        ShowAlreadyRunningMessage();
      }
      return false;
    case CInstanceLock::Result::Acquired:
      break;
  }
  m_pInstanceServer = std::make_unique<CInstanceServer>([this] { return ShowToSecondInstance(); });
  m_pInstanceServer->Listen(SocketPath(runtimeDir));
  return true;
}

bool CResidentApp::ShowToSecondInstance() {
  if (m_pMainDialog == nullptr) {
    return false;
  }
  if (!m_pMainDialog->isVisible()) {
    if (m_pMainDialog->HasTrayIcon()) {
      return false;  // the icon is the way in; the second start says where it is
    }
    // No icon to double-click: a start of the program is the user's only way to the window.
    m_pMainDialog->OnSet();
    return true;
  }
  QWidget* pFront = QApplication::activeModalWidget();
  if (pFront == nullptr) {
    pFront = m_pMainDialog;
  }
  pFront->show();
  pFront->raise();
  pFront->activateWindow();
  return true;
}

bool CResidentApp::InitInstance() {
  WriteLog("Begin InitInstance : %d\r\n", TickCount());

  if (!ClaimSingleInstance()) {
    return false;
  }
  // Installed before the window exists: a signal that comes early waits in the pipe and
  // ends the window as soon as its loop runs.
  m_pSignalWatcher = std::make_unique<CSignalWatcher>([this](int) {
    if (m_pMainDialog != nullptr) {
      m_pMainDialog->EndProgram();
    }
  });
  m_pSignalWatcher->Install();

  const std::string upperCommandLine = ToUpperAscii(m_strCommandLine);
  WriteLog("Command-line : %s\r\n", upperCommandLine.c_str());

  if (!CheckStartupOption(upperCommandLine.c_str(), &m_blSilent, &MX8RegGetValue)) {
    return false;
  }

  m_blLog = HasLogOption(ToLowerAscii(m_strCommandLine));
  if (m_blLog) {
    StartLog("ORB.LOG");
  }

  WriteLog("Make main window : %d\r\n", TickCount());
  // Before the window makes the key sink, which marks its keys in the guard's record.
  platform::StartKeyGuard(RuntimeDirectory());
  {
    CMainDialog mainDialog(m_blSilent);
    m_pMainDialog = &mainDialog;
    mainDialog.RunModal();
    m_pMainDialog = nullptr;
    if (mainDialog.ExitSaveFailed()) {
      m_nExitStatus = 1;
    }
  }  // the window's destruction writes its last lines before the log closes

  if (m_blLog) {
    StopLog();
  }
  return false;
}

}  // namespace orb
