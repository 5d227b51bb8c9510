// Key strokes through a virtual keyboard of the kernel's uinput: works in any session
// (X11, Wayland, console). Keys go by evdev code, that is by position on the keyboard,
// so each key is sent where the session's layout has its symbol (uinput_layout.h).
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <bitset>
#include <cstring>
#include <mutex>

#include "base/write_log.h"
#include "platform/keys/uinput_key_sink.h"
#include "platform/keys/virtual_keys.h"

namespace orb::platform {
namespace {

// The system's keyboard configuration, read when XKB_DEFAULT_LAYOUT does not say.
constexpr const char* kKeyboardFile = "/etc/default/keyboard";

class UinputKeySink final : public KeySink {
 public:
  UinputKeySink(std::unique_ptr<UinputEventWriter> pWriter, const UinputLayout& layout)
      : m_pWriter(std::move(pWriter)), m_layout(layout) {}

  void KeyEvent(std::uint8_t nVk, std::uint8_t /*nScanCode*/, bool blUp) override {
    std::lock_guard lock(m_m);
    const std::uint16_t nCode = m_layout.code[nVk];
    if (nCode == 0) {
      if (FirstLoss(nVk)) {
        WriteLog("UinputKeySink: virtual key 0x%02X has no evdev code; its events are dropped\r\n", nVk);
      }
      return;
    }
    if (m_layout.blUsPosition[nVk] && FirstLoss(nVk)) {
      WriteLog("UinputKeySink: virtual key 0x%02X is on no unshifted key of the layout %s; it goes by its US place\r\n",
               nVk, m_layout.description.c_str());
    }
    int rc = m_pWriter->Write(EV_KEY, nCode, blUp ? 0 : 1);
    const int rcSync = m_pWriter->Write(EV_SYN, SYN_REPORT, 0);
    rc = rc < 0 ? rc : rcSync;
    if (rc < 0 && !m_blWriteFailLogged) {
      m_blWriteFailLogged = true;
      WriteLog("UinputKeySink: writing a key event failed: %s\r\n", std::strerror(-rc));
    }
  }

  const char* Name() const override { return "uinput"; }

 private:
  // A missing key is logged once, not at every press.
  bool FirstLoss(std::uint8_t nVk) {
    const bool blFirst = !m_logged.test(nVk);
    m_logged.set(nVk);
    return blFirst;
  }

  std::unique_ptr<UinputEventWriter> m_pWriter;
  const UinputLayout m_layout;
  std::mutex m_m;
  std::bitset<256> m_logged;
  bool m_blWriteFailLogged = false;
};

// The kernel's device through libevdev. Its keys go with it when it is destroyed, however
// the program ends: nothing to record for the key guard.
class EvdevWriter final : public UinputEventWriter {
 public:
  EvdevWriter(libevdev* pDevice, libevdev_uinput* pUinput) : m_pDevice(pDevice), m_pUinput(pUinput) {}
  ~EvdevWriter() override {
    libevdev_uinput_destroy(m_pUinput);
    libevdev_free(m_pDevice);
  }
  int Write(unsigned nType, unsigned nCode, int nValue) override {
    return libevdev_uinput_write_event(m_pUinput, nType, nCode, nValue);
  }

 private:
  libevdev* m_pDevice;
  libevdev_uinput* m_pUinput;
};

}  // namespace

bool UinputKeySinkBuilt() { return true; }

std::unique_ptr<KeySink> CreateUinputKeySink(std::unique_ptr<UinputEventWriter> pWriter, const UinputLayout& layout) {
  return std::make_unique<UinputKeySink>(std::move(pWriter), layout);
}

std::unique_ptr<KeySink> CreateUinputKeySink(std::string* pReason, const std::string& sessionKeymap) {
  UinputLayout layout;
  std::string layoutError;
  const bool blFromSession = !sessionKeymap.empty() && BuildUinputLayoutFromKeymap(sessionKeymap, &layout, &layoutError);
  if (!blFromSession && !BuildUinputLayout(SessionLayoutNames(kKeyboardFile), &layout, &layoutError)) {
    // Better the US places than no keys at all.
    layout = UinputLayout{};
    layout.description = "us (by the table's places)";
    for (const VirtualKeyInfo& info : AllVirtualKeys()) layout.code[info.nVk] = info.nEvdevCode;
    WriteLog("UinputKeySink: %s; keys go by their US places\r\n", layoutError.c_str());
  }
  libevdev* pDevice = libevdev_new();
  if (pDevice == nullptr) {
    *pReason = "libevdev_new failed";
    return nullptr;
  }
  libevdev_set_name(pDevice, "ORB virtual keyboard");
  libevdev_set_id_bustype(pDevice, BUS_VIRTUAL);
  libevdev_enable_event_type(pDevice, EV_KEY);
  for (const std::uint16_t nCode : layout.code) {
    if (nCode != 0) {
      libevdev_enable_event_code(pDevice, EV_KEY, nCode, nullptr);
    }
  }
  libevdev_uinput* pUinput = nullptr;
  const int rc = libevdev_uinput_create_from_device(pDevice, LIBEVDEV_UINPUT_OPEN_MANAGED, &pUinput);
  if (rc != 0) {
    *pReason = std::string("cannot create a keyboard on /dev/uinput: ") + std::strerror(-rc);
    libevdev_free(pDevice);
    return nullptr;
  }
  WriteLog("UinputKeySink: keys go where the layout %s has them\r\n", layout.description.c_str());
  return CreateUinputKeySink(std::make_unique<EvdevWriter>(pDevice, pUinput), layout);
}

}  // namespace orb::platform
