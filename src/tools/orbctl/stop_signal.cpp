#include "tools/orbctl/stop_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace orb::orbctl {

namespace {

int g_nStopWrite = -1;

void OnStopSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_nStopWrite, &c, 1);
}

}  // namespace

int StopSignalPipe(std::initializer_list<int> signals) {
  static int s_fds[2] = {-1, -1};
  if (s_fds[0] < 0) {
    if (::pipe2(s_fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    g_nStopWrite = s_fds[1];
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int nSignal : signals) ::sigaction(nSignal, &action, nullptr);
  return s_fds[0];
}

}  // namespace orb::orbctl
