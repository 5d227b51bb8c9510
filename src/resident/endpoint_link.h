#pragma once
// The editor link over this process's link endpoint: what the core posts goes out as a
// datagram from our endpoint, whose path the editor answers to.

#include <memory>

#include "platform/link/link_endpoint.h"
#include "resident/editor_link.h"

namespace orb {

class CEndpointLink final : public EditorLink {
 public:
  explicit CEndpointLink(std::unique_ptr<platform::CLinkEndpoint> pEndpoint) : m_pEndpoint(std::move(pEndpoint)) {}

  bool Post(const std::string& sEndpoint, std::uint32_t dwWParam) override {
    return m_pEndpoint->Post(sEndpoint, dwWParam);
  }
  std::vector<std::string> EndpointsOfProcess(int nPid) override { return m_pEndpoint->EndpointsOfProcess(nPid); }

  platform::CLinkEndpoint& Endpoint() { return *m_pEndpoint; }

 private:
  std::unique_ptr<platform::CLinkEndpoint> m_pEndpoint;
};

}  // namespace orb
