#include "tools/orbctl/link_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/bounded_read.h"
#include "base/write_log.h"
#include "platform/link/link_endpoint.h"
#include "platform/link/link_message.h"
#include "platform/shm/shared_block.h"
#include "profiles/profile_table.h"
#include "profiles/table_check.h"
#include "tools/orbctl/link_edit.h"
#include "tools/orbctl/link_session.h"
#include "tools/orbctl/stop_signal.h"
#include "tools/orbctl/table_command.h"

namespace orb::orbctl {

using namespace platform;

namespace {

const char kUsage[] =
    "usage: orbctl link send COMMAND [COUNT] [--to PID] [--table FILE]\n"
    "       orbctl link watch [--count N]\n"
    "       orbctl link load FILE [--to PID] [--timeout SECONDS]\n"
    "       orbctl link edit [--to PID] [--timeout SECONDS]\n"
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
    "load hands the profile table FILE to the running orb as an editor does: it takes orb's\n"
    "table (destroy-memory, then orb's ready within SECONDS, 5 by default), hands FILE's\n"
    "records over in a sealed block and ends (end-application). orb works on the new table\n"
    "at once and its next save writes it to its data file. FILE is checked as by orbctl\n"
    "table check: a table with problems is not loaded.\n"
    "edit takes orb's table the same way, writes the table of orb's data file (ORB.DAT in\n"
    "its working directory) as text to a temporary file, hands it back to orb and runs\n"
    "$VISUAL, $EDITOR or vi on the text. Each save is built and handed to orb at once (a\n"
    "text that does not build is reported, and orb keeps the last table that did); when the\n"
    "editor ends, orb takes the table back.\n"
    "Endpoints live in $XDG_RUNTIME_DIR/orb-link/ (the protocol is described in\n"
    "/usr/share/doc/orb/LINK.md.gz, docs/LINK.md of the source).\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Error(const std::string& sMessage) { return LinkError(sMessage); }

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
  std::string sTo, sTable, sCount, sTimeout;
};

bool ParseOptions(const Args& args, Options* pOut) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& s = args[i];
    std::string* pValue = s == "--to"      ? &pOut->sTo
                          : s == "--table" ? &pOut->sTable
                          : s == "--count" ? &pOut->sCount
                          : s == "--timeout" ? &pOut->sTimeout
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

// --to: a pid, or 0 for the running orb. False after the error line.
bool ParseTo(const std::string& sTo, long* pPid) {
  *pPid = 0;
  if (sTo.empty()) return true;
  unsigned long nTo = 0;
  if (!ParseNumber(sTo, 0x7FFFFFFF, &nTo) || nTo == 0) {
    Error("--to '" + sTo + "' is no pid");
    return false;
  }
  *pPid = static_cast<long>(nTo);
  return true;
}

// How long to wait for orb's LINK_READY: SECONDS, fractions too, up to an hour.
bool ParseTimeout(const std::string& sTimeout, std::chrono::milliseconds* pTimeout, std::string* pShown) {
  *pTimeout = std::chrono::seconds(5);
  *pShown = "5";
  if (sTimeout.empty()) return true;
  char* pEnd = nullptr;
  errno = 0;
  const double dSeconds = std::strtod(sTimeout.c_str(), &pEnd);
  const bool blDigits = std::isdigit(static_cast<unsigned char>(sTimeout[0])) != 0;  // no "inf", "nan", "+1"
  if (errno != 0 || !blDigits || *pEnd != '\0' || !(dSeconds > 0 && dSeconds <= 3600)) {
    Error("--timeout '" + sTimeout + "' is not a number of seconds above 0, at most 3600");
    return false;
  }
  *pTimeout = std::chrono::milliseconds(std::max<long long>(1, std::llround(dSeconds * 1000)));
  *pShown = sTimeout;
  return true;
}

int Load(const Args& args) {
  Options options;
  if (!ParseOptions(args, &options) || options.words.size() != 1 || !options.sTable.empty() ||
      !options.sCount.empty()) {
    return Usage();
  }
  long nPid = 0;
  std::chrono::milliseconds timeout{};
  std::string sTimeout;
  if (!ParseTo(options.sTo, &nPid) || !ParseTimeout(options.sTimeout, &timeout, &sTimeout)) return 2;
  const std::string& sFile = options.words[0];
  std::vector<std::uint8_t> table;
  if (!ReadTableInput(sFile, kTableFileLimit, table, "orbctl link")) return 2;
  const TableCheckReport report = CheckTable(table);
  if (report.nRecords == 0) {
    return Error(sFile + ": " + std::to_string(table.size()) + " bytes, not one whole " +
                 std::to_string(kProfileRecordSize) + "-byte record; nothing was loaded");
  }
  if (report.ProblemCount() != 0) {
    PrintTableFindings(stderr, sFile, report, true);
    const std::size_t nProblems = report.ProblemCount();
    return Error(sFile + ": " + std::to_string(nProblems) + " problem" + (nProblems == 1 ? "" : "s") +
                 "; nothing was loaded");
  }
  // The block first, so that orb's table is not taken when there is none to give it.
  std::string sError;
  auto pBlock = SharedBlock::Create("ORB.DAT", table.size(), &sError);
  if (!pBlock) return Error(sError);
  std::memcpy(pBlock->Data(), table.data(), table.size());

  auto pLink = CProgramLink::Connect(nPid);
  if (!pLink) return 2;
  const std::string sProgram = "orb (pid " + std::to_string(pLink->Pid()) + ")";
  switch (pLink->TakeTable(timeout)) {
    case CProgramLink::Answer::Ready:
      break;
    case CProgramLink::Answer::Silent:
      // Should it yet release its table, this has it take its own back.
      pLink->PostEndApplication();
      return Error("the program did not answer within " + sTimeout + " s: " + sProgram + "; nothing was loaded");
    case CProgramLink::Answer::Ended:
      return Error(sProgram + " ended; nothing was loaded");
    case CProgramLink::Answer::Unreachable:
      return Error("cannot post to " + sProgram + "; nothing was loaded");
  }
  const bool blHanded = pLink->HandTable(*pBlock);
  // Either way orb takes a table back: the new one, or else its data file again.
  pLink->PostEndApplication();
  if (!blHanded) return Error("the table did not reach " + sProgram + "; it reads its data file again");
  std::printf("loaded %zu profile%s into orb (pid %ld)\n", report.nRecords, report.nRecords == 1 ? "" : "s",
              pLink->Pid());
  return 0;
}

int Edit(const Args& args) {
  Options options;
  if (!ParseOptions(args, &options) || !options.words.empty() || !options.sTable.empty() || !options.sCount.empty()) {
    return Usage();
  }
  long nPid = 0;
  std::chrono::milliseconds timeout{};
  std::string sTimeout;
  if (!ParseTo(options.sTo, &nPid) || !ParseTimeout(options.sTimeout, &timeout, &sTimeout)) return 2;
  return EditProgramTable(nPid, timeout);
}

int Send(const Args& args) {
  Options options;
  if (!ParseOptions(args, &options) || options.words.empty() || options.words.size() > 2 || !options.sCount.empty() ||
      !options.sTimeout.empty()) {
    return Usage();
  }
  std::uint16_t nCommand = 0;
  if (!ParseCommand(options.words[0], &nCommand)) return Error("unknown command '" + options.words[0] + "'");
  unsigned long nCount = 0;
  const bool blCount = options.words.size() == 2;
  if (blCount && !ParseNumber(options.words[1], 0xFFFF, &nCount)) {
    return Error("COUNT '" + options.words[1] + "' is not 0 to 65535");
  }
  long nPid = 0;
  if (!ParseTo(options.sTo, &nPid)) return 2;
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
  if (nPid == 0) {
    std::string sError;
    nPid = RunningOrbPid(*pEndpoint, &sError);
    if (nPid <= 0) return Error(sError);
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
  if (!ParseOptions(args, &options) || !options.words.empty() || !options.sTo.empty() || !options.sTable.empty() ||
      !options.sTimeout.empty()) {
    return Usage();
  }
  unsigned long nLimit = 0;
  if (!options.sCount.empty() && (!ParseNumber(options.sCount, 0x7FFFFFFF, &nLimit) || nLimit == 0)) {
    return Error("--count '" + options.sCount + "' is not a number of messages from 1");
  }
  const int nStop = StopSignalPipe({SIGINT, SIGTERM});
  if (nStop < 0) return Error(std::string("pipe: ") + std::strerror(errno));

  auto pEndpoint = OpenOwnEndpoint();
  if (!pEndpoint) return 2;
  std::printf("listening on %s (pid %d)\n", pEndpoint->Path().c_str(), static_cast<int>(::getpid()));
  std::fflush(stdout);
  unsigned long nSeen = 0;
  for (;;) {
    pollfd fds[2] = {{pEndpoint->Fd(), POLLIN, 0}, {nStop, POLLIN, 0}};
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
  } else if (sVerb == "load") {
    nStatus = Load(args);
  } else if (sVerb == "edit") {
    nStatus = Edit(args);
  } else {
    nStatus = Usage();
  }
  SetLogObserver(nullptr, nullptr);
  return nStatus;
}

}  // namespace orb::orbctl
