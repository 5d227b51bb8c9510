#pragma once
// SIGTERM, SIGINT and SIGHUP end the program the orderly way, as the tray menu's Exit:
// the handler only writes to a pipe; the window thread reads it in its event loop and
// closes the window, so its destruction (threads stopped, table saved) runs as usual.
// Later signals wait for that end: until the watcher goes they are noted and ignored.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace orb {

class CSignalWatcher final {
 public:
  // onSignal runs on the thread that created the watcher, from its event loop.
  explicit CSignalWatcher(std::function<void(int nSignal)> onSignal);
  // Restores the default handling of the three signals; once ending, ignores them instead
  // (the process is about to end).
  ~CSignalWatcher();
  CSignalWatcher(const CSignalWatcher&) = delete;
  CSignalWatcher& operator=(const CSignalWatcher&) = delete;

  // One watcher per process. False, with a log line, when the pipe or a handler cannot
  // be set up; the signals then keep their default effect.
  bool Install();

 private:
  void OnReadable();

  std::function<void(int)> m_onSignal;
  int m_hRead = -1;
  int m_hWrite = -1;
  std::unique_ptr<QSocketNotifier> m_pNotifier;
  bool m_blEnding = false;
};

}  // namespace orb
