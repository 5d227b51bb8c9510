#pragma once
// The application object: refuses a second copy, reads the options, opens the log when
// asked and runs the main window for the whole life of the program.

#include <memory>
#include <string>

#include <QApplication>

#include "shell/instance_lock.h"

namespace orb {

class CInstanceServer;
class CMainDialog;
class CSignalWatcher;

class CResidentApp final {
 public:
  CResidentApp(int& argc, char** argv);
  ~CResidentApp();
  CResidentApp(const CResidentApp&) = delete;
  CResidentApp& operator=(const CResidentApp&) = delete;

  // The program's whole life. Returns false on every path; main() then ends with
  // ExitStatus().
  bool InitInstance();
  // 0, or 1 when the end found profiles it could not save (the log says why).
  int ExitStatus() const { return m_nExitStatus; }

 private:
  // Step 2: true when this process is the one instance. Otherwise it has pointed the
  // user at the running one (or failed to set up the lock) and the program ends.
  bool ClaimSingleInstance();
  // Asked by a second start: brings the window (or the dialog over it) to the front
  // when it is visible, shows it when there is no tray icon to reach it by, and says
  // whether it is shown now.
  bool ShowToSecondInstance();

  std::string m_strCommandLine;  // taken before Qt removes the options it knows
  QApplication m_app;
  bool m_blLog = false;
  bool m_blSilent = false;
  CInstanceLock m_instanceLock;
  std::unique_ptr<CInstanceServer> m_pInstanceServer;
  std::unique_ptr<CSignalWatcher> m_pSignalWatcher;
  CMainDialog* m_pMainDialog = nullptr;  // while the window runs
  int m_nExitStatus = 0;
};

}  // namespace orb
