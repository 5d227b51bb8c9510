#pragma once
// The editor's side of the link with a running orb, as `orbctl link load` and `edit` play
// it: take the table (LINK_DESTROY_MEMORY, then wait for LINK_READY), hand a block
// (LINK_CREATE_MEMORY), tell of changes (LINK_UPDATE), give the table back
// (LINK_END_APPLICATION).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/link/link_endpoint.h"
#include "platform/shm/shared_block.h"

namespace orb::orbctl {

// "orbctl link: TEXT" on standard error; 2, the status of every failure.
int LinkError(const std::string& sMessage);

// An endpoint of our own; null after one line on standard error. From then on the
// transport's log lines (failed posts, dropped datagrams) go to standard error too.
std::unique_ptr<platform::CLinkEndpoint> OpenOwnEndpoint();

// The pid of the running orb, the holder of its single-instance lock beside the link
// directory; -1 with the reason in *pError when no process holds it.
long RunningOrbPid(const platform::CLinkEndpoint& endpoint, std::string* pError);

class CProgramLink final {
 public:
  enum class Answer { Ready, Silent, Ended, Unreachable };

  // Our endpoint and those of process nPid (of the running orb when nPid is 0). Null after
  // one line on standard error.
  static std::unique_ptr<CProgramLink> Connect(long nPid);

  CProgramLink(const CProgramLink&) = delete;
  CProgramLink& operator=(const CProgramLink&) = delete;

  long Pid() const { return m_nPid; }
  int Fd() const { return m_pEndpoint->Fd(); }
  bool Ended() const { return m_blEnded; }

  // LINK_DESTROY_MEMORY, then the program's LINK_READY within `timeout`. From a READY on,
  // only the endpoint that sent it is posted to.
  Answer TakeTable(std::chrono::milliseconds timeout);
  // LINK_CREATE_MEMORY with the block and its record count.
  bool HandTable(const platform::SharedBlock& block);
  bool PostUpdate();
  bool PostEndApplication();
  // Reads whatever the program posted meanwhile; notes its LINK_END_APPLICATION.
  void Drain();

 private:
  CProgramLink(std::unique_ptr<platform::CLinkEndpoint> pEndpoint, long nPid, std::vector<std::string> endpoints);
  bool PostToProgram(std::uint32_t dwParam, int nFd = -1);
  // True for a message from the program that says it ends.
  bool Notice(const platform::LinkMessage& message);

  std::unique_ptr<platform::CLinkEndpoint> m_pEndpoint;
  long m_nPid;
  std::vector<std::string> m_endpoints;
  bool m_blEnded = false;
};

}  // namespace orb::orbctl
