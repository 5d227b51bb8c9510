#include "platform/hid/hid_backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/write_log.h"

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

}  // namespace orb::platform
