#include "platform/link/link_endpoint.h"

#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/write_log.h"

namespace orb::platform {

namespace {

// More than one, so that extra descriptors arrive (and are closed) instead of being cut off
// unseen; a sender of more than this gets MSG_CTRUNC and a refusal.
constexpr std::size_t kMaxFdsPerDatagram = 8;
// Room to see that a datagram is longer than a message.
constexpr std::size_t kReceiveBytes = 64;

std::atomic<unsigned> g_nSerial{0};

bool Fail(std::string* pError, const std::string& sReason) {
  WriteLog("CLinkEndpoint: %s\r\n", sReason.c_str());
  if (pError != nullptr) *pError = sReason;
  return false;
}

bool MakeAddress(const std::string& sPath, sockaddr_un* pAddress, socklen_t* pLength) {
  std::memset(pAddress, 0, sizeof *pAddress);
  pAddress->sun_family = AF_UNIX;
  if (sPath.empty() || sPath.size() >= sizeof pAddress->sun_path) return false;
  std::memcpy(pAddress->sun_path, sPath.data(), sPath.size());
  *pLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sPath.size() + 1);
  return true;
}

// Ours, a real directory, closed to others (mkdir's mode is cut by the umask, never widened).
bool EnsurePrivateDirectory(const std::string& sDirectory, const char* pWhat, std::string* pError) {
  const std::string sWhat = std::string(pWhat) + " " + sDirectory;
  if (::mkdir(sDirectory.c_str(), 0700) != 0 && errno != EEXIST) {
    return Fail(pError, "cannot create " + sWhat + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::lstat(sDirectory.c_str(), &st) != 0) {
    return Fail(pError, "cannot examine " + sWhat + ": " + std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode)) {
    return Fail(pError, sWhat + " is a symbolic link; refusing it");
  }
  if (!S_ISDIR(st.st_mode)) {
    return Fail(pError, sWhat + " is not a directory");
  }
  if (st.st_uid != ::getuid()) {
    return Fail(pError, sWhat + " belongs to uid " + std::to_string(st.st_uid) + ", not to us (uid " +
                            std::to_string(::getuid()) + ")");
  }
  if ((st.st_mode & 077) != 0) {
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return Fail(pError, sWhat + " has mode " + szMode + ", expected 0700 (closed to other users)");
  }
  return true;
}

enum class Probe { Live, Stale, Unknown };

// Whether a socket is bound at sPath: connecting to a name whose socket closed is refused.
Probe ProbeEndpoint(const std::string& sPath) {
  sockaddr_un address{};
  socklen_t nLength = 0;
  if (!MakeAddress(sPath, &address, &nLength)) return Probe::Unknown;
  UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!probe.Valid()) return Probe::Unknown;
  if (::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), nLength) == 0) return Probe::Live;
  return errno == ECONNREFUSED ? Probe::Stale : Probe::Unknown;
}

// "<pid>-<serial>": the pid, or -1 for any other name.
std::int32_t PidOfName(const char* pName) {
  const char* pDash = std::strchr(pName, '-');
  if (pDash == nullptr || pDash == pName || pDash[1] == '\0') return -1;
  for (const char* p = pName; *p != '\0'; ++p) {
    if (p != pDash && (*p < '0' || *p > '9')) return -1;
  }
  if (pDash - pName > 9) return -1;
  return static_cast<std::int32_t>(std::strtol(pName, nullptr, 10));
}

