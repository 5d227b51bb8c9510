#pragma once
// Learning that HID devices came or went, as an event: the main loop watches Fd() and,
// when it is readable, calls Dispatch(); when that says something changed it looks for the
// controller again (FindAndOpenController). The monitor only says "look again".

#include <memory>
#include <string>

namespace orb::platform {

class HidMonitor {
 public:
  HidMonitor() = default;
  HidMonitor(const HidMonitor&) = delete;
  HidMonitor& operator=(const HidMonitor&) = delete;
  virtual ~HidMonitor() = default;

  // Pollable; readable while notices wait. Stays the same number for the monitor's life.
  virtual int Fd() const = 0;
  // Reads every notice waiting, without blocking. True when a HID device was added,
  // removed or changed (a change is also udev applying new permissions to a node).
  virtual bool Dispatch() = 0;
  // "udev hidraw", "simulated", "simulator PATH": for the log.
  virtual std::string Name() const = 0;
};

// The monitor of the current backend (CurrentHidBackend()); null, with a log line, when
// the backend cannot make one. The caller then has only polling to fall back on.
std::unique_ptr<HidMonitor> CreateHidMonitor();

}  // namespace orb::platform
