#pragma once
// What the resident core needs of the link to the companion editor: posting a command to
// an editor's endpoint (our own endpoint goes with it as the sender) and finding the
// endpoints of a process. The transport implements it; the core's tests record.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/link/link_message.h"

namespace orb {

using platform::LINK_CREATE_MEMORY;
using platform::LINK_DESTROY_MEMORY;
using platform::LINK_END_APPLICATION;
using platform::LINK_READY;
using platform::LINK_UPDATE;

class EditorLink {
 public:
  EditorLink() = default;
  EditorLink(const EditorLink&) = delete;
  EditorLink& operator=(const EditorLink&) = delete;
  virtual ~EditorLink() = default;

  // Never blocks; false (logged) when the peer is gone or full.
  virtual bool Post(const std::string& sEndpoint, std::uint32_t dwWParam) = 0;
  // Every endpoint the process nPid has open ("every window of that process").
  virtual std::vector<std::string> EndpointsOfProcess(int nPid) = 0;
};

}  // namespace orb
