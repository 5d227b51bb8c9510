#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

extern char** environ;

namespace orb::test {

ExecArguments MakeExecArguments(const std::vector<std::string>& args,
                                const std::vector<std::pair<std::string, std::string>>& env,
                                const std::vector<std::string>& unset) {
  ExecArguments exec;
  for (char** p = environ; *p != nullptr; ++p) {
    const std::string entry = *p;
    const std::string name = entry.substr(0, entry.find('='));
    bool blReplaced = false;
    for (const auto& [key, value] : env) {
      blReplaced = blReplaced || key == name;
    }
    for (const auto& key : unset) {
      blReplaced = blReplaced || key == name;
    }
    if (!blReplaced) {
      exec.environment.push_back(entry);
    }
  }
  for (const auto& [key, value] : env) {
    exec.environment.push_back(key + "=" + value);
  }
  for (const auto& arg : args) {
    exec.argv.push_back(const_cast<char*>(arg.c_str()));
  }
  exec.argv.push_back(nullptr);
  for (auto& entry : exec.environment) {
    exec.envp.push_back(entry.data());
  }
  exec.envp.push_back(nullptr);
  return exec;
}

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::filesystem::path& directory,
                           const std::vector<std::pair<std::string, std::string>>& env,
                           const std::vector<std::string>& unset)
    : m_stdout(directory / "stdout.txt"), m_stderr(directory / "stderr.txt") {
  const ExecArguments exec = MakeExecArguments(args, env, unset);
  const int hOut = ::open(m_stdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int hErr = ::open(m_stderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  m_pid = ::fork();
  if (m_pid == 0) {
    if (::chdir(directory.c_str()) != 0 || ::dup2(hOut, 1) < 0 || ::dup2(hErr, 2) < 0) {
      ::_exit(126);
    }
    ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    ::_exit(127);
  }
  ::close(hOut);
  ::close(hErr);
}

ChildProcess::~ChildProcess() {
  if (IsRunning()) {
    ::kill(m_pid, SIGKILL);
    WaitForExit(std::chrono::seconds(10));
  }
}

bool ChildProcess::IsRunning() {
  if (m_pid <= 0 || m_status) {
    return false;
  }
  return !WaitForExit(std::chrono::milliseconds(0)).has_value();
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (m_pid <= 0 || m_status) {
    return m_status;
  }
  // Sleep on the process itself (a pidfd becomes readable when it ends).
  const int hPid = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
  if (hPid >= 0) {
    pollfd item{hPid, POLLIN, 0};
    ::poll(&item, 1, static_cast<int>(timeout.count()));
    ::close(hPid);
  }
  int nStatus = 0;
  const pid_t result = ::waitpid(m_pid, &nStatus, WNOHANG);
  if (result == m_pid) {
    m_status = nStatus;
  } else if (hPid < 0 && timeout.count() > 0) {
    WaitUntil([&] { return ::waitpid(m_pid, &nStatus, WNOHANG) == m_pid ? (m_status = nStatus, true) : false; },
              timeout);
  }
  return m_status;
}

bool ChildProcess::Signal(int nSignal) { return m_pid > 0 && !m_status && ::kill(m_pid, nSignal) == 0; }

std::string ChildProcess::Stdout() const { return ReadFileText(m_stdout); }
std::string ChildProcess::Stderr() const { return ReadFileText(m_stderr); }

std::string DescribeStatus(std::optional<int> status) {
  if (!status) {
    return "still running";
  }
  if (WIFEXITED(*status)) {
    return "exited with " + std::to_string(WEXITSTATUS(*status));
  }
  if (WIFSIGNALED(*status)) {
    return std::string("killed by signal ") + std::to_string(WTERMSIG(*status));
  }
  return "status " + std::to_string(*status);
}

}  // namespace orb::test
