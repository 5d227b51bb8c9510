#pragma once
// A program run by a test: started with its own working directory and environment
// changes, waited for with a deadline, killed if the test leaves it running.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orb::test {

// execve's arguments, built before fork: between fork and exec only async-signal-safe
// calls are allowed. argv points into the caller's args, envp into `environment`.
struct ExecArguments {
  std::vector<std::string> environment;  // the test's own, less `unset`, with `env` set over it
  std::vector<char*> argv;
  std::vector<char*> envp;
};
ExecArguments MakeExecArguments(const std::vector<std::string>& args,
                                const std::vector<std::pair<std::string, std::string>>& env,
                                const std::vector<std::string>& unset = {});

class ChildProcess final {
 public:
  // args[0] is the program's path. `env` sets variables over the test's own, `unset`
  // removes some. stdout and stderr go to files in `directory`, the working directory.
  ChildProcess(const std::vector<std::string>& args, const std::filesystem::path& directory,
               const std::vector<std::pair<std::string, std::string>>& env = {},
               const std::vector<std::string>& unset = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  bool Started() const { return m_pid > 0; }

  // The raw wait status once the process has ended, nullopt while it still runs at the
  // deadline.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  bool IsRunning();
  bool Signal(int nSignal);

  std::string Stdout() const;
  std::string Stderr() const;

 private:
  pid_t m_pid = -1;
  std::optional<int> m_status;
  std::filesystem::path m_stdout;
  std::filesystem::path m_stderr;
};

// "exited with 0" for a wait status, or what happened instead, for test messages.
std::string DescribeStatus(std::optional<int> status);

// Looks at `predicate` until it holds or the time is up; returns its last result. For
// things that give no event to wait on (a file's contents, the X window list).
template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (predicate()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return predicate();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace orb::test
