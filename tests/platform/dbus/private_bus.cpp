#include "private_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace orb::test {

PrivateBus::PrivateBus() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return;
  }
  m_pid = ::fork();
  if (m_pid == 0) {
    ::dup2(fds[1], 3);  // dup2 clears close-on-exec on the copy
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=3", nullptr};
    ::execvp(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(fds[1]);
  // The address is the daemon's first line; it comes once the bus listens.
  std::string line;
  pollfd waiter{fds[0], POLLIN, 0};
  while (m_pid > 0 && line.find('\n') == std::string::npos && ::poll(&waiter, 1, 10000) > 0) {
    char chunk[256];
    const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
    if (n <= 0) break;
    line.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (const auto nEnd = line.find('\n'); nEnd != std::string::npos) {
    m_address = line.substr(0, nEnd);
  }
}

PrivateBus::~PrivateBus() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
  }
}

}  // namespace orb::test

namespace orb::test {

BusServing::BusServing(platform::dbus::Connection& connection)
    : m_connection(connection), m_stopFd(::eventfd(0, EFD_CLOEXEC)) {
  m_thread = std::thread([this] {
    for (;;) {
      std::string error;
      if (!m_connection.Dispatch(&error)) return;
      pollfd fds[2] = {{m_connection.Fd(), POLLIN, 0}, {m_stopFd, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) return;
    }
  });
}

BusServing::~BusServing() {
  const std::uint64_t n = 1;
  (void)::write(m_stopFd, &n, sizeof n);
  m_thread.join();
  ::close(m_stopFd);
}

}  // namespace orb::test
