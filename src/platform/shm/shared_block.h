#pragma once
// Shared memory that a peer cannot pull away: a memfd sealed against shrinking and
// growing, mapped read/write. The live profile table lives in one; the editor link hands
// such blocks between processes as file descriptors. Because the size can never change,
// a mapped view stays valid for its whole length (no SIGBUS from a peer's ftruncate) and
// a block's size says how many records it holds.

#include <cstddef>
#include <memory>
#include <string>

#include "base/unique_fd.h"

namespace orb::platform {

class SharedBlock final {
 public:
  // A new zero-filled block of nSize (> 0) bytes, sealed. Null on failure, with the reason
  // in *pError (when given) and in the log.
  static std::unique_ptr<SharedBlock> Create(const char* pName, std::size_t nSize, std::string* pError = nullptr);
  // A block a peer made: taken only when it is sealed against shrinking and growing and is
  // exactly nExpectedSize bytes. Null otherwise, with the reason.
  static std::unique_ptr<SharedBlock> Adopt(UniqueFd fd, std::size_t nExpectedSize, std::string* pError = nullptr);

  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;
  ~SharedBlock();

  unsigned char* Data() const { return m_pData; }
  std::size_t Size() const { return m_nSize; }
  // For handing the block to a peer (the fd stays ours).
  int Fd() const { return m_fd.Get(); }

 private:
  SharedBlock(UniqueFd fd, unsigned char* pData, std::size_t nSize);

  UniqueFd m_fd;
  unsigned char* m_pData;
  std::size_t m_nSize;
};

}  // namespace orb::platform
