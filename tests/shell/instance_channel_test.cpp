#include "shell/instance_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>

#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using orb::AskFirstInstance;
using orb::CInstanceServer;
using orb::FirstInstanceReply;

// The first instance answers from this thread's event loop while the second one asks,
// blocking, from another thread.
FirstInstanceReply AskWhileServing(const QString& path, int nTimeoutMs,
                                   const std::function<void()>& whileWaiting = {}) {
  auto reply = std::async(std::launch::async, [&] { return AskFirstInstance(path, nTimeoutMs); });
  bool blDone = false;
  while (!blDone) {
    QCoreApplication::processEvents();
    if (whileWaiting) {
      whileWaiting();
    }
    blDone = reply.wait_for(2ms) == std::future_status::ready;
  }
  return reply.get();
}

// A socket that accepts connections into its backlog and never answers: a hung instance.
class SilentListener final {
 public:
  explicit SilentListener(const std::string& path) {
    m_hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    m_blOk = ::bind(m_hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::listen(m_hSocket, 4) == 0;
  }
  ~SilentListener() { ::close(m_hSocket); }
  bool Ok() const { return m_blOk; }

 private:
  int m_hSocket = -1;
  bool m_blOk = false;
};

class InstanceChannel : public ::testing::Test {
 protected:
  QString SocketPath() const { return QString::fromStdString(m_dir / "Running ORB.sock"); }
  orb::test::TempDir m_dir;
};

TEST_F(InstanceChannel, ReportsWhetherTheFirstWindowWasShown) {
  int nRequests = 0;
  bool blVisible = true;
  CInstanceServer server([&] {
    ++nRequests;
    return blVisible;
  });
  ASSERT_TRUE(server.Listen(SocketPath()));
  EXPECT_EQ(AskWhileServing(SocketPath(), 5000), FirstInstanceReply::Shown);
  blVisible = false;
  EXPECT_EQ(AskWhileServing(SocketPath(), 5000), FirstInstanceReply::Hidden);
  EXPECT_EQ(nRequests, 2);
}

TEST_F(InstanceChannel, NoAnswerWithinTheTimeoutWhenNoOneListensOrAnswers) {
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(AskFirstInstance(SocketPath(), 300), FirstInstanceReply::NoAnswer);
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, 250ms) << "a first instance that is still starting gets its time";
  EXPECT_LT(elapsed, 3s);

  SilentListener hung(SocketPath().toStdString());
  ASSERT_TRUE(hung.Ok());
  started = std::chrono::steady_clock::now();
  EXPECT_EQ(AskFirstInstance(SocketPath(), 300), FirstInstanceReply::NoAnswer);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST_F(InstanceChannel, WaitsForAFirstInstanceThatStartsListeningLate) {
  std::unique_ptr<CInstanceServer> server;
  const auto started = std::chrono::steady_clock::now();
  const auto reply = AskWhileServing(SocketPath(), 10000, [&] {
    if (!server && std::chrono::steady_clock::now() - started > 200ms) {
      server = std::make_unique<CInstanceServer>([] { return false; });
      ASSERT_TRUE(server->Listen(SocketPath()));
    }
  });
  EXPECT_EQ(reply, FirstInstanceReply::Hidden);
}

TEST_F(InstanceChannel, ListenReplacesAStaleSocketAndIgnoresStrangers) {
  { SilentListener crashed(SocketPath().toStdString()); }  // its file stays behind
  ASSERT_TRUE(QFile::exists(SocketPath()));
  int nRequests = 0;
  CInstanceServer server([&] {
    ++nRequests;
    return false;
  });
  ASSERT_TRUE(server.Listen(SocketPath()));

  // A client that sends something else is dropped without an answer...
  QLocalSocket stranger;
  stranger.connectToServer(SocketPath());
  ASSERT_TRUE(stranger.waitForConnected(5000));
  stranger.write("hello there\n");
  stranger.flush();
  bool blClosed = false;
  QObject::connect(&stranger, &QLocalSocket::disconnected, [&] { blClosed = true; });
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!blClosed && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  EXPECT_TRUE(blClosed);
  EXPECT_EQ(stranger.bytesAvailable(), 0);
  EXPECT_EQ(nRequests, 0);
  // ...and the next proper request is still served.
  EXPECT_EQ(AskWhileServing(SocketPath(), 5000), FirstInstanceReply::Hidden);
  EXPECT_EQ(nRequests, 1);
}

}  // namespace
