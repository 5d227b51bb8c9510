// The link message parser on any datagram. The first byte says what came with the bytes:
// bits 0-1 the number of descriptors, bit 2 credentials, bit 3 another user, bit 4 cut
// short, bit 5 an unbound sender. What is accepted must be a whole message with a block
// exactly when it is LINK_CREATE_MEMORY, and every descriptor not handed on must be closed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/link/link_message.h"

using namespace orb::platform;

namespace {

bool IsOpen(int nFd) {
  return ::fcntl(nFd, F_GETFD) >= 0 || errno != EBADF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize == 0) return 0;
  const std::uint8_t nFlags = pData[0];
  LinkDatagram datagram;
  datagram.bytes.assign(pData + 1, pData + nSize);
  datagram.blHasCredentials = (nFlags & 0x04) != 0;
  datagram.nUid = (nFlags & 0x08) != 0 ? 65534 : 1000;
  datagram.nPid = 77;
  datagram.blTruncated = (nFlags & 0x10) != 0;
  if ((nFlags & 0x20) == 0) datagram.sSource = "/run/user/1000/orb-link/77-0";
  std::vector<int> fds;
  for (int i = 0; i < (nFlags & 0x03); ++i) {
    datagram.fds.emplace_back(::dup(STDERR_FILENO));
    fds.push_back(datagram.fds.back().Get());
  }

  LinkParseResult result = ParseLinkDatagram(std::move(datagram), 1000);
  if (result.Ok()) {
    if (nSize - 1 != kLinkMessageBytes || (nFlags & 0x3C) != 0x04) __builtin_trap();
    const bool blCreate = result.message.Command() == LINK_CREATE_MEMORY;
    if (blCreate != result.message.fdBlock.Valid()) __builtin_trap();
    if (blCreate && result.message.Count() == 0) __builtin_trap();
  } else if (result.message.fdBlock.Valid() || result.sReason.empty()) {
    __builtin_trap();
  }
  result = LinkParseResult{};
  for (int nFd : fds) {
    if (IsOpen(nFd)) __builtin_trap();  // left open, refused or with its message gone
  }
  return 0;
}
