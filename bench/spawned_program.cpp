#include "spawned_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace orb::bench {

SpawnedProgram::SpawnedProgram(const std::vector<std::string>& args, const std::filesystem::path& directory,
                               const EnvChanges& env, const std::vector<std::string>& unset) {
  const std::string sName = std::filesystem::path(args.at(0)).filename().string();
  m_stdout = directory / (sName + ".out");
  m_stderr = directory / (sName + ".err");

  // Everything the child uses is made before fork: only async-signal-safe calls after it.
  std::vector<std::string> environment;
  for (char** p = environ; *p != nullptr; ++p) {
    const std::string sEntry = *p;
    const std::string sKey = sEntry.substr(0, sEntry.find('='));
    bool blDropped = false;
    for (const auto& [key, value] : env) blDropped = blDropped || key == sKey;
    for (const std::string& key : unset) blDropped = blDropped || key == sKey;
    if (!blDropped) environment.push_back(sEntry);
  }
  for (const auto& [key, value] : env) environment.push_back(key + "=" + value);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int input[2] = {-1, -1};
  int report[2] = {-1, -1};  // close-on-exec: EOF says the exec worked, an errno says it failed
  const int nOut = ::open(m_stdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int nErr = ::open(m_stderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (nOut < 0 || nErr < 0 || ::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    m_sError = std::string("cannot prepare the child: ") + std::strerror(errno);
    for (int nFd : {nOut, nErr, input[0], input[1], report[0], report[1]}) {
      if (nFd >= 0) ::close(nFd);
    }
    return;
  }
  m_startedAt = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(directory.c_str()) == 0 && ::dup2(input[0], STDIN_FILENO) >= 0 && ::dup2(nOut, STDOUT_FILENO) >= 0 &&
        ::dup2(nErr, STDERR_FILENO) >= 0) {
      ::execve(argv[0], argv.data(), envp.data());
    }
    const int nError = errno;
    (void)!::write(report[1], &nError, sizeof nError);
    ::_exit(127);
  }
  ::close(input[0]);
  ::close(report[1]);
  ::close(nOut);
  ::close(nErr);
  m_nStdin = input[1];
  if (pid < 0) {
    m_sError = std::string("fork: ") + std::strerror(errno);
    ::close(report[0]);
    return;
  }
  m_pid = pid;
  int nChildError = 0;
  ssize_t nRead;
  do {
    nRead = ::read(report[0], &nChildError, sizeof nChildError);
  } while (nRead < 0 && errno == EINTR);
  ::close(report[0]);
  if (nRead > 0) {
    m_sError = "cannot run " + args[0] + ": " + std::strerror(nChildError);
    WaitForExit(std::chrono::seconds(5));
    m_pid = -1;
  }
}

SpawnedProgram::~SpawnedProgram() {
  Stop();
  CloseStdin();
}

void SpawnedProgram::CloseStdin() {
  if (m_nStdin >= 0) {
    ::close(m_nStdin);
    m_nStdin = -1;
  }
}

std::optional<int> SpawnedProgram::WaitForExit(std::chrono::milliseconds timeout) {
  if (m_pid <= 0 || m_status) {
    return m_status;
  }
  // Sleeps on the process itself: a pidfd becomes readable when it ends.
  const int nPidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
  if (nPidFd >= 0) {
    pollfd item{nPidFd, POLLIN, 0};
    ::poll(&item, 1, static_cast<int>(timeout.count()));
    ::close(nPidFd);
  }
  int nStatus = 0;
  if (::waitpid(m_pid, &nStatus, nPidFd >= 0 ? WNOHANG : 0) == m_pid) {
    m_status = nStatus;
  }
  return m_status;
}

std::optional<int> SpawnedProgram::Stop(std::chrono::milliseconds grace) {
  if (m_pid <= 0 || m_status) {
    return m_status;
  }
  ::kill(m_pid, SIGTERM);
  if (!WaitForExit(grace)) {
    ::kill(m_pid, SIGKILL);
    WaitForExit(std::chrono::seconds(10));
  }
  return m_status;
}

}  // namespace orb::bench
