#include "scratch_dir.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace orb::bench {

ScratchDir::ScratchDir() {
  const char* pBase = std::getenv("TMPDIR");
  std::string sTemplate = std::string(pBase != nullptr && *pBase != '\0' ? pBase : "/tmp") + "/orb-bench-XXXXXX";
  if (::mkdtemp(sTemplate.data()) != nullptr) {
    m_path = sTemplate;
  }
}

ScratchDir::~ScratchDir() {
  if (!m_path.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool WriteWholeFile(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

bool WaitForFileText(const std::filesystem::path& path, std::string_view text, std::chrono::milliseconds timeout,
                     std::chrono::steady_clock::time_point* pSeenAt) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  const int nNotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (nNotify < 0) {
    return false;
  }
  // Watched before the first look, so that a write between the look and the wait is heard.
  ::inotify_add_watch(nNotify, path.parent_path().c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
  bool blFound = false;
  for (;;) {
    if (ReadWholeFile(path).find(text) != std::string::npos) {
      if (pSeenAt != nullptr) {
        *pSeenAt = Clock::now();
      }
      blFound = true;
      break;
    }
    const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd item{nNotify, POLLIN, 0};
    if (nLeft <= 0 || ::poll(&item, 1, static_cast<int>(nLeft)) <= 0) {
      break;
    }
    char events[4096];
    while (::read(nNotify, events, sizeof events) > 0) {
    }
  }
  ::close(nNotify);
  return blFound;
}

}  // namespace orb::bench
