#pragma once
// The editor link's messages: one 12-byte datagram per message, the same command words the
// program and its editors always exchanged, and the parser that turns what a socket handed
// us (bytes, descriptors, the kernel's word on who sent it) into a message or a reason to
// drop it. The parser makes no system call, so the fuzzer and the tests drive it directly.
//
// Wire form, little-endian:
//   bytes 0-3   "ORBL"
//   bytes 4-7   version, 1
//   bytes 8-11  wParam: the command in the low 16 bits; for LINK_CREATE_MEMORY the record
//               count in the high 16 bits
// LINK_CREATE_MEMORY carries exactly one descriptor (SCM_RIGHTS), the sealed block; every
// other command carries none. The sender is the socket's own address, not a payload field,
// so a peer cannot name another process's endpoint as the one to answer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace orb::platform {

inline constexpr std::uint16_t LINK_READY = 1;
inline constexpr std::uint16_t LINK_END_APPLICATION = 2;
inline constexpr std::uint16_t LINK_DESTROY_MEMORY = 3;
inline constexpr std::uint16_t LINK_CREATE_MEMORY = 4;
inline constexpr std::uint16_t LINK_UPDATE = 5;

inline constexpr std::size_t kLinkMessageBytes = 12;
inline constexpr std::uint32_t kLinkVersion = 1;
inline constexpr char kLinkMagic[4] = {'O', 'R', 'B', 'L'};

constexpr std::uint16_t LinkCommandOf(std::uint32_t dwParam) {
  return static_cast<std::uint16_t>(dwParam & 0xFFFF);
}
constexpr std::uint16_t LinkCountOf(std::uint32_t dwParam) {
  return static_cast<std::uint16_t>(dwParam >> 16);
}
constexpr std::uint32_t MakeLinkParam(std::uint16_t nCommand, std::uint16_t nCount = 0) {
  return static_cast<std::uint32_t>(nCommand) | (static_cast<std::uint32_t>(nCount) << 16);
}

// "LINK_READY" ... "LINK_UPDATE"; null for a word without a meaning (0, 6 and above).
const char* LinkCommandName(std::uint16_t nCommand);

// The 12 bytes of one message.
std::vector<std::uint8_t> EncodeLinkMessage(std::uint32_t dwParam);

// One good message. sSender is the path of the endpoint to answer (the window handle the
// program stores); fdBlock is valid only for LINK_CREATE_MEMORY.
struct LinkMessage {
  std::string sSender;
  std::uint32_t dwParam = 0;
  UniqueFd fdBlock;
  std::int32_t nSenderPid = 0;

  std::uint16_t Command() const { return LinkCommandOf(dwParam); }
  std::uint16_t Count() const { return LinkCountOf(dwParam); }
};

// Everything one receive gave us. The descriptors are owned here: whatever the parser does
// not hand on in the message is closed with this object.
struct LinkDatagram {
  std::vector<std::uint8_t> bytes;
  bool blTruncated = false;       // the payload or the control data did not fit
  std::vector<UniqueFd> fds;      // from SCM_RIGHTS, in order
  bool blHasCredentials = false;  // SCM_CREDENTIALS came with it
  std::uint32_t nUid = 0;         // the kernel-checked sender's uid and pid
  std::int32_t nPid = 0;
  std::string sSource;  // the sender's bound address; empty when unbound
};

enum class LinkRefusal {
  None,
  NoCredentials,
  OtherUser,
  Truncated,
  WrongSize,
  WrongMagic,
  WrongVersion,
  NoSender,
  UnexpectedFd,
  MissingBlock,
  ZeroCount,
};

struct LinkParseResult {
  LinkRefusal nRefusal = LinkRefusal::None;
  std::string sReason;  // for the log line; names the offending value
  LinkMessage message;  // meaningful only when nRefusal is None

  bool Ok() const { return nRefusal == LinkRefusal::None; }
};

// Only a sender of nOwnUid is heard. Commands without a meaning here are good messages (the
// program stores their sender); they just must not carry a descriptor.
LinkParseResult ParseLinkDatagram(LinkDatagram datagram, std::uint32_t nOwnUid);

}  // namespace orb::platform
