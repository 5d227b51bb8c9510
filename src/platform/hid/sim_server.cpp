#include "platform/hid/sim_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "base/hex_text.h"
#include "platform/hid/sim_socket.h"

namespace orb::platform {

SimulatedControllerServer::SimulatedControllerServer(std::string sSocketPath, SimDevice device, Events events)
    : m_sSocketPath(std::move(sSocketPath)), m_device(std::move(device)), m_events(std::move(events)),
      m_receive(kSimMaxMessage) {}

SimulatedControllerServer::~SimulatedControllerServer() {
  if (m_listen.Valid()) ::unlink(m_sSocketPath.c_str());
}

bool SimulatedControllerServer::Start(std::string* pError) {
  std::string sWhy;
  if (!ParseReportDescriptor(m_device.descriptor.data(), m_device.descriptor.size(), &m_parsed, &sWhy)) {
    *pError = "report descriptor refused: " + sWhy;
    return false;
  }
  m_listen = ListenSimSocket(m_sSocketPath, pError);
  return m_listen.Valid();
}

bool SimulatedControllerServer::Serve(int nStopFd, int nTimeoutMs) {
  std::vector<pollfd> fds;
  fds.push_back({m_listen.Get(), POLLIN, 0});
  for (const UniqueFd& fd : m_pending) fds.push_back({fd.Get(), POLLIN, 0});
  for (const UniqueFd& fd : m_nodes) fds.push_back({fd.Get(), POLLIN, 0});
  for (const UniqueFd& fd : m_watchers) fds.push_back({fd.Get(), POLLIN, 0});
  if (nStopFd >= 0) fds.push_back({nStopFd, POLLIN, 0});
  const int nReady = ::poll(fds.data(), fds.size(), nTimeoutMs);
  if (nReady <= 0) return false;
  const bool blStop = nStopFd >= 0 && (fds.back().revents & (POLLIN | POLLHUP | POLLERR)) != 0;

  // Connections are handled back to front so that closing one keeps the others' indices.
  const std::size_t nPending = m_pending.size();
  const std::size_t nNodes = m_nodes.size();
  for (std::size_t i = m_watchers.size(); i-- > 0;) {
    if (fds[1 + nPending + nNodes + i].revents == 0) continue;
    // A watcher sends nothing more: whatever arrives is dropped, and the end of the
    // connection ends the watch.
    const long n = ::recv(m_watchers[i].Get(), m_receive.data(), m_receive.size(), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      m_watchers.erase(m_watchers.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  for (std::size_t i = m_nodes.size(); i-- > 0;) {
    if (fds[1 + nPending + i].revents == 0) continue;
    if (!DrainNode(m_nodes[i].Get())) {
      m_nodes.erase(m_nodes.begin() + static_cast<std::ptrdiff_t>(i));
      if (m_events.onOpenCount) m_events.onOpenCount(OpenCount());
    }
  }
  for (std::size_t i = nPending; i-- > 0;) {
    if (fds[1 + i].revents == 0) continue;
    // Answered (or moved to the open nodes): either way it leaves the pending list.
    Handle(i);
    m_pending.erase(m_pending.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (fds[0].revents & POLLIN) Accept();
  return blStop;
}

bool SimulatedControllerServer::DrainNode(int nFd) {
  // A client that closes with reports still unread makes the next recv fail with
  // ECONNRESET, but what it sent before closing (its last mode bits, "all off") is still
  // queued behind that error: read on, once, to the end.
  bool blReset = false;
  for (;;) {
    const long n = ::recv(nFd, m_receive.data(), m_receive.size(), MSG_DONTWAIT);
    if (n > 0) {
      SimMessage message;
      if (DecodeSimMessage(m_receive.data(), static_cast<std::size_t>(n), &message) &&
          message.type == SimMessageType::Feature && m_events.onFeature) {
        m_events.onFeature(std::vector<std::uint8_t>(message.pPayload, message.pPayload + message.nPayload));
      }
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno == ECONNRESET && !blReset) {
      blReset = true;
      continue;
    }
    return !blReset && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

void SimulatedControllerServer::Accept() {
  UniqueFd fd(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (fd.Valid()) m_pending.push_back(std::move(fd));
}

void SimulatedControllerServer::Handle(std::size_t nIndex) {
  const int nFd = m_pending[nIndex].Get();
  const long n = ::recv(nFd, m_receive.data(), m_receive.size(), MSG_DONTWAIT);
  SimMessage message;
  if (n <= 0 || !DecodeSimMessage(m_receive.data(), static_cast<std::size_t>(n), &message)) return;
  std::vector<std::uint8_t> device;
  if (m_blPlugged) EncodeSimDevice(m_device, &device);
  if (message.type == SimMessageType::Enumerate) {
    SendSimMessage(nFd, SimMessageType::DeviceList, device.data(), device.size());
  } else if (message.type == SimMessageType::Open) {
    if (!m_blPlugged) {
      SendSimMessage(nFd, SimMessageType::Refused, nullptr, 0);
      return;
    }
    if (SendSimMessage(nFd, SimMessageType::Opened, device.data(), device.size())) {
      m_nodes.push_back(std::move(m_pending[nIndex]));
      if (m_events.onOpenCount) m_events.onOpenCount(OpenCount());
    }
  } else if (message.type == SimMessageType::Watch) {
    // Non-blocking from here on: a watcher that stops reading must not stall the server.
    const int nFlags = ::fcntl(nFd, F_GETFL);
    if (nFlags < 0 || ::fcntl(nFd, F_SETFL, nFlags | O_NONBLOCK) < 0) return;
    if (SendSimMessage(nFd, m_blPlugged ? SimMessageType::Plugged : SimMessageType::Unplugged, nullptr, 0)) {
      m_watchers.push_back(std::move(m_pending[nIndex]));
    }
  }
}

void SimulatedControllerServer::Announce(SimMessageType type) {
  for (std::size_t i = m_watchers.size(); i-- > 0;) {
    if (SendSimMessage(m_watchers[i].Get(), type, nullptr, 0)) continue;
    // A full queue means notices wait unread already: the watcher will look again anyway.
    if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
    m_watchers.erase(m_watchers.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void SimulatedControllerServer::CloseNodes() {
  for (const UniqueFd& fd : m_nodes) SendSimMessage(fd.Get(), SimMessageType::Gone, nullptr, 0);
  const bool blHad = !m_nodes.empty();
  m_nodes.clear();
  if (blHad && m_events.onOpenCount) m_events.onOpenCount(0);
}

bool SimulatedControllerServer::SendReport(const std::vector<std::uint8_t>& report) {
  for (std::size_t i = m_nodes.size(); i-- > 0;) {
    if (!SendSimMessage(m_nodes[i].Get(), SimMessageType::Report, report.data(), report.size())) {
      m_nodes.erase(m_nodes.begin() + static_cast<std::ptrdiff_t>(i));
      if (m_events.onOpenCount) m_events.onOpenCount(OpenCount());
    }
  }
  return true;
}

namespace {

// hidraw gives no id byte when the device numbers no reports.
std::vector<std::uint8_t> AsHidrawGivesIt(const HidPreparsedData& data, std::vector<std::uint8_t> report) {
  if (!data.UsesReportIds() && !report.empty()) report.erase(report.begin());
  return report;
}

}  // namespace

bool SimulatedControllerServer::ButtonReport(const std::vector<USAGE>& usages, std::string* pError) {
  const HidPreparsedData& data = m_parsed.front();
  HIDP_BUTTON_CAPS caps{};
  std::uint16_t nCaps = 1;
  const NTSTATUS nFound = HidP_GetSpecificButtonCaps(HidP_Input, HID_USAGE_PAGE_BUTTON, 0, 0, &caps, &nCaps, data);
  if (nFound != HIDP_STATUS_SUCCESS && nFound != HIDP_STATUS_BUFFER_TOO_SMALL) {
    *pError = "the descriptor has no input buttons";
    return false;
  }
  std::vector<std::uint8_t> report(data.Caps().InputReportByteLength, 0);
  report[0] = caps.ReportID;
  std::vector<USAGE> list = usages;
  std::uint32_t nLength = static_cast<std::uint32_t>(list.size());
  const NTSTATUS nStatus = HidP_SetUsages(HidP_Input, HID_USAGE_PAGE_BUTTON, 0, list.data(), &nLength, data,
                                          report.data(), static_cast<std::uint32_t>(report.size()));
  if (nStatus != HIDP_STATUS_SUCCESS) {
    *pError = std::string("cannot set button ") + std::to_string(nLength < list.size() ? list[nLength] : 0) +
              ": " + HidStatusName(nStatus);
    return false;
  }
  return SendReport(AsHidrawGivesIt(data, std::move(report)));
}

bool SimulatedControllerServer::Command(const std::string& sLine, std::string* pError) {
  std::istringstream in(sLine.substr(0, sLine.find('#')));
  std::string sVerb;
  if (!(in >> sVerb)) return true;  // blank or comment
  if (sVerb == "button" || sVerb == "buttons" || sVerb == "release") {
    std::vector<USAGE> usages;
    long nUsage = 0;
    while (in >> nUsage) {
      if (nUsage <= 0 || nUsage > 0xFFFF) {
        *pError = "button usage out of range";
        return false;
      }
      usages.push_back(static_cast<USAGE>(nUsage));
    }
    if (!in.eof()) {
      *pError = "button numbers expected";
      return false;
    }
    if ((sVerb == "button" && usages.size() != 1) || (sVerb == "release" && !usages.empty())) {
      *pError = sVerb == "button" ? "button takes one number" : "release takes nothing";
      return false;
    }
    return ButtonReport(usages, pError);
  }
  if (sVerb == "wheel") {
    long nValue = 0;
    if (!(in >> nValue)) {
      *pError = "wheel takes a signed number";
      return false;
    }
    const HidPreparsedData& data = m_parsed.front();
    HIDP_VALUE_CAPS caps{};
    std::uint16_t nCaps = 1;
    const NTSTATUS nFound =
        HidP_GetSpecificValueCaps(HidP_Input, HID_USAGE_PAGE_GENERIC, 0, HID_USAGE_GENERIC_WHEEL, &caps, &nCaps, data);
    if (nFound != HIDP_STATUS_SUCCESS && nFound != HIDP_STATUS_BUFFER_TOO_SMALL) {
      *pError = "the descriptor has no input wheel";
      return false;
    }
    std::vector<std::uint8_t> report(data.Caps().InputReportByteLength, 0);
    report[0] = caps.ReportID;
    HidP_SetUsageValue(HidP_Input, HID_USAGE_PAGE_GENERIC, 0, HID_USAGE_GENERIC_WHEEL,
                       static_cast<std::uint32_t>(nValue), data, report.data(),
                       static_cast<std::uint32_t>(report.size()));
    return SendReport(AsHidrawGivesIt(data, std::move(report)));
  }
  if (sVerb == "raw") {
    std::string sRest;
    std::getline(in, sRest);
    std::vector<std::uint8_t> report;
    if (!ParseHexText(sRest, &report, pError)) return false;
    if (report.empty() || report.size() > kSimMaxPayload) {
      *pError = "raw takes 1 to 20000 bytes";
      return false;
    }
    return SendReport(report);
  }
  if (sVerb == "unplug") {
    const bool blWas = m_blPlugged;
    m_blPlugged = false;
    CloseNodes();
    if (blWas) Announce(SimMessageType::Unplugged);
    return true;
  }
  if (sVerb == "plug") {
    if (!m_blPlugged) {
      m_blPlugged = true;
      Announce(SimMessageType::Plugged);
    }
    return true;
  }
  *pError = "unknown command '" + sVerb + "'";
  return false;
}

}  // namespace orb::platform
