#pragma once
// A helper program a system test talks to line by line: commands go to its standard
// input, and each line it prints is kept, in order, for the test to wait for. Used for
// the controller simulator (`orbctl hid simulate`) and the X clients that print the keys
// they receive. Closing its input asks it to end; the destructor kills what is left.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orb::test {

class PipedProcess final {
 public:
  // args[0] is the program's path; `env` sets variables over the test's own. Its
  // standard error goes to the test's.
  PipedProcess(const std::vector<std::string>& args, const std::filesystem::path& directory,
               const std::vector<std::pair<std::string, std::string>>& env = {});
  ~PipedProcess();
  PipedProcess(const PipedProcess&) = delete;
  PipedProcess& operator=(const PipedProcess&) = delete;

  pid_t Pid() const { return m_pid; }

  // Writes one line (a newline is added); false when the program no longer reads.
  bool Send(const std::string& line);

  // Waits for the next line, after the one the last wait found, that starts with
  // `prefix`; lines skipped on the way stay in Lines(). False at the deadline or when
  // the program's output ends first.
  bool WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout, std::string* pLine = nullptr);

  // Every line printed so far (what has arrived by now; nothing is waited for).
  const std::vector<std::string>& Lines();

  bool Signal(int nSignal);

  // Closes its input and waits for it to end; the raw wait status, or nullopt (and the
  // program is killed) at the deadline.
  std::optional<int> Finish(std::chrono::milliseconds timeout);

 private:
  // Reads what is there within `timeoutMs` into m_lines; false when the output has ended.
  bool ReadSome(int timeoutMs);

  pid_t m_pid = -1;
  int m_nIn = -1;
  int m_nOut = -1;
  bool m_blEnded = false;
  std::optional<int> m_status;
  std::string m_partial;
  std::vector<std::string> m_lines;
  std::size_t m_nNext = 0;  // the first line the next wait looks at
};

}  // namespace orb::test
