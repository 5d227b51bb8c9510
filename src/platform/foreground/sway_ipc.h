#pragma once
// The i3/sway IPC wire format and what its messages say about the window in front. Bytes
// only, no socket: the tracker reads, this decides. Every input here comes from another
// process and is handled as untrusted (a length that would make us allocate without end,
// JSON of any shape).
//
// A message is the six bytes "i3-ipc", a 32-bit payload length and a 32-bit type, both in
// the machine's byte order, then the payload (JSON). Events have the type's high bit set.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foreground/foreground_tracker.h"

namespace orb::platform::sway {

inline constexpr std::size_t kHeaderBytes = 14;
// A tree of a few hundred windows is some hundred kilobytes; a larger announced payload is
// taken for a broken peer, not waited for.
inline constexpr std::uint32_t kMaxPayloadBytes = 16u << 20;

enum MessageType : std::uint32_t {
  kSubscribe = 2,
  kGetTree = 4,
  kEventWorkspace = 0x80000000u,
  kEventWindow = 0x80000003u,
};

struct Header {
  std::uint32_t nType = 0;
  std::uint32_t nLength = 0;  // payload bytes that follow the header
};

// The header at the start of bytes (at least kHeaderBytes of them). Null, with the reason,
// when the magic is not there or the payload would be over kMaxPayloadBytes.
std::optional<Header> ParseHeader(std::span<const std::uint8_t> bytes, std::string* pReason);

// A whole message to send.
std::vector<std::uint8_t> EncodeMessage(std::uint32_t nType, std::string_view payload);

// The reply to SUBSCRIBE: true when it says {"success": true}.
bool SubscribeSucceeded(std::string_view payload);

// The reply to GET_TREE: the window that has the seat's focus, or the empty window when
// the focus is on a workspace or output, or when nothing is focused. Null when the payload
// is not a tree (not JSON, not an object).
std::optional<ForegroundWindow> FocusedInTree(std::string_view payload);

// The window in front after an event, given the one in front before it. Null when the
// event does not change it (another kind of change, another window closing, a payload
// that is not what sway sends).
//   window "focus": the event's container, with its pid (0 when it has none);
//   window "close" of the window in front: nothing is in front;
//   workspace "focus" onto a workspace without windows: nothing is in front (a workspace
//   with windows is followed by its window's own "focus" event).
std::optional<ForegroundWindow> FrontAfterEvent(std::uint32_t nType, std::string_view payload,
                                                const ForegroundWindow& before);

}  // namespace orb::platform::sway
