#include "piped_process.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"

namespace orb::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return nLeft > 0 ? static_cast<int>(nLeft) : 0;
}

}  // namespace

PipedProcess::PipedProcess(const std::vector<std::string>& args, const std::filesystem::path& directory,
                           const std::vector<std::pair<std::string, std::string>>& env) {
  const ExecArguments exec = MakeExecArguments(args, env);

  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) {
    return;
  }
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return;
  }
  m_pid = ::fork();
  if (m_pid == 0) {
    if (::chdir(directory.c_str()) != 0 || ::dup2(toChild[0], STDIN_FILENO) < 0 ||
        ::dup2(fromChild[1], STDOUT_FILENO) < 0) {
      ::_exit(126);
    }
    ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  m_nIn = toChild[1];
  m_nOut = fromChild[0];
  if (m_pid < 0) {
    ::close(m_nIn);
    ::close(m_nOut);
    m_nIn = m_nOut = -1;
  }
}

PipedProcess::~PipedProcess() {
  Finish(std::chrono::seconds(10));  // kills it if it does not end by then
  if (m_nOut >= 0) {
    ::close(m_nOut);
  }
}

bool PipedProcess::Send(const std::string& line) {
  if (m_nIn < 0) {
    return false;
  }
  const std::string text = line + "\n";
  // A program that has ended must fail the write, not end the test by SIGPIPE.
  const auto previous = ::signal(SIGPIPE, SIG_IGN);
  const ssize_t n = ::write(m_nIn, text.data(), text.size());
  ::signal(SIGPIPE, previous);
  return n == static_cast<ssize_t>(text.size());
}

bool PipedProcess::ReadSome(int timeoutMs) {
  if (m_nOut < 0 || m_blEnded) {
    return false;
  }
  pollfd item{m_nOut, POLLIN, 0};
  if (::poll(&item, 1, timeoutMs) <= 0) {
    return true;
  }
  char buffer[4096];
  const ssize_t n = ::read(m_nOut, buffer, sizeof buffer);
  if (n <= 0) {
    m_blEnded = true;
    return false;
  }
  m_partial.append(buffer, static_cast<std::size_t>(n));
  for (std::size_t nEnd = m_partial.find('\n'); nEnd != std::string::npos; nEnd = m_partial.find('\n')) {
    m_lines.push_back(m_partial.substr(0, nEnd));
    m_partial.erase(0, nEnd + 1);
  }
  return true;
}

bool PipedProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout, std::string* pLine) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    for (; m_nNext < m_lines.size(); ++m_nNext) {
      if (m_lines[m_nNext].rfind(prefix, 0) == 0) {
        if (pLine != nullptr) {
          *pLine = m_lines[m_nNext];
        }
        ++m_nNext;
        return true;
      }
    }
    const int nLeft = MillisecondsLeft(deadline);
    if (nLeft == 0 || !ReadSome(nLeft)) {
      return false;
    }
  }
}

const std::vector<std::string>& PipedProcess::Lines() {
  for (;;) {
    pollfd item{m_blEnded ? -1 : m_nOut, POLLIN, 0};
    if (item.fd < 0 || ::poll(&item, 1, 0) <= 0 || !ReadSome(0)) {
      return m_lines;
    }
  }
}

bool PipedProcess::Signal(int nSignal) { return m_pid > 0 && !m_status && ::kill(m_pid, nSignal) == 0; }

std::optional<int> PipedProcess::Finish(std::chrono::milliseconds timeout) {
  if (m_nIn >= 0) {
    ::close(m_nIn);  // end of input: both helpers end on it
    m_nIn = -1;
  }
  if (m_pid <= 0 || m_status) {
    return m_status;
  }
  const auto deadline = Clock::now() + timeout;
  const int hPid = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
  int nStatus = 0;
  for (;;) {
    if (::waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
      m_status = nStatus;
      break;
    }
    const int nLeft = MillisecondsLeft(deadline);
    if (nLeft == 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &nStatus, 0);
      break;
    }
    // Keep its output flowing meanwhile: a full pipe would stop it before it ends.
    pollfd items[2] = {{hPid, POLLIN, 0}, {m_blEnded ? -1 : m_nOut, POLLIN, 0}};
    if (::poll(items, 2, nLeft) > 0 && (items[1].revents & (POLLIN | POLLHUP)) != 0) {
      ReadSome(0);
    }
  }
  if (hPid >= 0) {
    ::close(hPid);
  }
  return m_status;
}

}  // namespace orb::test
