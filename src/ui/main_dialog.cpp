#include "ui/main_dialog.h"

#include <cinttypes>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

#include "base/write_log.h"

namespace orb {
namespace {

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

}  // namespace

CMainDialog::CMainDialog(bool blSilent, QWidget* pParent) : QDialog(pParent), m_blSilent(blSilent) {}

CMainDialog::~CMainDialog() { WriteLog("CMainDialog: destroyed\r\n"); }

int CMainDialog::RunModal() {
  QEventLoop loop;
  m_pModalLoop = &loop;
  setResult(0);
  show();  // refused while m_blKeepHidden is set
  loop.exec();
  m_pModalLoop = nullptr;
  return result();
}

void CMainDialog::done(int nResult) {
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
  WriteLog("CMainDialog: message %" PRIu32 " (%" PRIuPTR ", %" PRIdPTR ") not handled\r\n", nMsg, wParam, lParam);
}

void CMainDialog::setVisible(bool blVisible) {
  if (blVisible && m_blKeepHidden) {
    return;
  }
  QDialog::setVisible(blVisible);
}

void CMainDialog::reject() { hide(); }

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
  done(QDialog::Accepted);
}

}  // namespace orb
