#pragma once
// The simulated controller as a server on a Unix socket (`orbctl hid simulate`). It is
// driven by text commands, one per line:
//   button N        only button usage N down          buttons N M ...   those down
//   release         no button down                    wheel V           the wheel moved by V
//   raw HEX         that report, byte for byte        unplug / plug     pull it out, put it back
// Reports are built from the descriptor through the HID parser, so any descriptor with
// Button-page buttons and a Generic Desktop Wheel works. Each report goes to every client
// that has the device open; while none has, reports are dropped, as hidraw drops them.
// Connections that asked to watch hear Plugged or Unplugged at each change, as a udev
// monitor hears of a node coming and going.

#include <functional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/hid/hid_parser.h"
#include "platform/hid/sim_wire.h"

namespace orb::platform {

class SimulatedControllerServer final {
 public:
  struct Events {
    std::function<void(const std::vector<std::uint8_t>&)> onFeature;  // a feature report arrived
    std::function<void(int nOpen)> onOpenCount;                        // clients with the device open
  };

  SimulatedControllerServer(std::string sSocketPath, SimDevice device, Events events);
  SimulatedControllerServer(const SimulatedControllerServer&) = delete;
  SimulatedControllerServer& operator=(const SimulatedControllerServer&) = delete;
  ~SimulatedControllerServer();

  // Parses the descriptor and starts listening. False with the reason.
  bool Start(std::string* pError);
  // Serves the socket until nStopFd (if >= 0) becomes readable or the time-out passes
  // (-1: none). Returns true when nStopFd is readable.
  bool Serve(int nStopFd, int nTimeoutMs);
  // Carries out one command line. False with the reason when it cannot be understood.
  bool Command(const std::string& sLine, std::string* pError);

  int OpenCount() const { return static_cast<int>(m_nodes.size()); }
  int WatcherCount() const { return static_cast<int>(m_watchers.size()); }

 private:
  bool SendReport(const std::vector<std::uint8_t>& report);
  bool ButtonReport(const std::vector<USAGE>& usages, std::string* pError);
  void Accept();
  // Reads every message waiting on an open node; false when its client has gone.
  bool DrainNode(int nFd);
  void Handle(std::size_t nIndex);
  void CloseNodes();
  void Announce(SimMessageType type);

  std::string m_sSocketPath;
  SimDevice m_device;
  Events m_events;
  std::vector<HidPreparsedData> m_parsed;
  UniqueFd m_listen;
  std::vector<UniqueFd> m_pending;  // connected, not yet asked for anything
  std::vector<UniqueFd> m_nodes;    // connections that opened the device
  std::vector<UniqueFd> m_watchers;  // connections told of plugging and unplugging
  bool m_blPlugged = true;
  std::vector<std::uint8_t> m_receive;
};

}  // namespace orb::platform
