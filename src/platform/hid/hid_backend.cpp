#include "platform/hid/hid_backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/write_log.h"
#include "platform/hid/hid_monitor.h"

namespace orb::platform {

namespace {

std::atomic<HidBackend*> g_pOverride{nullptr};

HidBackend& EnvironmentBackend() {
  // Built once, on first use, and kept for the life of the process.
  static std::unique_ptr<HidBackend> s_pBackend = [] {
    const char* pChoice = std::getenv("ORB_HID");
    std::unique_ptr<HidBackend> pBackend;
    if (pChoice != nullptr && std::strncmp(pChoice, "sim:", 4) == 0 && pChoice[4] != '\0') {
      pBackend = CreateSimulatorClientBackend(pChoice + 4);
    } else {
      pBackend = CreateHidrawBackend();
    }
    WriteLog("HidBackend: %s\r\n", pBackend->Name().c_str());
    return pBackend;
  }();
  return *s_pBackend;
}

}  // namespace

HidBackend& CurrentHidBackend() {
  HidBackend* pOverride = g_pOverride.load(std::memory_order_acquire);
  return pOverride != nullptr ? *pOverride : EnvironmentBackend();
}

void SetCurrentHidBackend(HidBackend* pBackend) { g_pOverride.store(pBackend, std::memory_order_release); }

std::string HidBackend::OpenProblem(const std::string& sPath) {
  return Open(sPath, HidOpenMode{}) ? std::string() : "it cannot be opened (" + Name() + ")";
}

std::unique_ptr<HidMonitor> CreateHidMonitor() {
  HidBackend& backend = CurrentHidBackend();
  std::unique_ptr<HidMonitor> pMonitor = backend.CreateMonitor();
  if (pMonitor) {
    WriteLog("HidMonitor: %s\r\n", pMonitor->Name().c_str());
  } else {
    WriteLog("HidMonitor: none for %s; device arrival is found only by looking again\r\n", backend.Name().c_str());
  }
  return pMonitor;
}

}  // namespace orb::platform
