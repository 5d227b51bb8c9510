#pragma once
// Collects every WriteLog line while it lives, whether or not a log file is open.

#include <mutex>
#include <string>

#include "base/write_log.h"

namespace orb::test {

class LogCapture final {
 public:
  LogCapture() { SetLogObserver(&LogCapture::OnLine, this); }
  ~LogCapture() { SetLogObserver(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() {
    std::lock_guard lock(m_lock);
    return m_text;
  }

 private:
  static void OnLine(void* pContext, const char* pLine, std::size_t nLength) {
    auto* pSelf = static_cast<LogCapture*>(pContext);
    std::lock_guard lock(pSelf->m_lock);
    pSelf->m_text.append(pLine, nLength);
  }

  std::mutex m_lock;
  std::string m_text;
};

}  // namespace orb::test
