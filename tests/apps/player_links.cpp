#include "player_links.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>

#include <thread>

namespace orb::test {
namespace {

constexpr int kReplyTimeoutMs = 5000;

// Reads what arrives within `nTimeoutMs` and appends it; false on end or error.
bool ReadInto(int hSocket, std::string& buffer, int nTimeoutMs) {
  pollfd item{hSocket, POLLIN, 0};
  if (::poll(&item, 1, nTimeoutMs) <= 0) return false;
  char chunk[4096];
  const ssize_t nRead = ::read(hSocket, chunk, sizeof chunk);
  if (nRead <= 0) return false;
  buffer.append(chunk, static_cast<std::size_t>(nRead));
  return true;
}

bool WriteAll(int hSocket, const std::string& text) {
  std::size_t nDone = 0;
  while (nDone < text.size()) {
    const ssize_t nWritten = ::send(hSocket, text.data() + nDone, text.size() - nDone, MSG_NOSIGNAL);
    if (nWritten <= 0) return false;
    nDone += static_cast<std::size_t>(nWritten);
  }
  return true;
}

}  // namespace

MpvLink::~MpvLink() {
  if (m_hSocket >= 0) ::close(m_hSocket);
}

bool MpvLink::Connect(const std::filesystem::path& socketPath, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.string().size() >= sizeof address.sun_path) return false;
  socketPath.string().copy(address.sun_path, sizeof address.sun_path - 1);
  do {
    const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      m_hSocket = hSocket;
      return true;
    }
    ::close(hSocket);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

void MpvLink::TakeLines(long nId, std::optional<QJsonObject>* pReply) {
  for (std::size_t nEnd = m_pending.find('\n'); nEnd != std::string::npos; nEnd = m_pending.find('\n')) {
    const std::string line = m_pending.substr(0, nEnd);
    m_pending.erase(0, nEnd + 1);
    const QJsonObject message = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    if (message.contains("event")) {
      m_events.push_back(message.value("event").toString().toStdString());
    } else if (pReply != nullptr && message.value("request_id").toInteger(-1) == nId) {
      *pReply = message;
      m_events.clear();
    }
  }
}

std::optional<QJsonObject> MpvLink::Ask(const std::string& sJsonArray) {
  if (m_hSocket < 0) return std::nullopt;
  const long nId = m_nNextId++;
  if (!WriteAll(m_hSocket, "{\"command\":" + sJsonArray + ",\"request_id\":" + std::to_string(nId) + "}\n")) {
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
  std::optional<QJsonObject> reply;
  for (;;) {
    TakeLines(nId, &reply);
    if (reply) return reply;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !ReadInto(m_hSocket, m_pending, static_cast<int>(left))) return std::nullopt;
  }
}

bool MpvLink::WaitForEvent(const std::string& sName, std::chrono::milliseconds timeout) {
  if (m_hSocket < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    TakeLines(0, nullptr);
    for (auto it = m_events.begin(); it != m_events.end(); ++it) {
      if (*it == sName) {
        m_events.erase(m_events.begin(), it + 1);
        return true;
      }
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !ReadInto(m_hSocket, m_pending, static_cast<int>(left))) return false;
  }
}

std::optional<QJsonValue> MpvLink::Get(const std::string& sProperty) {
  const auto reply = Ask("[\"get_property\",\"" + sProperty + "\"]");
  if (!reply || reply->value("error").toString() != "success") return std::nullopt;
  return reply->value("data");
}

std::optional<double> MpvLink::GetNumber(const std::string& sProperty) {
  const auto value = Get(sProperty);
  if (!value || !value->isDouble()) return std::nullopt;
  return value->toDouble();
}

std::optional<bool> MpvLink::GetFlag(const std::string& sProperty) {
  const auto value = Get(sProperty);
  if (!value || !value->isBool()) return std::nullopt;
  return value->toBool();
}

bool MpvLink::Command(const std::string& sJsonArray) {
  const auto reply = Ask(sJsonArray);
  return reply && reply->value("error").toString() == "success";
}

std::optional<QJsonObject> VlcLink::Status(const std::string& sQuery) {
  const int hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(m_nPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string response;
  if (::connect(hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const QByteArray credentials = QByteArray::fromStdString(":" + m_sPassword).toBase64();
    const std::string request = "GET /requests/status.json" + sQuery +
                                " HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic " +
                                credentials.toStdString() + "\r\n\r\n";
    if (WriteAll(hSocket, request)) {
      while (ReadInto(hSocket, response, kReplyTimeoutMs)) {
      }
    }
  }
  ::close(hSocket);
  const std::size_t nBody = response.find("\r\n\r\n");
  if (response.rfind("HTTP/1.", 0) != 0 || response.find(" 200 ") == std::string::npos ||
      nBody == std::string::npos) {
    return std::nullopt;
  }
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(response.substr(nBody + 4)));
  if (!document.isObject()) return std::nullopt;
  return document.object();
}

std::optional<double> VlcLink::Seconds() {
  const auto status = Status();
  if (!status) return std::nullopt;
  const double dLength = status->value("length").toDouble(-1);
  if (dLength <= 0) return std::nullopt;
  return status->value("position").toDouble() * dLength;
}

int FreeLoopbackPort() {
  const int hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t nLength = sizeof address;
  int nPort = 0;
  if (::bind(hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(hSocket, reinterpret_cast<sockaddr*>(&address), &nLength) == 0) {
    nPort = ntohs(address.sin_port);
  }
  ::close(hSocket);
  return nPort;
}

}  // namespace orb::test
