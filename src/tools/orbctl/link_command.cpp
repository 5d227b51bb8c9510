#include "tools/orbctl/link_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/bounded_read.h"
#include "base/write_log.h"
#include "platform/link/link_endpoint.h"
#include "platform/link/link_message.h"
#include "platform/shm/shared_block.h"
#include "profiles/profile_table.h"

namespace orb::orbctl {

using namespace platform;

namespace {

const char kUsage[] =
    "usage: orbctl link send COMMAND [COUNT] [--to PID] [--table FILE]\n"
    "       orbctl link watch [--count N]\n"
    "send posts one message to every link endpoint of process PID; without "
    "--to, to the\n"
    "running orb (the holder of its single-instance lock). COMMAND is a number "
    "0-65535 or\n"
    "ready, end-application, destroy-memory, create-memory, update (LINK_READY "
    "... too).\n"
    "COUNT (0-65535) goes into the high 16 bits. create-memory hands over a "
    "sealed block:\n"
    "the records of the profile table FILE (COUNT, when given too, is sent as "
    "it is, to try\n"
    "the receiver's size check), or COUNT empty records.\n"
    "watch opens an endpoint of its own and prints each message posted to it: "
    "command name,\n"
    "number, count, sender, and a block's size; it ends on Ctrl+C, SIGTERM or "
    "after N messages.\n"
    "Endpoints live in $XDG_RUNTIME_DIR/orb-link/ (docs/LINK.md describes the "
    "protocol).\n";

// The file the running orb holds an exclusive flock on, in its runtime directory.
constexpr const char* kInstanceLockName = "Running ORB";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Error(const std::string& sMessage) {
  std::fprintf(stderr, "orbctl link: %s\n", sMessage.c_str());
  return 2;
}

// One line of the transport's log on standard error, as our own.
void RelayLinkLog(void*, const char* pLine, std::size_t nLength) {
  constexpr char kPrefix[] = "CLinkEndpoint: ";
  constexpr std::size_t nPrefix = sizeof kPrefix - 1;
  if (nLength < nPrefix || std::strncmp(pLine, kPrefix, nPrefix) != 0) return;
  while (nLength > nPrefix && (pLine[nLength - 1] == '\n' || pLine[nLength - 1] == '\r')) --nLength;
  std::fprintf(stderr, "orbctl link: %.*s\n", static_cast<int>(nLength - nPrefix), pLine + nPrefix);
}

bool ParseNumber(const std::string& s, unsigned long nMax, unsigned long* pValue) {
  if (s.empty() || s.size() > 10) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  *pValue = std::strtoul(s.c_str(), nullptr, 10);
  return *pValue <= nMax;
}

bool ParseCommand(const std::string& sWord, std::uint16_t* pCommand) {
  unsigned long nValue = 0;
  if (ParseNumber(sWord, 0xFFFF, &nValue)) {
    *pCommand = static_cast<std::uint16_t>(nValue);
    return true;
  }
  std::string sName;
  for (char c : sWord) sName += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (sName.rfind("LINK_", 0) != 0) sName = "LINK_" + sName;
  for (std::uint16_t n = LINK_READY; n <= LINK_UPDATE; ++n) {
    if (sName == LinkCommandName(n)) {
      *pCommand = n;
      return true;
    }
  }
  return false;
}

struct Options {
  std::vector<std::string> words;
  std::string sTo, sTable, sCount;
};

bool ParseOptions(const Args& args, Options* pOut) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& s = args[i];
    std::string* pValue = s == "--to"      ? &pOut->sTo
                          : s == "--table" ? &pOut->sTable
                          : s == "--count" ? &pOut->sCount
                                           : nullptr;
    if (pValue != nullptr) {
      if (i + 1 >= args.size()) return false;
      *pValue = args[++i];
    } else if (s.size() > 1 && s[0] == '-') {
      return false;
    } else {
      pOut->words.push_back(s);
    }
  }
  return true;
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

std::unique_ptr<CLinkEndpoint> OpenOwnEndpoint() {
  std::string sError;
  const std::string sDirectory = DefaultLinkDirectory(&sError);
  if (sDirectory.empty()) {
    Error(sError);
    return nullptr;
  }
  auto pEndpoint = CLinkEndpoint::Open(sDirectory, &sError);
  if (!pEndpoint) Error(sError);
  // From here the transport's log lines are the reasons of failed posts and of drops.
  SetLogObserver(&RelayLinkLog, nullptr);
  return pEndpoint;
}

int Send(const Args& args) {
  Options options;
  if (!ParseOptions(args, &options) || options.words.empty() || options.words.size() > 2 || !options.sCount.empty()) {
    return Usage();
  }
  std::uint16_t nCommand = 0;
  if (!ParseCommand(options.words[0], &nCommand)) return Error("unknown command '" + options.words[0] + "'");
  unsigned long nCount = 0;
  const bool blCount = options.words.size() == 2;
  if (blCount && !ParseNumber(options.words[1], 0xFFFF, &nCount)) {
    return Error("COUNT '" + options.words[1] + "' is not 0 to 65535");
  }
  long nPid = -1;
  if (!options.sTo.empty()) {
    unsigned long nTo = 0;
    if (!ParseNumber(options.sTo, 0x7FFFFFFF, &nTo) || nTo == 0) return Error("--to '" + options.sTo + "' is no pid");
    nPid = static_cast<long>(nTo);
  }
  if (!options.sTable.empty() && nCommand != LINK_CREATE_MEMORY) {
    return Error("--table goes with create-memory only");
  }

  // create-memory: the block first, so that nothing is posted without it.
  std::unique_ptr<SharedBlock> pBlock;
  if (nCommand == LINK_CREATE_MEMORY) {
    std::vector<std::uint8_t> table;
    std::string sError;
    if (!options.sTable.empty()) {
      if (!ReadRegularFile(options.sTable.c_str(), kTableFileLimit, table, sError)) {
        return Error("cannot read " + options.sTable + ": " + sError);
      }
      if (table.empty() || TableTrailingBytes(table.size()) != 0) {
        return Error(options.sTable + ": " + std::to_string(table.size()) + " bytes is no whole number of " +
                     std::to_string(kProfileRecordSize) + "-byte records");
      }
      if (!blCount) nCount = TableRecordCount(table.size());
    } else if (nCount == 0) {
      return Error("create-memory needs a COUNT of 1 to 65535 records or --table FILE");
    }
    const std::size_t nBytes = table.empty() ? nCount * kProfileRecordSize : table.size();
    pBlock = SharedBlock::Create("ORB.DAT", nBytes, &sError);
    if (!pBlock) return Error(sError);
    if (!table.empty()) std::memcpy(pBlock->Data(), table.data(), table.size());
  }

  auto pEndpoint = OpenOwnEndpoint();
  if (!pEndpoint) return 2;
  if (nPid < 0) {
    const std::string& sDirectory = pEndpoint->Directory();
    const std::string sLock = sDirectory.substr(0, sDirectory.rfind('/')) + "/" + kInstanceLockName;
    nPid = LockHolder(sLock);
    if (nPid <= 0) return Error("orb is not running (no process holds " + sLock + "); give --to PID");
  }
  const std::vector<std::string> endpoints = pEndpoint->EndpointsOfProcess(static_cast<std::int32_t>(nPid));
  if (endpoints.empty()) {
    return Error("process " + std::to_string(nPid) + " has no link endpoint in " + pEndpoint->Directory());
  }
  const std::uint32_t dwParam = MakeLinkParam(nCommand, static_cast<std::uint16_t>(nCount));
  const char* pName = LinkCommandName(nCommand);
  int nStatus = 0;
  for (const std::string& sTo : endpoints) {
    if (!pEndpoint->Post(sTo, dwParam, pBlock ? pBlock->Fd() : -1)) {
      nStatus = 2;
      continue;
    }
    std::printf("posted %s %u count %lu to %s\n", pName != nullptr ? pName : "-", nCommand, nCount, sTo.c_str());
  }
  return nStatus;
}

int g_nStopWrite = -1;

void OnStopSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_nStopWrite, &c, 1);
}

