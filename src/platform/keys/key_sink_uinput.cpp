// Key strokes through a virtual keyboard of the kernel's uinput: works in any session
// (X11, Wayland, console). Keys go by evdev code, that is by position on the keyboard.
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <bitset>
#include <cstring>
#include <mutex>

#include "base/write_log.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/virtual_keys.h"

namespace orb::platform {
namespace {

class UinputKeySink final : public KeySink {
 public:
  UinputKeySink(libevdev* pDevice, libevdev_uinput* pUinput) : m_pDevice(pDevice), m_pUinput(pUinput) {}
  ~UinputKeySink() override {
    libevdev_uinput_destroy(m_pUinput);
    libevdev_free(m_pDevice);
  }

  void KeyEvent(std::uint8_t nVk, std::uint8_t /*nScanCode*/, bool blUp) override {
    std::lock_guard lock(m_m);
    const VirtualKeyInfo* pInfo = FindVirtualKey(nVk);
    if (pInfo == nullptr || pInfo->nEvdevCode == 0) {
      if (!m_logged.test(nVk)) {
        m_logged.set(nVk);
        WriteLog("UinputKeySink: virtual key 0x%02X has no evdev code; its events are dropped\r\n", nVk);
      }
      return;
    }
    const int rc = libevdev_uinput_write_event(m_pUinput, EV_KEY, pInfo->nEvdevCode, blUp ? 0 : 1);
    libevdev_uinput_write_event(m_pUinput, EV_SYN, SYN_REPORT, 0);
    if (rc < 0 && !m_blWriteFailLogged) {
      m_blWriteFailLogged = true;
      WriteLog("UinputKeySink: writing a key event failed: %s\r\n", std::strerror(-rc));
    }
  }

  const char* Name() const override { return "uinput"; }

 private:
  libevdev* m_pDevice;
  libevdev_uinput* m_pUinput;
  std::mutex m_m;
  std::bitset<256> m_logged;
  bool m_blWriteFailLogged = false;
};

}  // namespace

bool UinputKeySinkBuilt() { return true; }

std::unique_ptr<KeySink> CreateUinputKeySink(std::string* pReason) {
  libevdev* pDevice = libevdev_new();
  if (pDevice == nullptr) {
    *pReason = "libevdev_new failed";
    return nullptr;
  }
  libevdev_set_name(pDevice, "ORB virtual keyboard");
  libevdev_set_id_bustype(pDevice, BUS_VIRTUAL);
  libevdev_enable_event_type(pDevice, EV_KEY);
  for (const VirtualKeyInfo& info : AllVirtualKeys()) {
    if (info.nEvdevCode != 0) {
      libevdev_enable_event_code(pDevice, EV_KEY, info.nEvdevCode, nullptr);
    }
  }
  libevdev_uinput* pUinput = nullptr;
  const int rc = libevdev_uinput_create_from_device(pDevice, LIBEVDEV_UINPUT_OPEN_MANAGED, &pUinput);
  if (rc != 0) {
    *pReason = std::string("cannot create a keyboard on /dev/uinput: ") + std::strerror(-rc);
    libevdev_free(pDevice);
    return nullptr;
  }
  return std::make_unique<UinputKeySink>(pDevice, pUinput);
}

}  // namespace orb::platform