// Our own socket named sPath, never someone else's file of that name.
bool IsOurSocket(const std::string& sPath) {
  struct stat st {};
  return ::lstat(sPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

void RemoveIfStale(const std::string& sPath) {
  if (IsOurSocket(sPath) && ProbeEndpoint(sPath) == Probe::Stale) {
    WriteLog("CLinkEndpoint: removing the stale endpoint %s\r\n", sPath.c_str());
    ::unlink(sPath.c_str());
  }
}

// Endpoints left by processes that ended without removing them.
void SweepDeadProcesses(const std::string& sDirectory) {
  DIR* pDir = ::opendir(sDirectory.c_str());
  if (pDir == nullptr) return;
  while (const dirent* pEntry = ::readdir(pDir)) {
    const std::int32_t nPid = PidOfName(pEntry->d_name);
    if (nPid > 0 && ::kill(nPid, 0) != 0 && errno == ESRCH) RemoveIfStale(sDirectory + "/" + pEntry->d_name);
  }
  ::closedir(pDir);
}

}  // namespace

std::string DefaultLinkDirectory(std::string* pError) {
  const char* pRuntime = std::getenv("XDG_RUNTIME_DIR");
  if (pRuntime != nullptr && pRuntime[0] == '/') {
    return std::string(pRuntime) + "/" + kLinkDirectoryName;
  }
  const std::string sFallback = "/tmp/orb-" + std::to_string(::getuid());
  if (!EnsurePrivateDirectory(sFallback, "the runtime directory", pError)) return std::string();
  return sFallback + "/" + kLinkDirectoryName;
}

CLinkEndpoint::CLinkEndpoint(UniqueFd fd, std::string sDirectory, std::string sPath)
    : m_fd(std::move(fd)), m_sDirectory(std::move(sDirectory)), m_sPath(std::move(sPath)) {}

CLinkEndpoint::~CLinkEndpoint() {
  m_fd.Reset();
  ::unlink(m_sPath.c_str());
}

std::unique_ptr<CLinkEndpoint> CLinkEndpoint::Open(const std::string& sDirectory, std::string* pError) {
  if (sDirectory.empty() || sDirectory[0] != '/') {
    Fail(pError, "the link directory '" + sDirectory + "' is not an absolute path");
    return nullptr;
  }
  if (!EnsurePrivateDirectory(sDirectory, "the link directory", pError)) return nullptr;
  SweepDeadProcesses(sDirectory);

  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    Fail(pError, std::string("cannot make a socket: ") + std::strerror(errno));
    return nullptr;
  }
  const int nOn = 1;
  if (::setsockopt(fd.Get(), SOL_SOCKET, SO_PASSCRED, &nOn, sizeof nOn) != 0) {
    Fail(pError, std::string("cannot ask for the senders' credentials: ") + std::strerror(errno));
    return nullptr;
  }
  const std::string sPrefix = sDirectory + "/" + std::to_string(::getpid()) + "-";
  // A name of ours can be taken only by a stale socket of an earlier process with our pid.
  for (int nTry = 0; nTry < 16; ++nTry) {
    const std::string sPath = sPrefix + std::to_string(g_nSerial.fetch_add(1));
    sockaddr_un address{};
    socklen_t nLength = 0;
    if (!MakeAddress(sPath, &address, &nLength)) {
      Fail(pError, "the endpoint path " + sPath + " is too long for a Unix socket");
      return nullptr;
    }
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), nLength) != 0) {
      if (errno == EADDRINUSE) {
        RemoveIfStale(sPath);
        continue;
      }
      Fail(pError, "cannot bind the endpoint " + sPath + ": " + std::strerror(errno));
      return nullptr;
    }
    // The directory already keeps others out; the socket's own mode says the same.
    if (::chmod(sPath.c_str(), 0600) != 0) {
      Fail(pError, "cannot make the endpoint " + sPath + " private: " + std::strerror(errno));
      ::unlink(sPath.c_str());
      return nullptr;
    }
    return std::unique_ptr<CLinkEndpoint>(new CLinkEndpoint(std::move(fd), sDirectory, sPath));
  }
  Fail(pError, "no free endpoint name under " + sPrefix);
  return nullptr;
}

