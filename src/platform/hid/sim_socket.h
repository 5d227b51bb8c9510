#pragma once
// Unix SOCK_SEQPACKET plumbing shared by the simulated controller's server and client.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/unique_fd.h"
#include "platform/hid/sim_wire.h"

namespace orb::platform {

// Connected socket, or an invalid one (errno says why).
UniqueFd ConnectSimSocket(const std::string& sPath);
// Bound and listening; a stale socket file at the path is replaced.
UniqueFd ListenSimSocket(const std::string& sPath, std::string* pError);
// One whole message; never raises SIGPIPE. False when the peer is gone or the send failed.
bool SendSimMessage(int nFd, SimMessageType type, const std::uint8_t* pPayload, std::size_t nPayload);
// Waits up to nTimeoutMs for one message into pBuffer (kSimMaxMessage bytes). Returns its
// size, 0 when the peer closed, -1 on time-out or error.
long ReceiveSimMessage(int nFd, std::uint8_t* pBuffer, int nTimeoutMs);

}  // namespace orb::platform
