#pragma once
// A fresh directory under $TMPDIR (else /tmp) for one benchmark's files: a started
// program's working, runtime and settings directories. Short paths on purpose: Unix
// socket names inside it must fit sun_path. Removed with its contents when it goes.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace orb::bench {

class ScratchDir final {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool Made() const { return !m_path.empty(); }
  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

// The whole file; "" when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);
bool WriteWholeFile(const std::filesystem::path& path, std::string_view text);

// Waits, on inotify events of the file's directory rather than by looking on a timer,
// until the file holds `text`. *pSeenAt: when it was first seen there.
bool WaitForFileText(const std::filesystem::path& path, std::string_view text, std::chrono::milliseconds timeout,
                     std::chrono::steady_clock::time_point* pSeenAt = nullptr);

}  // namespace orb::bench