bool CLinkEndpoint::Receive(LinkMessage* pMessage) {
  for (;;) {
    LinkDatagram datagram;
    datagram.bytes.resize(kReceiveBytes);
    iovec iov{datagram.bytes.data(), datagram.bytes.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(kMaxFdsPerDatagram * sizeof(int))];
    sockaddr_un source{};
    msghdr header{};
    header.msg_name = &source;
    header.msg_namelen = sizeof source;
    header.msg_iov = &iov;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t nRead = ::recvmsg(m_fd.Get(), &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (nRead < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        WriteLog("CLinkEndpoint: receive on %s failed: %s\r\n", m_sPath.c_str(), std::strerror(errno));
      }
      return false;
    }
    // Take every descriptor first, so that none can leak whatever follows.
    for (cmsghdr* pCmsg = CMSG_FIRSTHDR(&header); pCmsg != nullptr; pCmsg = CMSG_NXTHDR(&header, pCmsg)) {
      if (pCmsg->cmsg_level != SOL_SOCKET) continue;
      if (pCmsg->cmsg_type == SCM_RIGHTS) {
        const std::size_t nCount = (pCmsg->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < nCount; ++i) {
          int nFd = -1;
          std::memcpy(&nFd, CMSG_DATA(pCmsg) + i * sizeof(int), sizeof nFd);
          datagram.fds.emplace_back(nFd);
        }
      } else if (pCmsg->cmsg_type == SCM_CREDENTIALS && pCmsg->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
        ucred credentials{};
        std::memcpy(&credentials, CMSG_DATA(pCmsg), sizeof credentials);
        datagram.blHasCredentials = true;
        datagram.nUid = credentials.uid;
        datagram.nPid = credentials.pid;
      }
    }
    datagram.bytes.resize(static_cast<std::size_t>(nRead));
    datagram.blTruncated = (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
    const std::size_t nPathOffset = offsetof(sockaddr_un, sun_path);
    if (header.msg_namelen > nPathOffset) {
      const std::size_t nMax = std::min<std::size_t>(header.msg_namelen - nPathOffset, sizeof source.sun_path);
      if (source.sun_path[0] == '\0') {
        datagram.sSource = "@";  // an abstract address: nothing we answer to
      } else {
        datagram.sSource.assign(source.sun_path, ::strnlen(source.sun_path, nMax));
      }
    }
    LinkParseResult result = ParseLinkDatagram(std::move(datagram), ::getuid());
    if (result.Ok()) {
      *pMessage = std::move(result.message);
      return true;
    }
    WriteLog("CLinkEndpoint: dropped a datagram on %s: %s\r\n", m_sPath.c_str(), result.sReason.c_str());
  }
}

bool CLinkEndpoint::Post(const std::string& sEndpoint, std::uint32_t dwParam, int nFd) {
  sockaddr_un address{};
  socklen_t nLength = 0;
  if (!MakeAddress(sEndpoint, &address, &nLength)) {
    WriteLog("CLinkEndpoint: cannot post to '%s': not an endpoint path\r\n", sEndpoint.c_str());
    return false;
  }
  const std::vector<std::uint8_t> bytes = EncodeLinkMessage(dwParam);
  iovec iov{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
  header.msg_name = &address;
  header.msg_namelen = nLength;
  header.msg_iov = &iov;
  header.msg_iovlen = 1;
  if (nFd >= 0) {
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* pCmsg = CMSG_FIRSTHDR(&header);
    pCmsg->cmsg_level = SOL_SOCKET;
    pCmsg->cmsg_type = SCM_RIGHTS;
    pCmsg->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(pCmsg), &nFd, sizeof nFd);
  }
  for (;;) {
    if (::sendmsg(m_fd.Get(), &header, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) return true;
    if (errno == EINTR) continue;
    const int nError = errno;
    const char* pWhy = std::strerror(nError);
    if (nError == EAGAIN || nError == EWOULDBLOCK) {
      pWhy = "its queue is full";
    } else if (nError == ECONNREFUSED || nError == ENOENT) {
      pWhy = "it is gone";
    }
    WriteLog("CLinkEndpoint: cannot post 0x%08X to %s: %s\r\n", dwParam, sEndpoint.c_str(), pWhy);
    return false;
  }
}

std::vector<std::string> CLinkEndpoint::EndpointsOfProcess(std::int32_t nPid) const {
  std::vector<std::string> endpoints;
  DIR* pDir = ::opendir(m_sDirectory.c_str());
  if (pDir == nullptr) {
    WriteLog("CLinkEndpoint: cannot list %s: %s\r\n", m_sDirectory.c_str(), std::strerror(errno));
    return endpoints;
  }
  while (const dirent* pEntry = ::readdir(pDir)) {
    if (nPid <= 0 || PidOfName(pEntry->d_name) != nPid) continue;
    const std::string sPath = m_sDirectory + "/" + pEntry->d_name;
    if (!IsOurSocket(sPath)) continue;
    switch (ProbeEndpoint(sPath)) {
      case Probe::Live: endpoints.push_back(sPath); break;
      case Probe::Stale:
        WriteLog("CLinkEndpoint: removing the stale endpoint %s\r\n", sPath.c_str());
        ::unlink(sPath.c_str());
        break;
      case Probe::Unknown: break;
    }
  }
  ::closedir(pDir);
  std::sort(endpoints.begin(), endpoints.end());
  return endpoints;
}

}  // namespace orb::platform
