#pragma once
// Where HID devices come from: the kernel's hidraw nodes, an in-process simulation (tests,
// `orbctl play`) or the simulated controller of an `orbctl hid simulate` process. The
// process picks one at start-up; the device layer only ever talks to CurrentHidBackend().

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orb::platform {

class HidMonitor;

struct HidDeviceInfo {
  std::string sPath;
  std::uint16_t nVendorId;
  std::uint16_t nProductId;
  std::uint16_t nVersion;
  std::string sName;
};

// How a node is opened: the flags the device record keeps. Reads are always non-blocking
// (the caller polls Fd()); nonblocking stands where the overlapped flag stood.
struct HidOpenMode {
  bool blRead = true;
  bool blWrite = false;
  bool blNonBlocking = true;
  bool blExclusive = false;
};

// An open device node. Not copyable; closed when destroyed.
class HidDevice {
 public:
  HidDevice() = default;
  HidDevice(const HidDevice&) = delete;
  HidDevice& operator=(const HidDevice&) = delete;
  virtual ~HidDevice() = default;

  // Pollable: readable when a report waits or when the device is gone.
  virtual int Fd() const = 0;
  // Non-blocking: >0 the bytes of one report (with its id byte when the device numbers
  // its reports, as hidraw gives them), 0 none waiting, -1 the device is gone.
  virtual long ReadReport(std::uint8_t* pBuffer, std::size_t nSize) = 0;
  // Sends a feature report; pReport[0] is the report id (0 when the device numbers none).
  virtual bool SetFeature(const std::uint8_t* pReport, std::size_t nSize) = 0;
  virtual const std::vector<std::uint8_t>& ReportDescriptor() const = 0;
  // Vendor, product, version and name, as enumeration lists them.
  virtual const HidDeviceInfo& Info() const = 0;
};

class HidBackend {
 public:
  HidBackend() = default;
  HidBackend(const HidBackend&) = delete;
  HidBackend& operator=(const HidBackend&) = delete;
  virtual ~HidBackend() = default;

  // Every HID device present, in the order the system lists them.
  virtual std::vector<HidDeviceInfo> Enumerate() = 0;
  // Null when the node cannot be opened or its descriptor cannot be read; the backend has
  // then logged why (once per path for a node the user may not open).
  virtual std::unique_ptr<HidDevice> Open(const std::string& sPath, const HidOpenMode& mode) = 0;
  // "hidraw", "simulated", "simulator PATH": for the log and `orbctl hid list`.
  virtual std::string Name() const = 0;
  // Tells of devices coming and going (hid_monitor.h). Null when none can be made; the
  // backend has then logged why.
  virtual std::unique_ptr<HidMonitor> CreateMonitor() = 0;
  // Why sPath cannot be opened for reading, with what fixes it when the backend knows;
  // empty when it can be (the node is closed again). For `orbctl hid list`.
  virtual std::string OpenProblem(const std::string& sPath);
};

// The process-wide backend. Chosen on first use from the environment: ORB_HID=sim:PATH
// selects the simulated controller served on the Unix socket PATH, anything else (or
// nothing) the kernel's hidraw devices. The choice is written to the log.
HidBackend& CurrentHidBackend();
// Replaces the choice (tests, `orbctl play`); null goes back to the environment's choice.
// The caller keeps the backend alive while it is current.
void SetCurrentHidBackend(HidBackend* pBackend);

// The backends that the environment's choice builds.
std::unique_ptr<HidBackend> CreateHidrawBackend();
std::unique_ptr<HidBackend> CreateSimulatorClientBackend(const std::string& sSocketPath);

}  // namespace orb::platform