void PrintMessage(LinkMessage& message) {
  const char* pName = LinkCommandName(message.Command());
  std::printf("%s %u count %u from %s (pid %d)", pName != nullptr ? pName : "-", message.Command(), message.Count(),
              message.sSender.c_str(), message.nSenderPid);
  if (message.fdBlock.Valid()) {
    // As the program takes it: sealed, and exactly the stated count of records.
    std::string sError;
    auto pBlock =
        SharedBlock::Adopt(std::move(message.fdBlock), std::size_t{message.Count()} * kProfileRecordSize, &sError);
    if (pBlock) {
      std::printf(" block %zu bytes", pBlock->Size());
    } else {
      std::printf(" block refused: %s", sError.c_str());
    }
  }
  std::printf("\n");
  std::fflush(stdout);
}

int Watch(const Args& args) {
  Options options;
  if (!ParseOptions(args, &options) || !options.words.empty() || !options.sTo.empty() || !options.sTable.empty()) {
    return Usage();
  }
  unsigned long nLimit = 0;
  if (!options.sCount.empty() && (!ParseNumber(options.sCount, 0x7FFFFFFF, &nLimit) || nLimit == 0)) {
    return Error("--count '" + options.sCount + "' is not a number of messages from 1");
  }
  int stopFds[2];
  if (::pipe2(stopFds, O_CLOEXEC | O_NONBLOCK) != 0) return Error(std::string("pipe: ") + std::strerror(errno));
  g_nStopWrite = stopFds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  auto pEndpoint = OpenOwnEndpoint();
  if (!pEndpoint) return 2;
  std::printf("listening on %s (pid %d)\n", pEndpoint->Path().c_str(), static_cast<int>(::getpid()));
  std::fflush(stdout);
  unsigned long nSeen = 0;
  for (;;) {
    pollfd fds[2] = {{pEndpoint->Fd(), POLLIN, 0}, {stopFds[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Error(std::string("poll: ") + std::strerror(errno));
    }
    if (fds[1].revents != 0) return 0;
    LinkMessage message;
    while (pEndpoint->Receive(&message)) {
      PrintMessage(message);
      if (nLimit != 0 && ++nSeen == nLimit) return 0;
    }
  }
}

}  // namespace

int RunLinkCommand(const Args& args) {
  if (args.empty()) return Usage();
  const std::string& sVerb = args[0];
  if ((sVerb == "--help" || sVerb == "-h") && args.size() == 1) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  int nStatus = 2;
  if (sVerb == "send") {
    nStatus = Send(args);
  } else if (sVerb == "watch") {
    nStatus = Watch(args);
  } else {
    nStatus = Usage();
  }
  SetLogObserver(nullptr, nullptr);
  return nStatus;
}

}  // namespace orb::orbctl
