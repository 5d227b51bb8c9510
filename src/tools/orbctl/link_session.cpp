#include "tools/orbctl/link_session.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/write_log.h"
#include "platform/link/link_message.h"
#include "profiles/profile_table.h"

namespace orb::orbctl {

using namespace platform;

namespace {

// The file the running orb holds an exclusive flock on, in its runtime directory.
constexpr const char* kInstanceLockName = "Running ORB";

// One line of the transport's log on standard error, as our own.
void RelayLinkLog(void*, const char* pLine, std::size_t nLength) {
  constexpr char kPrefix[] = "CLinkEndpoint: ";
  constexpr std::size_t nPrefix = sizeof kPrefix - 1;
  if (nLength < nPrefix || std::strncmp(pLine, kPrefix, nPrefix) != 0) return;
  while (nLength > nPrefix && (pLine[nLength - 1] == '\n' || pLine[nLength - 1] == '\r')) --nLength;
  std::fprintf(stderr, "orbctl link: %.*s\n", static_cast<int>(nLength - nPrefix), pLine + nPrefix);
}

// The pid holding the flock on sLock, from the kernel's lock list; -1 when none does.
long LockHolder(const std::string& sLock) {
  struct stat st {};
  if (::stat(sLock.c_str(), &st) != 0) return -1;
  char szDevice[64];
  std::snprintf(szDevice, sizeof szDevice, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  std::string sLine;
  while (std::getline(locks, sLine)) {
    std::istringstream fields(sLine);
    std::string sId, sType, sMode, sAccess, sPid, sDevice;
    fields >> sId >> sType;
    if (sType != "FLOCK") continue;  // also skips "->" lines: waiters, not holders
    fields >> sMode >> sAccess >> sPid >> sDevice;
    if (sDevice == szDevice) return std::strtol(sPid.c_str(), nullptr, 10);
  }
  return -1;
}

}  // namespace

int LinkError(const std::string& sMessage) {
  std::fprintf(stderr, "orbctl link: %s\n", sMessage.c_str());
  return 2;
}

std::unique_ptr<CLinkEndpoint> OpenOwnEndpoint() {
  std::string sError;
  const std::string sDirectory = DefaultLinkDirectory(&sError);
  if (sDirectory.empty()) {
    LinkError(sError);
    return nullptr;
  }
  auto pEndpoint = CLinkEndpoint::Open(sDirectory, &sError);
  if (!pEndpoint) LinkError(sError);
  // From here the transport's log lines are the reasons of failed posts and of drops.
  SetLogObserver(&RelayLinkLog, nullptr);
  return pEndpoint;
}

long RunningOrbPid(const CLinkEndpoint& endpoint, std::string* pError) {
  const std::string& sDirectory = endpoint.Directory();
  const std::string sLock = sDirectory.substr(0, sDirectory.rfind('/')) + "/" + kInstanceLockName;
  const long nPid = LockHolder(sLock);
  if (nPid <= 0) {
    *pError = "orb is not running (no process holds " + sLock + "); give --to PID";
    return -1;
  }
  return nPid;
}

std::unique_ptr<CProgramLink> CProgramLink::Connect(long nPid) {
  auto pEndpoint = OpenOwnEndpoint();
  if (!pEndpoint) return nullptr;
  if (nPid <= 0) {
    std::string sError;
    nPid = RunningOrbPid(*pEndpoint, &sError);
    if (nPid <= 0) {
      LinkError(sError);
      return nullptr;
    }
  }
  std::vector<std::string> endpoints = pEndpoint->EndpointsOfProcess(static_cast<std::int32_t>(nPid));
  if (endpoints.empty()) {
    LinkError("process " + std::to_string(nPid) + " has no link endpoint in " + pEndpoint->Directory());
    return nullptr;
  }
  return std::unique_ptr<CProgramLink>(new CProgramLink(std::move(pEndpoint), nPid, std::move(endpoints)));
}

CProgramLink::CProgramLink(std::unique_ptr<CLinkEndpoint> pEndpoint, long nPid, std::vector<std::string> endpoints)
    : m_pEndpoint(std::move(pEndpoint)), m_nPid(nPid), m_endpoints(std::move(endpoints)) {}

bool CProgramLink::PostToProgram(std::uint32_t dwParam, int nFd) {
  bool blPosted = false;
  for (const std::string& sTo : m_endpoints) {
    blPosted = m_pEndpoint->Post(sTo, dwParam, nFd) || blPosted;
  }
  return blPosted;
}

bool CProgramLink::Notice(const LinkMessage& message) {
  if (message.nSenderPid != m_nPid || message.Command() != LINK_END_APPLICATION) return false;
  m_blEnded = true;
  return true;
}

CProgramLink::Answer CProgramLink::TakeTable(std::chrono::milliseconds timeout) {
  if (m_blEnded) return Answer::Ended;
  Drain();  // an answer to an earlier request is no answer to this one
  if (!PostToProgram(MakeLinkParam(LINK_DESTROY_MEMORY))) return Answer::Unreachable;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    LinkMessage message;
    while (m_pEndpoint->Receive(&message)) {
      if (Notice(message)) return Answer::Ended;
      if (message.nSenderPid == m_nPid && message.Command() == LINK_READY) {
        // The one endpoint that released the table is the one to hand the next to.
        m_endpoints = {message.sSender};
        return Answer::Ready;
      }
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Answer::Silent;
    pollfd item{m_pEndpoint->Fd(), POLLIN, 0};
    if (::poll(&item, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return Answer::Silent;
  }
}

bool CProgramLink::HandTable(const SharedBlock& block) {
  const std::size_t nCount = TableRecordCount(block.Size());
  static_assert(kMaxTableRecords <= 0xFFFF, "a table's record count fits the message's 16 bits");
  if (m_blEnded || nCount == 0 || nCount > kMaxTableRecords) return false;
  return PostToProgram(MakeLinkParam(LINK_CREATE_MEMORY, static_cast<std::uint16_t>(nCount)), block.Fd());
}

bool CProgramLink::PostUpdate() { return !m_blEnded && PostToProgram(MakeLinkParam(LINK_UPDATE)); }

bool CProgramLink::PostEndApplication() { return !m_blEnded && PostToProgram(MakeLinkParam(LINK_END_APPLICATION)); }

void CProgramLink::Drain() {
  LinkMessage message;
  while (m_pEndpoint->Receive(&message)) Notice(message);
}

}  // namespace orb::orbctl
