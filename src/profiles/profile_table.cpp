#include "profiles/profile_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "base/write_log.h"

namespace orb {
namespace {

// A table of this size would hold some 13,000 applications; anything larger is not a
// profile table, and reading it whole could exhaust the memory.
constexpr std::size_t kMaxTableFileSize = 64u * 1024 * 1024;

std::uint16_t ReadWord(const ProfileRecord& record, std::size_t nOffset) {
  std::uint8_t bytes[2];
  std::memcpy(bytes, reinterpret_cast<const std::uint8_t*>(&record) + nOffset, sizeof bytes);
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

class FileDescriptor final {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return m_fd; }
  bool IsOpen() const { return m_fd >= 0; }
  void Reset(int fd) {
    Close();
    m_fd = fd;
  }
  // Returns close()'s verdict: a late write error can surface only here.
  bool Close() {
    if (m_fd < 0) {
      return true;
    }
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int m_fd;
};

bool WriteAll(int fd, const std::uint8_t* pData, std::size_t nSize) {
  while (nSize > 0) {
    const ssize_t nWritten = ::write(fd, pData, nSize);
    if (nWritten < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    pData += nWritten;
    nSize -= static_cast<std::size_t>(nWritten);
  }
  return true;
}

}  // namespace

std::vector<ProfileRecord> ReadProfileTable(std::span<const std::uint8_t> bytes) {
  std::vector<ProfileRecord> records(TableRecordCount(bytes.size()));
  if (!records.empty()) {
    std::memcpy(records.data(), bytes.data(), records.size() * kProfileRecordSize);
  }
  return records;
}

std::vector<std::uint8_t> WriteProfileTable(std::span<const ProfileRecord> records) {
  std::vector<std::uint8_t> bytes(records.size() * kProfileRecordSize);
  if (!bytes.empty()) {
    std::memcpy(bytes.data(), records.data(), bytes.size());
  }
  return bytes;
}

const ControlEntry* FindControlEntry(const ProfileRecord& record, int nControlCode) {
  const int k = nControlCode - kFirstControlCode;
  if (k < 0 || k >= kControlEntries) {
    return nullptr;
  }
  return &record.entries[k];
}

const KeyCommand* SelectCommand(const ProfileRecord& record, int nControlCode) {
  const ControlEntry* pEntry = FindControlEntry(record, nControlCode);
  return pEntry == nullptr ? nullptr : &SelectCommand(*pEntry, record.dwFlags);
}

bool MatchVersionRule(unsigned nRule, std::uint32_t dwStoredMS, std::uint32_t dwStoredLS, std::uint32_t dwVersionMS,
                      std::uint32_t dwVersionLS) {
  switch (nRule) {
    case 0:
      return true;
    case 1:
      return (dwVersionMS >> 16) == (dwStoredMS >> 16);
    case 2:
      return dwVersionMS == dwStoredMS;
    case 3:
      return dwVersionMS == dwStoredMS && (dwVersionLS >> 16) == (dwStoredLS >> 16);
    case 4:
      return dwVersionMS == dwStoredMS && dwVersionLS == dwStoredLS;
    default:
      return false;  // 5-7: never
  }
}

bool MatchVersion(const ProfileRecord& record, std::uint32_t dwVersionMS, std::uint32_t dwVersionLS) {
  // The stored major version and build number are the 16-bit words at offsets 590 and
  // 594: the high halves of the little-endian version words.
  const std::uint32_t dwStoredMS = (static_cast<std::uint32_t>(ReadWord(record, 590)) << 16) | ReadWord(record, 588);
  const std::uint32_t dwStoredLS = (static_cast<std::uint32_t>(ReadWord(record, 594)) << 16) | ReadWord(record, 592);
  return MatchVersionRule(VersionRule(record.dwFlags), dwStoredMS, dwStoredLS, dwVersionMS, dwVersionLS);
}

bool LoadTableFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) {
    WriteLog("LoadTableFile: cannot open %s : %s\r\n", path.c_str(), std::strerror(errno));
    return false;
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    WriteLog("LoadTableFile: %s is not a regular file\r\n", path.c_str());
    return false;
  }
  // The size may change while we read; read to the end, within the limit.
  std::uint8_t buffer[16384];
  for (;;) {
    const ssize_t nRead = ::read(file.Get(), buffer, sizeof buffer);
    if (nRead < 0) {
      if (errno == EINTR) {
        continue;
      }
      WriteLog("LoadTableFile: cannot read %s : %s\r\n", path.c_str(), std::strerror(errno));
      bytes.clear();
      return false;
    }
    if (nRead == 0) {
      return true;
    }
    if (bytes.size() + static_cast<std::size_t>(nRead) > kMaxTableFileSize) {
      WriteLog("LoadTableFile: %s is larger than %zu bytes\r\n", path.c_str(), kMaxTableFileSize);
      bytes.clear();
      return false;
    }
    bytes.insert(bytes.end(), buffer, buffer + nRead);
  }
}

bool SaveTableFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  // Replace the file a symbolic link points to, not the link.
  std::filesystem::path target = path;
  std::error_code error;
  if (std::filesystem::is_symlink(path, error)) {
    std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (!error) {
      target = resolved;
    }
  }

  struct stat oldStatus {};
  const bool blHadFile = ::stat(target.c_str(), &oldStatus) == 0;

  // A fresh name beside the target: the rename must not cross file systems.
  static std::atomic<unsigned> s_nCounter{0};
  std::string tempName;
  FileDescriptor file(-1);
  for (int nTry = 0; nTry < 100 && !file.IsOpen(); ++nTry) {
    tempName = target.string() + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(s_nCounter++);
    file.Reset(::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.IsOpen() && errno != EEXIST) {
      break;
    }
  }
  if (!file.IsOpen()) {
    WriteLog("SaveTableFile: cannot create a file beside %s : %s\r\n", target.c_str(), std::strerror(errno));
    return false;
  }

  const char* pFailed = nullptr;
  if (blHadFile && ::fchmod(file.Get(), oldStatus.st_mode & 07777) != 0) {
    pFailed = "fchmod";
  } else if (!WriteAll(file.Get(), bytes.data(), bytes.size())) {
    pFailed = "write";
  } else if (::fsync(file.Get()) != 0) {
    pFailed = "fsync";
  } else if (!file.Close()) {
    pFailed = "close";
  } else if (::rename(tempName.c_str(), target.c_str()) != 0) {
    pFailed = "rename";
  }
  if (pFailed != nullptr) {
    WriteLog("SaveTableFile: %s failed for %s : %s\r\n", pFailed, target.c_str(), std::strerror(errno));
    file.Close();
    ::unlink(tempName.c_str());
    return false;
  }

  // Make the rename itself durable. The new table is in place either way; a directory
  // that cannot be synced is only worth a line in the log.
  std::filesystem::path directory = target.parent_path();
  if (directory.empty()) {
    directory = ".";
  }
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.IsOpen() || ::fsync(dir.Get()) != 0) {
    WriteLog("SaveTableFile: cannot sync the directory of %s : %s\r\n", target.c_str(), std::strerror(errno));
  }
  return true;
}

}  // namespace orb
