#pragma once
// A program a benchmark starts: its own working directory and environment changes,
// standard output and error to files there, standard input a pipe the benchmark holds
// (closing it is how `orbctl hid simulate` is told to end). Ended when it goes: SIGTERM,
// then SIGKILL if it has not ended within a few seconds.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orb::bench {

using EnvChanges = std::vector<std::pair<std::string, std::string>>;

class SpawnedProgram final {
 public:
  // args[0] is the program's path. `unset` removes variables from the inherited
  // environment; `env` sets (or replaces) others. Output goes to NAME.out and NAME.err in
  // `directory`, NAME being the program's file name.
  SpawnedProgram(const std::vector<std::string>& args, const std::filesystem::path& directory, const EnvChanges& env,
                 const std::vector<std::string>& unset = {});
  ~SpawnedProgram();
  SpawnedProgram(const SpawnedProgram&) = delete;
  SpawnedProgram& operator=(const SpawnedProgram&) = delete;

  // False when fork or exec failed (Error() says why).
  bool Started() const { return m_pid > 0; }
  const std::string& Error() const { return m_sError; }
  pid_t Pid() const { return m_pid; }
  // Taken just before fork: the exec's own cost is inside what is measured from here.
  std::chrono::steady_clock::time_point StartedAt() const { return m_startedAt; }
  const std::filesystem::path& StdoutFile() const { return m_stdout; }
  const std::filesystem::path& StderrFile() const { return m_stderr; }

  void CloseStdin();
  // The wait status once ended; nullopt while it still runs at the deadline.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // SIGTERM, and SIGKILL after `grace`; the wait status.
  std::optional<int> Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

 private:
  pid_t m_pid = -1;
  int m_nStdin = -1;
  std::optional<int> m_status;
  std::string m_sError;
  std::chrono::steady_clock::time_point m_startedAt;
  std::filesystem::path m_stdout;
  std::filesystem::path m_stderr;
};

}  // namespace orb::bench
