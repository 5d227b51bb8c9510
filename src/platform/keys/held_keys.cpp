#include "platform/keys/held_keys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orb::platform {

// The file's bytes. Only this program and its guard read it, of the same build: a record
// of another layout is told by its tag and taken as empty.
struct HeldKeyRecord::Layout {
  char tag[8];
  std::atomic<std::int32_t> nPid;
  std::uint32_t nUnused;
  std::atomic<std::uint64_t> nStartTime;
  char sink[16];
  char target[232];
  std::atomic<std::uint8_t> down[kCodes];
};

namespace {

constexpr char kTag[8] = {'O', 'R', 'B', 'K', 'E', 'Y', 'S', '1'};
constexpr std::size_t kFileSize = 4096;
static_assert(std::atomic<std::uint8_t>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free,
              "the record is shared between processes: its atomics must not hide a lock");

std::atomic<HeldKeyRecord*> g_pInstalled{nullptr};

std::string FieldText(const char* pField, std::size_t nSize) { return std::string(pField, strnlen(pField, nSize)); }

void SetField(char* pField, std::size_t nSize, const std::string& text) {
  std::memset(pField, 0, nSize);
  std::memcpy(pField, text.data(), std::min(text.size(), nSize - 1));
}

}  // namespace

std::unique_ptr<HeldKeyRecord> HeldKeyRecord::Open(const std::string& path, std::string* pError) {
  const int nFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (nFd < 0) {
    *pError = path + ": " + std::strerror(errno);
    return nullptr;
  }
  auto pRecord = FromFd(nFd, pError);
  if (!pRecord) {
    ::close(nFd);
    *pError = path + ": " + *pError;
  }
  return pRecord;
}

std::unique_ptr<HeldKeyRecord> HeldKeyRecord::FromFd(int nFd, std::string* pError) {
  static_assert(sizeof(Layout) <= kFileSize);
  struct stat info {};
  if (::fstat(nFd, &info) != 0) {
    *pError = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
    *pError = "not a regular file of this user";
    return nullptr;
  }
  if (static_cast<std::size_t>(info.st_size) != kFileSize && ::ftruncate(nFd, kFileSize) != 0) {
    *pError = std::string("cannot size it: ") + std::strerror(errno);
    return nullptr;
  }
  void* pMap = ::mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, nFd, 0);
  if (pMap == MAP_FAILED) {
    *pError = std::string("cannot map it: ") + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<HeldKeyRecord>(new HeldKeyRecord(nFd, static_cast<Layout*>(pMap)));
}

HeldKeyRecord::~HeldKeyRecord() {
  if (Installed() == this) {
    Install(nullptr);
  }
  ::munmap(m_pLayout, kFileSize);
  ::close(m_nFd);
}

HeldKeyRecord::Contents HeldKeyRecord::Read() const {
  Contents contents;
  if (std::memcmp(m_pLayout->tag, kTag, sizeof kTag) != 0) {
    return contents;
  }
  contents.nPid = m_pLayout->nPid.load();
  contents.nStartTime = m_pLayout->nStartTime.load();
  contents.sink = FieldText(m_pLayout->sink, sizeof m_pLayout->sink);
  contents.target = FieldText(m_pLayout->target, sizeof m_pLayout->target);
  for (std::size_t i = 0; i < kCodes; ++i) {
    if (m_pLayout->down[i].load() != 0) {
      contents.codes.push_back(static_cast<std::uint16_t>(i));
    }
  }
  return contents;
}

void HeldKeyRecord::Claim(int nPid, std::uint64_t nStartTime) {
  Clear();
  m_pLayout->nStartTime.store(nStartTime);
  m_pLayout->nPid.store(nPid);
}

void HeldKeyRecord::SetSink(const char* pSink, const std::string& target) {
  SetField(m_pLayout->sink, sizeof m_pLayout->sink, pSink);
  SetField(m_pLayout->target, sizeof m_pLayout->target, target);
}

void HeldKeyRecord::MarkDown(std::uint16_t nCode) {
  if (nCode < kCodes) {
    m_pLayout->down[nCode].store(1);
  }
}

void HeldKeyRecord::MarkUp(std::uint16_t nCode) {
  if (nCode < kCodes) {
    m_pLayout->down[nCode].store(0);
  }
}

void HeldKeyRecord::Clear() {
  m_pLayout->nPid.store(0);
  m_pLayout->nStartTime.store(0);
  SetField(m_pLayout->sink, sizeof m_pLayout->sink, "");
  SetField(m_pLayout->target, sizeof m_pLayout->target, "");
  for (auto& down : m_pLayout->down) {
    down.store(0);
  }
  std::memcpy(m_pLayout->tag, kTag, sizeof kTag);
}

HeldKeyRecord* HeldKeyRecord::Installed() { return g_pInstalled.load(); }

void HeldKeyRecord::Install(HeldKeyRecord* pRecord) { g_pInstalled.store(pRecord); }

}  // namespace orb::platform
