#pragma once
// The editor link's transport: one Unix datagram socket per process, bound in a private
// directory of the user's runtime directory, in place of a window that receives a
// registered message. An endpoint's path is what a window handle was: every message says
// which endpoint sent it, and the answer is posted there.
//
// Datagrams rather than sequenced packets: a message is posted to a window, not sent over a
// connection. One bound datagram socket receives from every peer and answers any of them by
// address, with no listen/accept and no per-peer state to tear down when an editor ends;
// AF_UNIX datagrams are still reliable and ordered. A non-blocking send to a full peer
// fails with EAGAIN at once, so posting never blocks. With SO_PASSCRED the kernel attaches
// the sender's pid and uid to every datagram (SCM_CREDENTIALS), which a connectionless
// socket could not otherwise ask for (SO_PEERCRED needs a connection).
//
// Endpoint names are "<pid>-<serial>", so a process's endpoints can be found from its pid
// (the program posts LINK_READY to every endpoint of a running editor). A name whose socket
// is no longer bound (its process died without removing it) is refused by the kernel on
// connect; such names are skipped and removed.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/link/link_message.h"

namespace orb::platform {

inline constexpr const char* kLinkDirectoryName = "orb-link";

// $XDG_RUNTIME_DIR/orb-link, or under /tmp/orb-UID (made private when missing) as the
// program's runtime directory falls back. Empty, with the reason, when neither can be used.
std::string DefaultLinkDirectory(std::string* pError = nullptr);

class CLinkEndpoint final {
 public:
  // Creates sDirectory (0700) when missing; refuses one that is a symbolic link, not ours
  // or open to others. Binds this process's endpoint there (0600), non-blocking. Null on
  // failure, with the reason in *pError and in the log.
  static std::unique_ptr<CLinkEndpoint> Open(const std::string& sDirectory, std::string* pError = nullptr);

  CLinkEndpoint(const CLinkEndpoint&) = delete;
  CLinkEndpoint& operator=(const CLinkEndpoint&) = delete;
  ~CLinkEndpoint();  // removes the endpoint

  // Readable when messages wait (for the window's socket notifier).
  int Fd() const { return m_fd.Get(); }
  const std::string& Path() const { return m_sPath; }
  const std::string& Directory() const { return m_sDirectory; }

  // The next good message; false when none waits. Anything else that waits (another user, a
  // bad size or magic, descriptors where none belong, LINK_CREATE_MEMORY without a block)
  // is logged and dropped on the way, its descriptors closed.
  bool Receive(LinkMessage* pMessage);

  // Posts one message without waiting; nFd (the block of LINK_CREATE_MEMORY, -1 for none)
  // stays the caller's. A peer that is gone or whose queue is full is logged and false.
  bool Post(const std::string& sEndpoint, std::uint32_t dwParam, int nFd = -1);

  // The live endpoints of process nPid in our directory, sorted; stale ones are removed.
  std::vector<std::string> EndpointsOfProcess(std::int32_t nPid) const;

 private:
  CLinkEndpoint(UniqueFd fd, std::string sDirectory, std::string sPath);

  UniqueFd m_fd;
  std::string m_sDirectory;
  std::string m_sPath;
};

}  // namespace orb::platform
