#include "platform/shm/shared_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/write_log.h"

namespace orb::platform {

namespace {

constexpr int kSizeSeals = F_SEAL_SHRINK | F_SEAL_GROW;

bool Fail(std::string* pError, const std::string& sReason) {
  WriteLog("SharedBlock: %s\r\n", sReason.c_str());
  if (pError != nullptr) *pError = sReason;
  return false;
}

unsigned char* MapShared(int nFd, std::size_t nSize) {
  void* p = ::mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_SHARED, nFd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

}  // namespace

SharedBlock::SharedBlock(UniqueFd fd, unsigned char* pData, std::size_t nSize)
    : m_fd(std::move(fd)), m_pData(pData), m_nSize(nSize) {}

SharedBlock::~SharedBlock() { ::munmap(m_pData, m_nSize); }

std::unique_ptr<SharedBlock> SharedBlock::Create(const char* pName, std::size_t nSize, std::string* pError) {
  if (nSize == 0) {
    Fail(pError, "a block of 0 bytes cannot be made");
    return nullptr;
  }
  UniqueFd fd(::memfd_create(pName, MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.Valid()) {
    Fail(pError, std::string("memfd_create failed: ") + std::strerror(errno));
    return nullptr;
  }
  if (::ftruncate(fd.Get(), static_cast<off_t>(nSize)) != 0) {
    Fail(pError, "cannot size the block to " + std::to_string(nSize) + " bytes: " + std::strerror(errno));
    return nullptr;
  }
  // F_SEAL_SEAL as well: our own block's seals are final.
  if (::fcntl(fd.Get(), F_ADD_SEALS, kSizeSeals | F_SEAL_SEAL) != 0) {
    Fail(pError, std::string("cannot seal the block: ") + std::strerror(errno));
    return nullptr;
  }
  unsigned char* pData = MapShared(fd.Get(), nSize);
  if (pData == nullptr) {
    Fail(pError, std::string("cannot map the block: ") + std::strerror(errno));
    return nullptr;
  }
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(fd), pData, nSize));
}

std::unique_ptr<SharedBlock> SharedBlock::Adopt(UniqueFd fd, std::size_t nExpectedSize, std::string* pError) {
  if (!fd.Valid()) {
    Fail(pError, "no block was handed over");
    return nullptr;
  }
  const int nSeals = ::fcntl(fd.Get(), F_GET_SEALS);
  if (nSeals < 0) {
    Fail(pError, std::string("the block handed over is not a sealable memory file: ") + std::strerror(errno));
    return nullptr;
  }
  if ((nSeals & kSizeSeals) != kSizeSeals) {
    Fail(pError, "the block handed over is not sealed against shrinking and growing (seals " +
                     std::to_string(nSeals) + ")");
    return nullptr;
  }
  struct stat st{};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Fail(pError, "the block handed over is not a memory file");
    return nullptr;
  }
  if (nExpectedSize == 0 || static_cast<unsigned long long>(st.st_size) != nExpectedSize) {
    Fail(pError, "the block handed over has " + std::to_string(st.st_size) + " bytes, expected " +
                     std::to_string(nExpectedSize));
    return nullptr;
  }
  // A block sealed against writing cannot be mapped for writing; the editor link needs it writable.
  unsigned char* pData = MapShared(fd.Get(), nExpectedSize);
  if (pData == nullptr) {
    Fail(pError, std::string("cannot map the block handed over: ") + std::strerror(errno));
    return nullptr;
  }
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(fd), pData, nExpectedSize));
}

}  // namespace orb::platform
