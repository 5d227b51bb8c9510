#include "base/link_owner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orb {
namespace {

std::string FolderOf(const std::string& sPath) {
  const std::size_t nSlash = sPath.rfind('/');
  if (nSlash == std::string::npos) {
    return ".";
  }
  return nSlash == 0 ? "/" : sPath.substr(0, nSlash);
}

}  // namespace

bool MayFollowLink(const char* pPath, std::string& why) {
  struct stat link {};
  if (::lstat(pPath, &link) != 0) {
    if (errno == ENOENT) {
      return true;
    }
    why = std::strerror(errno);
    return false;
  }
  if (!S_ISLNK(link.st_mode) || link.st_uid == ::geteuid()) {
    return true;
  }
  struct stat folder {};
  if (::stat(FolderOf(pPath).c_str(), &folder) == 0 && folder.st_uid == link.st_uid) {
    return true;
  }
  why = "a symbolic link of user " + std::to_string(link.st_uid) +
        ", not ours nor the folder owner's: it is not followed";
  return false;
}

int OpenForWriting(const char* pPath, int nFlags, unsigned nMode, std::string& why) {
  // First without following: a plain file, or a new one, needs no further look.
  const int fd = ::open(pPath, nFlags | O_NOFOLLOW | O_CLOEXEC, nMode);
  if (fd >= 0) {
    return fd;
  }
  if (errno != ELOOP) {
    why = std::strerror(errno);
    return -1;
  }
  if (!MayFollowLink(pPath, why)) {
    return -1;
  }
  // A link we may follow is the user's own doing: open what it names.
  const int fdTarget = ::open(pPath, nFlags | O_CLOEXEC, nMode);
  if (fdTarget < 0) {
    why = std::strerror(errno);
  }
  return fdTarget;
}

}  // namespace orb
