#pragma once
// The program's one window, run modally for the whole life of the program. It starts
// hidden and stays hidden until "Show Window..." (m_blKeepHidden); OK and Cancel hide it
// again without ending the program. Worker threads reach it only through
// MessageTarget::Post, which queues a custom event for this window's thread.

#include <cstdint>

#include <QDialog>

#include "base/message_target.h"

class QEventLoop;

namespace orb {

class CMainDialog final : public QDialog, public MessageTarget {
 public:
  // blSilent: started with "/S" from the session's autostart (m_blSilent).
  explicit CMainDialog(bool blSilent, QWidget* pParent = nullptr);
  ~CMainDialog() override;

  // Runs the window's loop until done() (Exit, or EndProgram) and returns the result.
  // Unlike QDialog::exec() the loop does not end when the window is hidden.
  int RunModal();

  void Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) override;

  // Ends the program the orderly way, as the tray menu's Exit does but without a check
  // that could refuse: closes a small dialog open over the window, then ends the modal
  // loop. The shell calls it on SIGTERM, SIGINT and SIGHUP.
  void EndProgram();

  bool IsSilent() const { return m_blSilent; }

  // Refuses to show the window while m_blKeepHidden is set, so RunModal's show() and
  // anything else that shows it leave it hidden.
  void setVisible(bool blVisible) override;

  void done(int nResult) override;
  // The close box and Esc act as Cancel: they hide the window, never end the program.
  void reject() override;

 protected:
  bool event(QEvent* pEvent) override;

 private:
  void OnMessage(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam);

  bool m_blSilent;
  bool m_blKeepHidden = true;
  QEventLoop* m_pModalLoop = nullptr;
};

}  // namespace orb
