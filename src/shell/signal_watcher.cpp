#include "shell/signal_watcher.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "base/write_log.h"

namespace orb {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> g_hSignalPipe{-1};

void OnTerminateSignal(int nSignal) {
  const int nSavedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(nSignal);
  const int hPipe = g_hSignalPipe.load();
  if (hPipe >= 0) {
    // Non-blocking: when the pipe is full a signal is already waiting to be seen.
    [[maybe_unused]] const ssize_t n = ::write(hPipe, &byte, 1);
  }
  errno = nSavedErrno;
}

void RestoreDefaultHandlers() {
  for (int nSignal : kSignals) {
    std::signal(nSignal, SIG_DFL);
  }
}

}  // namespace

CSignalWatcher::CSignalWatcher(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {}

CSignalWatcher::~CSignalWatcher() {
  if (m_hWrite >= 0) {
    if (m_blEnding) {
      // The process ends in a moment: a signal now would only turn a clean end into death
      // by signal.
      for (int nSignal : kSignals) {
        std::signal(nSignal, SIG_IGN);
      }
    } else {
      RestoreDefaultHandlers();
    }
    g_hSignalPipe.store(-1);
  }
  m_pNotifier.reset();
  if (m_hRead >= 0) {
    ::close(m_hRead);
  }
  if (m_hWrite >= 0) {
    ::close(m_hWrite);
  }
}

bool CSignalWatcher::Install() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    WriteLog("CSignalWatcher: pipe2 failed, errno = %d\r\n", errno);
    return false;
  }
  m_hRead = fds[0];
  m_hWrite = fds[1];
  g_hSignalPipe.store(m_hWrite);

  m_pNotifier = std::make_unique<QSocketNotifier>(m_hRead, QSocketNotifier::Read);
  QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(), [this] { OnReadable(); });

  struct sigaction action {};
  action.sa_handler = OnTerminateSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int nSignal : kSignals) {
    if (::sigaction(nSignal, &action, nullptr) != 0) {
      WriteLog("CSignalWatcher: sigaction(%d) failed, errno = %d\r\n", nSignal, errno);
      RestoreDefaultHandlers();
      return false;
    }
  }
  return true;
}

void CSignalWatcher::OnReadable() {
  unsigned char buffer[16];
  int nSignal = 0;
  ssize_t nRead = 0;
  while ((nRead = ::read(m_hRead, buffer, sizeof buffer)) > 0) {
    nSignal = buffer[nRead - 1];
  }
  if (nSignal == 0) {
    return;
  }
  // From here the program is on its way out. A second signal (a session manager that
  // repeats itself, `timeout`, a double Ctrl+C) must not cut the exit save short: the
  // handlers stay, and what they note is not acted on. SIGKILL remains for a stuck end.
  if (m_blEnding) {
    WriteLog("CSignalWatcher: signal %d while ending; the end goes on\r\n", nSignal);
    return;
  }
  m_blEnding = true;
  WriteLog("CSignalWatcher: signal %d, ending\r\n", nSignal);
  if (m_onSignal) {
    m_onSignal(nSignal);
  }
}

}  // namespace orb
