#pragma once
// A simulated HID world inside the process, for tests and `orbctl play`: devices with any
// vendor, product, name and descriptor; input reports queued from any thread; unplugging
// and plugging back at any moment; every feature report sent is kept for inspection.
//
// Each device has one queue of input reports; whichever open node reads first gets the
// next one, and reports queued before anyone opened the device wait for the first reader.
// Unplugging empties the queue and makes every node opened so far report the device gone
// for good; after plugging back, a fresh open is needed, as with real hardware.
//
// Monitors (CreateMonitor) become readable when a device is added, unplugged or plugged
// back; a Plug or Unplug that changes nothing tells them nothing.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/hid/hid_backend.h"

namespace orb::platform {

class SimulatedHidBackend final : public HidBackend {
 public:
  SimulatedHidBackend();
  ~SimulatedHidBackend() override;

  // Adds a plugged-in device at the end of the enumeration order. Its path is info.sPath,
  // or "sim:N" when that is empty; the path is returned.
  std::string AddDevice(HidDeviceInfo info, std::vector<std::uint8_t> descriptor);
  // The controller, with the built-in descriptor and the given ids.
  std::string AddController(std::uint16_t nVendorId = 0x056D, std::uint16_t nProductId = 0x0007);

  // Thread-safe. False when the path is unknown or the device is unplugged (dropped).
  bool QueueInputReport(const std::string& sPath, std::vector<std::uint8_t> report);
  void Unplug(const std::string& sPath);
  void Plug(const std::string& sPath);
  // Test hooks: make the next opens, or the feature sends, of a device fail.
  void SetOpenFails(const std::string& sPath, bool blFail);
  void SetFeatureFails(const std::string& sPath, bool blFail);

  std::vector<std::vector<std::uint8_t>> FeatureReports(const std::string& sPath) const;
  int OpenCount(const std::string& sPath) const;
  std::size_t QueuedReports(const std::string& sPath) const;
  // Waits (up to the deadline) until at least nCount feature reports were sent.
  bool WaitForFeatureReports(const std::string& sPath, std::size_t nCount, std::chrono::milliseconds timeout) const;
  // Waits (up to the deadline) until every queued report of the device has been read.
  bool WaitUntilDrained(const std::string& sPath, std::chrono::milliseconds timeout) const;

  std::vector<HidDeviceInfo> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& sPath, const HidOpenMode& mode) override;
  std::string Name() const override { return "simulated"; }
  std::unique_ptr<HidMonitor> CreateMonitor() override;

 private:
  class Node;
  class Monitor;
  struct Device;
  struct World;  // shared with the open nodes, which may outlive the backend
  std::shared_ptr<World> m_pWorld;
};

}  // namespace orb::platform
