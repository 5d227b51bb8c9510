#pragma once
// How a second start learns about the first: the running instance listens on a local
// socket beside its lock file; the newcomer asks "show", and the first instance answers
// whether its window is visible (and, if so, has brought it to the front). The lock
// decides who runs; the socket only carries this one question.
//
// Wire format, one line each way: request "show\n", reply "shown\n" or "hidden\n".

#include <functional>
#include <memory>

#include <QLocalServer>
#include <QString>

namespace orb {

enum class FirstInstanceReply { Shown, Hidden, NoAnswer };

// Second instance. Retries the connection while the first instance may still be starting
// (it takes the lock before it listens) and gives up after nTimeoutMs in all, so a hung
// first instance cannot hang this one.
FirstInstanceReply AskFirstInstance(const QString& socketPath, int nTimeoutMs);

// First instance. onShowRequest runs on the thread that owns the server, for each
// request: it brings the window to the front if it is visible and returns whether it was.
class CInstanceServer final {
 public:
  explicit CInstanceServer(std::function<bool()> onShowRequest);
  ~CInstanceServer();
  CInstanceServer(const CInstanceServer&) = delete;
  CInstanceServer& operator=(const CInstanceServer&) = delete;

  // Only the holder of the instance lock may call this: it removes a socket file left
  // behind by a crashed instance before listening.
  bool Listen(const QString& socketPath);

 private:
  void OnNewConnection();

  std::function<bool()> m_onShowRequest;
  QLocalServer m_server;
};

}  // namespace orb
