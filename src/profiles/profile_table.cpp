#include "profiles/profile_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "base/link_owner.h"
#include "base/write_log.h"

namespace orb {
namespace {

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

// No write permission for us, by the mode bits alone: root may write anything, yet a file
// that nobody may write was made read-only on purpose.
bool IsReadOnly(const std::filesystem::path& path, const struct stat& status) {
  if ((status.st_mode & 0222) == 0) {
    return true;
  }
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// "<name>.tmp.<pid>.<n>" -> pid; 0 for any other name.
int TempFilePid(std::string_view sName, std::string_view sPrefix) {
  if (sName.size() <= sPrefix.size() || sName.substr(0, sPrefix.size()) != sPrefix) {
    return 0;
  }
  sName.remove_prefix(sPrefix.size());
  const std::size_t nDot = sName.find('.');
  if (nDot == std::string_view::npos || nDot + 1 == sName.size()) {
    return 0;
  }
  int nPid = 0;
  const auto [pEnd, error] = std::from_chars(sName.data(), sName.data() + nDot, nPid);
  if (error != std::errc{} || pEnd != sName.data() + nDot || nPid <= 0) {
    return 0;
  }
  for (const char c : sName.substr(nDot + 1)) {
    if (c < '0' || c > '9') {
      return 0;
    }
  }
  return nPid;
}

}  // namespace

std::string TempFilePrefix(const std::filesystem::path& target) { return target.filename().string() + ".tmp."; }

int RemoveStaleTempFiles(const std::filesystem::path& path) {
  std::filesystem::path target = path;
  std::string sIgnored;
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    if (!MayFollowLink(path.c_str(), sIgnored)) {
      return 0;  // no save of ours went through another user's link
    }
    std::error_code error;
    target = std::filesystem::canonical(path, error);
    if (error) {
      return 0;
    }
  }
  std::filesystem::path directory = target.parent_path();
  if (directory.empty()) {
    directory = ".";
  }
  const std::string sPrefix = TempFilePrefix(target);
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.IsOpen()) {
    return 0;
  }
  DIR* pDir = ::fdopendir(::dup(dir.Get()));
  if (pDir == nullptr) {
    return 0;
  }
  int nRemoved = 0;
  while (const dirent* pEntry = ::readdir(pDir)) {
    const int nPid = TempFilePid(pEntry->d_name, sPrefix);
    // A save that still runs (another instance, this one) keeps its file; a pid that is
    // gone, or that another user's process has taken since, cannot be saving our table.
    if (nPid == 0 || nPid == ::getpid()) {
      continue;
    }
    if (::kill(nPid, 0) == 0 || errno != ESRCH) {
      continue;
    }
    struct stat entry {};
    if (::fstatat(dir.Get(), pEntry->d_name, &entry, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(entry.st_mode) ||
        entry.st_uid != ::geteuid()) {
      continue;
    }
    if (::unlinkat(dir.Get(), pEntry->d_name, 0) == 0) {
      WriteLog("RemoveStaleTempFiles: removed %s, left by a save of process %d\r\n", pEntry->d_name, nPid);
      ++nRemoved;
    }
  }
  ::closedir(pDir);
  return nRemoved;
}

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

bool LoadTableFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string* pError,
                   const ReadLimit& limit) {
  std::string why;
  if (!ReadRegularFile(path.c_str(), limit, bytes, why)) {
    WriteLog("LoadTableFile: cannot read %s : %s\r\n", path.c_str(), why.c_str());
    if (pError != nullptr) {
      *pError = why;
    }
    return false;
  }
  return true;
}

bool SaveTableFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string* pError,
                   unsigned nNewFileMode) {
  auto refuse = [&](const std::filesystem::path& name, const std::string& why) {
    WriteLog("SaveTableFile: %s : %s\r\n", name.c_str(), why.c_str());
    if (pError != nullptr) {
      *pError = why;
    }
    return false;
  };
  // Replace the file a symbolic link points to, not the link; but only a link of ours.
  std::filesystem::path target = path;
  std::string sLinkProblem;
  if (!MayFollowLink(path.c_str(), sLinkProblem)) {
    return refuse(path, sLinkProblem);
  }
  struct stat oldStatus {};
  bool blHadFile = ::lstat(path.c_str(), &oldStatus) == 0;
  if (blHadFile && S_ISLNK(oldStatus.st_mode)) {
    std::error_code error;
    target = std::filesystem::canonical(path, error);
    if (error) {
      return refuse(path, "a symbolic link that cannot be followed: " + error.message());
    }
    blHadFile = ::lstat(target.c_str(), &oldStatus) == 0;
  }
  if (!blHadFile && errno != ENOENT) {
    return refuse(target, std::strerror(errno));
  }
  // The rename below would put a regular file where a device node or a FIFO stood.
  if (blHadFile && !S_ISREG(oldStatus.st_mode)) {
    return refuse(target, std::string("it is ") + FileTypeName(oldStatus.st_mode) + "; only a regular file is replaced");
  }
  // The rename would go around the mode bits: a file made read-only stays as it is.
  if (blHadFile && IsReadOnly(target, oldStatus)) {
    return refuse(target, "the file is read-only; it is left as it is");
  }

  // A fresh name beside the target: the rename must not cross file systems.
  static std::atomic<unsigned> s_nCounter{0};
  std::string tempName;
  FileDescriptor file(-1);
  for (int nTry = 0; nTry < 100 && !file.IsOpen(); ++nTry) {
    tempName = (target.parent_path() / TempFilePrefix(target)).string() + std::to_string(::getpid()) + "." + std::to_string(s_nCounter++);
    file.Reset(::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, nNewFileMode));
    if (!file.IsOpen() && errno != EEXIST) {
      break;
    }
  }
  if (!file.IsOpen()) {
    return refuse(target, std::string("cannot create a file beside it: ") + std::strerror(errno));
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
    const std::string why = std::string(pFailed) + ": " + std::strerror(errno);
    file.Close();
    ::unlink(tempName.c_str());
    return refuse(target, why);
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
