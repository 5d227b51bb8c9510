#include "platform/hid/sim_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace orb::platform {

namespace {

bool FillAddress(const std::string& sPath, sockaddr_un* pAddress) {
  std::memset(pAddress, 0, sizeof *pAddress);
  pAddress->sun_family = AF_UNIX;
  if (sPath.empty() || sPath.size() >= sizeof pAddress->sun_path) return false;
  std::memcpy(pAddress->sun_path, sPath.c_str(), sPath.size() + 1);
  return true;
}

}  // namespace

UniqueFd ConnectSimSocket(const std::string& sPath) {
  sockaddr_un address;
  if (!FillAddress(sPath, &address)) {
    errno = ENAMETOOLONG;
    return UniqueFd();
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return fd;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return UniqueFd();
  return fd;
}

UniqueFd ListenSimSocket(const std::string& sPath, std::string* pError) {
  sockaddr_un address;
  if (!FillAddress(sPath, &address)) {
    *pError = "socket path is empty or too long: " + sPath;
    return UniqueFd();
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    *pError = std::string("socket: ") + std::strerror(errno);
    return fd;
  }
  ::unlink(sPath.c_str());
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.Get(), 8) != 0) {
    *pError = sPath + ": " + std::strerror(errno);
    return UniqueFd();
  }
  return fd;
}

bool SendSimMessage(int nFd, SimMessageType type, const std::uint8_t* pPayload, std::size_t nPayload) {
  std::vector<std::uint8_t> message;
  if (!EncodeSimMessage(type, pPayload, nPayload, &message)) return false;
  for (;;) {
    const ssize_t n = ::send(nFd, message.data(), message.size(), MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(message.size())) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

long ReceiveSimMessage(int nFd, std::uint8_t* pBuffer, int nTimeoutMs) {
  pollfd p{nFd, POLLIN, 0};
  for (;;) {
    const int nReady = ::poll(&p, 1, nTimeoutMs);
    if (nReady < 0 && errno == EINTR) continue;
    if (nReady <= 0) return -1;
    break;
  }
  for (;;) {
    const ssize_t n = ::recv(nFd, pBuffer, kSimMaxMessage, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return errno == ECONNRESET ? 0 : -1;
  }
}

}  // namespace orb::platform
