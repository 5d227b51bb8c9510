#include "platform/link/link_message.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace orb::platform {

namespace {

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLe32(std::uint8_t* p, std::uint32_t dw) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(dw >> (8 * i));
}

LinkParseResult Refuse(LinkRefusal nRefusal, std::string sReason) {
  LinkParseResult result;
  result.nRefusal = nRefusal;
  result.sReason = std::move(sReason);
  return result;
}

std::string Hex32(std::uint32_t dw) {
  char sz[16];
  std::snprintf(sz, sizeof sz, "0x%08X", dw);
  return sz;
}

}  // namespace

const char* LinkCommandName(std::uint16_t nCommand) {
  switch (nCommand) {
    case LINK_READY: return "LINK_READY";
    case LINK_END_APPLICATION: return "LINK_END_APPLICATION";
    case LINK_DESTROY_MEMORY: return "LINK_DESTROY_MEMORY";
    case LINK_CREATE_MEMORY: return "LINK_CREATE_MEMORY";
    case LINK_UPDATE: return "LINK_UPDATE";
    default: return nullptr;
  }
}

std::vector<std::uint8_t> EncodeLinkMessage(std::uint32_t dwParam) {
  std::vector<std::uint8_t> bytes(kLinkMessageBytes);
  std::memcpy(bytes.data(), kLinkMagic, sizeof kLinkMagic);
  WriteLe32(bytes.data() + 4, kLinkVersion);
  WriteLe32(bytes.data() + 8, dwParam);
  return bytes;
}

LinkParseResult ParseLinkDatagram(LinkDatagram datagram, std::uint32_t nOwnUid) {
  // Who sent it comes first: nothing from another user is looked at further.
  if (!datagram.blHasCredentials) {
    return Refuse(LinkRefusal::NoCredentials, "no sender credentials came with the datagram");
  }
  if (datagram.nUid != nOwnUid) {
    return Refuse(LinkRefusal::OtherUser, "sent by uid " + std::to_string(datagram.nUid) + " (pid " +
                                              std::to_string(datagram.nPid) + "), not ours (" +
                                              std::to_string(nOwnUid) + ")");
  }
  if (datagram.blTruncated) {
    return Refuse(LinkRefusal::Truncated, "the datagram or its descriptors did not fit (" +
                                              std::to_string(datagram.bytes.size()) + " bytes, " +
                                              std::to_string(datagram.fds.size()) + " descriptors kept)");
  }
  if (datagram.bytes.size() != kLinkMessageBytes) {
    return Refuse(LinkRefusal::WrongSize, "a datagram of " + std::to_string(datagram.bytes.size()) +
                                              " bytes, expected " + std::to_string(kLinkMessageBytes));
  }
  const std::uint8_t* p = datagram.bytes.data();
  if (std::memcmp(p, kLinkMagic, sizeof kLinkMagic) != 0) {
    return Refuse(LinkRefusal::WrongMagic, "not a link message (starts " + Hex32(ReadLe32(p)) + ")");
  }
  const std::uint32_t dwVersion = ReadLe32(p + 4);
  if (dwVersion != kLinkVersion) {
    return Refuse(LinkRefusal::WrongVersion,
                  "link message version " + std::to_string(dwVersion) + ", expected " + std::to_string(kLinkVersion));
  }
  const std::uint32_t dwParam = ReadLe32(p + 8);
  const std::uint16_t nCommand = LinkCommandOf(dwParam);
  // The answer goes to the sender's address, so it must be one we can send to.
  if (datagram.sSource.empty() || datagram.sSource[0] != '/' || datagram.sSource.find('\0') != std::string::npos) {
    return Refuse(LinkRefusal::NoSender, "command " + std::to_string(nCommand) + " from pid " +
                                             std::to_string(datagram.nPid) + " without an endpoint path to answer");
  }
  const std::size_t nFds = datagram.fds.size();
  if (nCommand == LINK_CREATE_MEMORY) {
    if (nFds == 0) {
      return Refuse(LinkRefusal::MissingBlock, "LINK_CREATE_MEMORY without a block");
    }
    if (nFds > 1) {
      return Refuse(LinkRefusal::UnexpectedFd,
                    "LINK_CREATE_MEMORY with " + std::to_string(nFds) + " descriptors, expected one block");
    }
    if (LinkCountOf(dwParam) == 0) {
      return Refuse(LinkRefusal::ZeroCount, "LINK_CREATE_MEMORY with a count of 0 records");
    }
  } else if (nFds != 0) {
    return Refuse(LinkRefusal::UnexpectedFd, "command " + std::to_string(nCommand) + " with " + std::to_string(nFds) +
                                                 " descriptors, it takes none");
  }

  LinkParseResult result;
  result.message.sSender = std::move(datagram.sSource);
  result.message.dwParam = dwParam;
  result.message.nSenderPid = datagram.nPid;
  if (nCommand == LINK_CREATE_MEMORY) result.message.fdBlock = std::move(datagram.fds[0]);
  return result;
}

}  // namespace orb::platform
