#include "base/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/unique_fd.h"

namespace orb {
namespace {

std::string TooLarge(const ReadLimit& limit) {
  return "larger than " + std::to_string(limit.nMaxBytes) + " bytes, the limit for " + limit.pWhat;
}

std::string NotRegular(unsigned nMode) { return std::string(FileTypeName(nMode)) + ", not a regular file"; }

// Reads at most one byte past the limit: that byte alone says the input is too large.
bool ReadLimited(int nFd, const ReadLimit& limit, std::vector<std::uint8_t>& bytes, std::string& error) {
  constexpr std::size_t kChunk = 64 * 1024;
  for (;;) {
    const std::size_t nRoom = limit.nMaxBytes + 1 - bytes.size();
    if (nRoom == 0) {
      bytes.clear();
      error = TooLarge(limit);
      return false;
    }
    const std::size_t nOld = bytes.size();
    const std::size_t nAsk = std::min(kChunk, nRoom);
    bytes.resize(nOld + nAsk);
    const ssize_t nRead = ::read(nFd, bytes.data() + nOld, nAsk);
    bytes.resize(nOld + (nRead > 0 ? static_cast<std::size_t>(nRead) : 0));
    if (nRead == 0) {
      return true;
    }
    if (nRead < 0 && errno != EINTR) {
      error = std::strerror(errno);
      bytes.clear();
      return false;
    }
  }
}

}  // namespace

const char* FileTypeName(unsigned nMode) {
  switch (nMode & S_IFMT) {
    case S_IFREG:
      return "a regular file";
    case S_IFDIR:
      return "a directory";
    case S_IFCHR:
      return "a character device";
    case S_IFBLK:
      return "a block device";
    case S_IFIFO:
      return "a FIFO";
    case S_IFSOCK:
      return "a socket";
    case S_IFLNK:
      return "a symbolic link";
    default:
      return "a special file";
  }
}

bool ReadRegularFile(const char* pPath, const ReadLimit& limit, std::vector<std::uint8_t>& bytes, std::string& error) {
  bytes.clear();
  // Looked at before it is opened: opening a device can have effects of its own, and
  // opening a FIFO for reading waits for a writer.
  struct stat status {};
  if (::stat(pPath, &status) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    error = NotRegular(status.st_mode);
    return false;
  }
  if (static_cast<std::uint64_t>(status.st_size) > limit.nMaxBytes) {
    error = TooLarge(limit);
    return false;
  }
  // O_NONBLOCK: should the name have become a FIFO since, open() still returns at once.
  UniqueFd file(::open(pPath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file.Valid()) {
    error = std::strerror(errno);
    return false;
  }
  if (::fstat(file.Get(), &status) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    error = NotRegular(status.st_mode);
    return false;
  }
  const int nFlags = ::fcntl(file.Get(), F_GETFL);
  if (nFlags >= 0) {
    ::fcntl(file.Get(), F_SETFL, nFlags & ~O_NONBLOCK);
  }
  // The size may change while we read; the limit holds either way.
  bytes.reserve(std::min(static_cast<std::size_t>(status.st_size), limit.nMaxBytes) + 1);
  return ReadLimited(file.Get(), limit, bytes, error);
}

bool ReadToEnd(int nFd, const ReadLimit& limit, std::vector<std::uint8_t>& bytes, std::string& error) {
  bytes.clear();
  return ReadLimited(nFd, limit, bytes, error);
}

}  // namespace orb
