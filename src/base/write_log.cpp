#include "base/write_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "base/link_owner.h"

namespace orb {
namespace {

// m_blLog and m_hLogFile: written only at start and end, when no other thread runs.
std::atomic<bool> g_blLog{false};
int g_hLogFile = -1;

std::mutex g_logLock;  // one write per line, lines of different threads never mixed
std::atomic<LogObserver> g_pObserver{nullptr};
void* g_pObserverContext = nullptr;

bool EndsWithLineEnd(const char* pFormat) {
  const std::size_t n = std::strlen(pFormat);
  return n > 0 && pFormat[n - 1] == '\n';
}

}  // namespace

bool StartLog(const char* path) {
  std::lock_guard lock(g_logLock);
  if (g_hLogFile >= 0) {
    ::close(g_hLogFile);
  }
  std::string why;
  g_hLogFile = OpenForWriting(path, O_WRONLY | O_CREAT | O_TRUNC, 0644, why);
  g_blLog.store(true);
  if (g_hLogFile < 0) {
    // The log is where the program says what went wrong: the one place left is stderr.
    std::fprintf(stderr, "orb: no log in %s: %s\n", path, why.c_str());
  }
  return g_hLogFile >= 0;
}

void StopLog() {
  std::lock_guard lock(g_logLock);
  if (g_hLogFile >= 0) {
    ::close(g_hLogFile);
  }
  g_hLogFile = -1;
  g_blLog.store(false);
}

bool IsLogEnabled() { return g_blLog.load(); }

void SetLogObserver(LogObserver pObserver, void* pContext) {
  std::lock_guard lock(g_logLock);
  g_pObserverContext = pContext;
  g_pObserver.store(pObserver);
}

void WriteLog(const char* pFormat, ...) {
  // Without "/m" (and no observer) the text goes nowhere; skip formatting it at all.
  if (!g_blLog.load(std::memory_order_relaxed) && g_pObserver.load(std::memory_order_relaxed) == nullptr) {
    return;
  }
  char szBuffer[kLogBufferSize];
  va_list args;
  va_start(args, pFormat);
  const int iNeeded = std::vsnprintf(szBuffer, sizeof szBuffer, pFormat, args);
  va_end(args);
  if (iNeeded < 0) {
    return;
  }
  std::size_t nLength = static_cast<std::size_t>(iNeeded);
  if (nLength >= sizeof szBuffer) {
    nLength = sizeof szBuffer - 1;
    if (EndsWithLineEnd(pFormat)) {
      szBuffer[nLength - 2] = '\r';
      szBuffer[nLength - 1] = '\n';
    }
  }

  std::lock_guard lock(g_logLock);
  if (LogObserver pObserver = g_pObserver.load()) {
    pObserver(g_pObserverContext, szBuffer, nLength);
  }
  if (g_blLog.load() && g_hLogFile >= 0) {
    // The result is ignored on purpose: a failed log write must not disturb the program.
    [[maybe_unused]] const ssize_t nWritten = ::write(g_hLogFile, szBuffer, nLength);
  }
}

}  // namespace orb
