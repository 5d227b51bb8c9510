#include "platform/keys/key_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/write_log.h"
#include "platform/keys/held_keys.h"
#include "platform/keys/key_sink.h"
#include "platform/process/process_start.h"

extern char** environ;

namespace orb::platform {
namespace {

constexpr const char* kGuardCommand = "--orb-key-guard";
constexpr int kRecordFd = 3;  // in the guard
constexpr int kCrashFd = 4;
// The guard releases within this or ends: a display that hangs must not keep it.
constexpr unsigned kReleaseSeconds = 10;

constexpr std::array<int, 5> kCrashSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
int g_nCrashFd = -1;
struct sigaction g_previous[kCrashSignals.size()];

// Async-signal-safe only: write, sigaction, raise.
void OnCrashSignal(int nSignal, siginfo_t* pInfo, void*) {
  const int nSavedErrno = errno;
  const char nByte = 'c';
  (void)!::write(g_nCrashFd, &nByte, 1);
  for (std::size_t i = 0; i < kCrashSignals.size(); ++i) {
    if (kCrashSignals[i] == nSignal) {
      ::sigaction(nSignal, &g_previous[i], nullptr);
    }
  }
  // A fault returns to its instruction and faults again into the handler that was there
  // before; a signal that was sent (kill, abort) is sent again to it.
  if (pInfo == nullptr || pInfo->si_code <= 0) {
    ::raise(nSignal);
  }
  errno = nSavedErrno;
}

void CatchCrashSignals(int nCrashFd) {
  g_nCrashFd = nCrashFd;
  for (std::size_t i = 0; i < kCrashSignals.size(); ++i) {
    struct sigaction action {};
    action.sa_sigaction = &OnCrashSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(kCrashSignals[i], &action, &g_previous[i]);
  }
}

// A copy at 10 or above, so that the spawn's moves to 3 and 4 cannot overwrite a source.
int HighCopy(int nFd) { return ::fcntl(nFd, F_DUPFD_CLOEXEC, 10); }

// The guard: this program again, in a session of its own (a Ctrl+C or a kill of the
// terminal's group leaves it), standard input and output on /dev/null.
bool SpawnGuard(int nRecordFd, int nCrashReadFd, std::string* pError) {
  const int nRecord = HighCopy(nRecordFd);
  const int nCrash = HighCopy(nCrashReadFd);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, nRecord, kRecordFd);
  posix_spawn_file_actions_adddup2(&actions, nCrash, kCrashFd);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  const std::string parent = std::to_string(::getpid());
  char name[] = "orb-keyguard";
  char command[] = "--orb-key-guard";
  std::array<char*, 4> argv = {name, command, const_cast<char*>(parent.c_str()), nullptr};
  pid_t nGuard = 0;
  const int nError = ::posix_spawn(&nGuard, "/proc/self/exe", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(nRecord);
  ::close(nCrash);
  if (nError != 0) {
    *pError = std::string("cannot start the key guard: ") + std::strerror(nError);
    return false;
  }
  WriteLog("KeyGuard: guard process %d started\r\n", static_cast<int>(nGuard));
  return true;
}

// The keys of a process that no longer runs, released. The record is left as it is when
// they could not be reached, for a later start to try.
bool ReleaseLeftDown(HeldKeyRecord& record, const HeldKeyRecord::Contents& contents, std::string* pError) {
  if (!ReleaseKeysLeftDown(contents.sink, contents.target, contents.codes, pError)) {
    return false;
  }
  record.Clear();
  return true;
}

}  // namespace

std::string HeldKeyRecordPath(const std::string& runtimeDir) { return runtimeDir + "/ORB keys down"; }

void StartKeyGuard(const std::string& runtimeDir) {
  static std::unique_ptr<HeldKeyRecord> s_pRecord;  // for the life of the process
  if (s_pRecord || runtimeDir.empty()) {
    return;
  }
  std::string error;
  auto pRecord = HeldKeyRecord::Open(HeldKeyRecordPath(runtimeDir), &error);
  if (!pRecord) {
    WriteLog("KeyGuard: no record of held keys: %s\r\n", error.c_str());
    return;
  }
  const HeldKeyRecord::Contents earlier = pRecord->Read();
  if (!earlier.codes.empty() && ProcessStartTime(earlier.nPid) != earlier.nStartTime) {
    if (ReleaseLeftDown(*pRecord, earlier, &error)) {
      WriteLog("KeyGuard: released %zu key(s) left down by process %d (%s)\r\n", earlier.codes.size(), earlier.nPid,
               earlier.sink.c_str());
    } else {
      WriteLog("KeyGuard: cannot release the keys process %d left down: %s\r\n", earlier.nPid, error.c_str());
    }
  }
  const int nPid = static_cast<int>(::getpid());
  pRecord->Claim(nPid, ProcessStartTime(nPid));

  int crash[2];
  if (::pipe2(crash, O_CLOEXEC) != 0) {
    WriteLog("KeyGuard: pipe failed, errno = %d; no guard process\r\n", errno);
  } else {
    // A handler must never block: a full pipe already says "now".
    ::fcntl(crash[1], F_SETFL, O_NONBLOCK);
    if (SpawnGuard(pRecord->Fd(), crash[0], &error)) {
      CatchCrashSignals(crash[1]);
    } else {
      WriteLog("KeyGuard: %s\r\n", error.c_str());
      ::close(crash[1]);
    }
    ::close(crash[0]);
  }
  HeldKeyRecord::Install(pRecord.get());
  s_pRecord = std::move(pRecord);
}

bool IsKeyGuardCommand(int argc, char** argv) { return argc == 3 && std::strcmp(argv[1], kGuardCommand) == 0; }

int RunKeyGuard(int argc, char** argv) {
  if (argc != 3) {
    return 2;
  }
  const int nParent = std::atoi(argv[2]);
  ::prctl(PR_SET_NAME, "orb-keyguard");
  ::close_range(kCrashFd + 1, ~0U, 0);
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  // SIGTERM too: a session that ends signals every process in it, and the program's own
  // orderly end needs guarding until it is over.
  ::signal(SIGTERM, SIG_IGN);

  std::string error;
  std::unique_ptr<HeldKeyRecord> pRecord = HeldKeyRecord::FromFd(kRecordFd, &error);
  if (!pRecord) {
    std::fprintf(stderr, "orb-keyguard: %s\n", error.c_str());
    return 1;
  }
  // Opened while the program is still our parent, or it may be gone already.
  const int nPidFd = static_cast<int>(::syscall(SYS_pidfd_open, nParent, 0));
  const bool blParentGone = ::getppid() != nParent;

  // Releases what the record holds while it is still the parent's (a new instance may
  // have claimed it since).
  auto release = [&] {
    const HeldKeyRecord::Contents contents = pRecord->Read();
    if (contents.nPid != nParent || contents.codes.empty()) {
      return true;
    }
    ::alarm(kReleaseSeconds);
    std::string sError;
    if (!ReleaseKeysLeftDown(contents.sink, contents.target, contents.codes, &sError)) {
      std::fprintf(stderr, "orb-keyguard: %s\n", sError.c_str());
      return false;
    }
    ::alarm(0);
    for (const std::uint16_t nCode : contents.codes) {
      pRecord->MarkUp(nCode);
    }
    return true;
  };

  while (!blParentGone) {
    // Without pidfds (before Linux 5.3) the end of the pipe says it: the parent holds
    // its only writing end.
    pollfd fds[2] = {{kCrashFd, POLLIN, 0}, {nPidFd, POLLIN, 0}};
    const int nReady = ::poll(fds, nPidFd >= 0 ? 2 : 1, -1);
    if (nReady < 0 && errno == EINTR) {
      continue;
    }
    if (nReady < 0 || (fds[1].revents & POLLIN) != 0) {
      break;
    }
    if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
      char bytes[16];
      if (::read(kCrashFd, bytes, sizeof bytes) <= 0) {
        break;  // the parent is gone
      }
      release();  // a crash: now, and once more when it is over
    }
  }
  // The record keeps naming the parent, with nothing down: a start finds nothing to do.
  return release() ? 0 : 1;
}

}  // namespace orb::platform
