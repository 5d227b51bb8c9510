#include "shell/instance_channel.h"

#include <algorithm>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include "base/write_log.h"

namespace orb {
namespace {

constexpr char kRequest[] = "show\n";
constexpr char kReplyShown[] = "shown\n";
constexpr char kReplyHidden[] = "hidden\n";
constexpr qint64 kMaxLine = 64;           // anything longer is not one of ours
constexpr int kClientLifetimeMs = 5000;   // a client that never finishes is dropped
constexpr unsigned long kRetryPauseMs = 20;

}  // namespace

FirstInstanceReply AskFirstInstance(const QString& socketPath, int nTimeoutMs) {
  const QDeadlineTimer deadline(nTimeoutMs);
  QLocalSocket socket;
  for (;;) {
    socket.connectToServer(socketPath);
    if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
      break;
    }
    socket.abort();
    if (deadline.hasExpired()) {
      return FirstInstanceReply::NoAnswer;
    }
    // The first instance holds the lock but may not listen yet.
    QThread::msleep(std::min<unsigned long>(kRetryPauseMs, static_cast<unsigned long>(deadline.remainingTime())));
  }
  socket.write(kRequest);
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
    return FirstInstanceReply::NoAnswer;
  }
  while (!socket.canReadLine()) {
    if (deadline.hasExpired() || socket.bytesAvailable() > kMaxLine ||
        !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
      return FirstInstanceReply::NoAnswer;
    }
  }
  const QByteArray reply = socket.readLine(kMaxLine + 1);
  if (reply == kReplyShown) {
    return FirstInstanceReply::Shown;
  }
  if (reply == kReplyHidden) {
    return FirstInstanceReply::Hidden;
  }
  return FirstInstanceReply::NoAnswer;
}

CInstanceServer::CInstanceServer(std::function<bool()> onShowRequest) : m_onShowRequest(std::move(onShowRequest)) {
  m_server.setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] { OnNewConnection(); });
}

CInstanceServer::~CInstanceServer() { m_server.close(); }

bool CInstanceServer::Listen(const QString& socketPath) {
  QLocalServer::removeServer(socketPath);
  if (!m_server.listen(socketPath)) {
    WriteLog("CInstanceServer: listen on %s failed: %s\r\n", socketPath.toUtf8().constData(),
             m_server.errorString().toUtf8().constData());
    return false;
  }
  return true;
}

void CInstanceServer::OnNewConnection() {
  while (QLocalSocket* pSocket = m_server.nextPendingConnection()) {
    QObject::connect(pSocket, &QLocalSocket::disconnected, pSocket, &QObject::deleteLater);
    QTimer::singleShot(kClientLifetimeMs, pSocket, [pSocket] { pSocket->abort(); });
    QObject::connect(pSocket, &QLocalSocket::readyRead, pSocket, [this, pSocket] {
      if (!pSocket->canReadLine()) {
        if (pSocket->bytesAvailable() > kMaxLine) {
          pSocket->abort();
        }
        return;
      }
      const QByteArray request = pSocket->readLine(kMaxLine + 1);
      if (request != kRequest) {
        pSocket->abort();
        return;
      }
      const bool blShown = m_onShowRequest && m_onShowRequest();
      pSocket->write(blShown ? kReplyShown : kReplyHidden);
      pSocket->disconnectFromServer();  // after the reply has gone out
    });
  }
}

}  // namespace orb
