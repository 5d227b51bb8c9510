// Key strokes into a KDE Plasma session through KWin's fake_input, which KWin offers only
// to a program whose installed desktop entry asks for it (X-KDE-Wayland-Interfaces) with
// an Exec that is the program's real path. fake_input takes key positions (evdev codes)
// and KWin reads them with the session's keymap, so each virtual key goes to the key that
// gives its symbol in the user's active layout: that keymap comes from our own
// wl_keyboard, and follows its changes.
//
// KWin's keyboard state outlives our connection, so keys down are kept in the held-key
// record (held_keys.h) like XTest's: the guard, or the next connection, lets them go.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <array>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/unique_fd.h"
#include "base/write_log.h"
#include "kwin-fake-input-client-protocol.h"
#include "platform/keys/held_keys.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/wayland_settle.h"
#include "platform/keys/session_keymap.h"
#include "platform/keys/virtual_keys.h"

namespace orb::platform {
namespace {

constexpr const char* kSinkName = "KWin fake input";
// keyboard_key came with version 4; destroy with 5.
constexpr std::uint32_t kKeyboardKeySince = 4;
constexpr std::uint32_t kMaxVersion = 5;
constexpr int kFlushTimeoutMs = 1000;
constexpr std::size_t kMaxKeymapBytes = 4u << 20;

std::string DisplayName(const char* pName) {
  if (pName != nullptr && pName[0] != '\0') return pName;
  const char* pEnv = std::getenv("WAYLAND_DISPLAY");
  return pEnv != nullptr && pEnv[0] != '\0' ? pEnv : "wayland-0";
}

// One connection to KWin: the seat's keyboard (for the keymap) and fake_input.
struct Link {
  wl_display* pDisplay = nullptr;
  wl_registry* pRegistry = nullptr;
  wl_seat* pSeat = nullptr;
  wl_keyboard* pKeyboard = nullptr;
  org_kde_kwin_fake_input* pFake = nullptr;
  std::uint32_t nFakeVersion = 0;
  std::unique_ptr<SessionKeymap> pKeymap;
  std::uint32_t nLayout = 0;
  std::string keymapError;

  static void OnGlobal(void* pData, wl_registry* pRegistry, std::uint32_t nName, const char* pInterface,
                       std::uint32_t nVersion) {
    auto* pSelf = static_cast<Link*>(pData);
    if (std::strcmp(pInterface, wl_seat_interface.name) == 0 && pSelf->pSeat == nullptr) {
      pSelf->pSeat = static_cast<wl_seat*>(wl_registry_bind(pRegistry, nName, &wl_seat_interface, 1));
    } else if (std::strcmp(pInterface, org_kde_kwin_fake_input_interface.name) == 0 && pSelf->pFake == nullptr) {
      pSelf->nFakeVersion = nVersion < kMaxVersion ? nVersion : kMaxVersion;
      pSelf->pFake = static_cast<org_kde_kwin_fake_input*>(
          wl_registry_bind(pRegistry, nName, &org_kde_kwin_fake_input_interface, pSelf->nFakeVersion));
    }
  }
  static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kRegistryListener{&OnGlobal, &OnGlobalRemove};

  static void OnKeymap(void* pData, wl_keyboard*, std::uint32_t nFormat, std::int32_t nFd, std::uint32_t nSize) {
    auto* pSelf = static_cast<Link*>(pData);
    UniqueFd fd(nFd);
    if (nFormat != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || nSize == 0 || nSize > kMaxKeymapBytes) {
      pSelf->keymapError = "the compositor's keymap is of no known form";
      return;
    }
    void* pText = ::mmap(nullptr, nSize, PROT_READ, MAP_PRIVATE, fd.Get(), 0);
    if (pText == MAP_FAILED) {
      pSelf->keymapError = std::string("the compositor's keymap could not be mapped: ") + std::strerror(errno);
      return;
    }
    std::string reason;
    auto pKeymap = SessionKeymap::FromText(static_cast<const char*>(pText), nSize, &reason);
    ::munmap(pText, nSize);
    if (!pKeymap) {
      pSelf->keymapError = reason;
      return;
    }
    pKeymap->SetLayout(pSelf->nLayout);
    pSelf->pKeymap = std::move(pKeymap);
    pSelf->keymapError.clear();
  }
  static void OnEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
  static void OnLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
  static void OnKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
  static void OnModifiers(void* pData, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t nGroup) {
    auto* pSelf = static_cast<Link*>(pData);
    pSelf->nLayout = nGroup;
    if (pSelf->pKeymap) pSelf->pKeymap->SetLayout(nGroup);
  }
  static constexpr wl_keyboard_listener kKeyboardListener{&OnKeymap, &OnEnter, &OnLeave, &OnKey, &OnModifiers, nullptr};

  // Connects and authenticates; false with the reason. With blKeymap, also waits for the
  // session's keymap (the guard's release needs none).
  bool Open(const std::string& display, bool blKeymap, std::string* pReason) {
    pDisplay = wl_display_connect(display.c_str());
    if (pDisplay == nullptr) {
      *pReason = "cannot connect to the Wayland display \"" + display + "\": " + std::strerror(errno);
      return false;
    }
    pRegistry = wl_display_get_registry(pDisplay);
    wl_registry_add_listener(pRegistry, &kRegistryListener, this);
    if (wl_display_roundtrip(pDisplay) < 0) {
      *pReason = "the Wayland display did not answer";
      return false;
    }
    if (pFake == nullptr) {
      *pReason =
          "KWin does not offer fake_input to this program (it needs an installed desktop entry whose "
          "X-KDE-Wayland-Interfaces names org_kde_kwin_fake_input and whose Exec is this program's path)";
      return false;
    }
    if (nFakeVersion < kKeyboardKeySince) {
      *pReason = "KWin's fake_input is version " + std::to_string(nFakeVersion) + ", without keys (4 needed)";
      return false;
    }
    org_kde_kwin_fake_input_authenticate(pFake, "ORB", "keys of the jog/shuttle controller's profiles");
    if (blKeymap) {
      if (pSeat == nullptr) {
        *pReason = "the Wayland compositor has no seat";
        return false;
      }
      pKeyboard = wl_seat_get_keyboard(pSeat);
      wl_keyboard_add_listener(pKeyboard, &kKeyboardListener, this);
    }
    // The first answers the keyboard's creation, the second carries its keymap.
    if (wl_display_roundtrip(pDisplay) < 0 || (blKeymap && wl_display_roundtrip(pDisplay) < 0)) {
      *pReason = "KWin closed the connection after fake_input's authentication";
      return false;
    }
    if (blKeymap && !pKeymap) {
      *pReason = keymapError.empty() ? "the compositor sent no keymap" : keymapError;
      return false;
    }
    return true;
  }

  // KWin, seeing the hang-up with our last requests, may drop them unread.
  void Settle() {
    if (pDisplay != nullptr) SettleWaylandConnection(pDisplay, kFlushTimeoutMs);
  }

  // Tells KWin we are done with fake_input (from version 5 on it has a request for that).
  void DropFake() {
    if (pFake == nullptr) return;
    if (nFakeVersion >= 5) {
      org_kde_kwin_fake_input_destroy(pFake);
    } else {
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(pFake));
    }
    pFake = nullptr;
  }

  void Close() {
    if (pKeyboard != nullptr) wl_keyboard_destroy(pKeyboard);
    DropFake();
    if (pSeat != nullptr) wl_seat_destroy(pSeat);
    if (pRegistry != nullptr) wl_registry_destroy(pRegistry);
    if (pDisplay != nullptr) {
      wl_display_flush(pDisplay);
      wl_display_disconnect(pDisplay);
    }
    pKeymap.reset();
    *this = Link{};
  }
};

class KWinKeySink final : public KeySink {
 public:
  explicit KWinKeySink(std::string display) : m_display(std::move(display)), m_pHeld(HeldKeyRecord::Installed()) {}

  ~KWinKeySink() override {
    std::lock_guard lock(m_m);
    for (std::size_t nCode = 0; nCode < m_down.size() && m_link.pDisplay != nullptr; ++nCode) {
      if (m_down.test(nCode)) {
        Send(static_cast<std::uint16_t>(nCode), /*blDown=*/false);
      }
    }
    // Keys of a connection that was lost stay in the record: the guard lets them go. The
    // last requests are awaited before the hang-up, which KWin may see first otherwise.
    m_link.DropFake();
    m_link.Settle();
    m_link.Close();
  }

  bool Start(std::string* pReason) {
    std::lock_guard lock(m_m);
    if (!m_link.Open(m_display, /*blKeymap=*/true, pReason)) {
      m_link.Close();
      return false;
    }
    // KWin keeps a key down when its client goes: the record lets the key guard or the
    // next start release it.
    if (m_pHeld != nullptr) {
      m_pHeld->SetSink(kSinkName, m_display);
    }
    return true;
  }

  void KeyEvent(std::uint8_t nVk, std::uint8_t /*nScanCode*/, bool blUp) override {
    // Both worker threads play keys; one connection, used by one at a time.
    std::lock_guard lock(m_m);
    if (blUp) {
      // Released where it was pressed, whatever the layout became since.
      const std::uint16_t nCode = m_pressedOn[nVk];
      if (nCode == 0) return;
      m_pressedOn[nVk] = 0;
      // Without a connection it stays marked: the next one lets it go.
      if (m_down.test(nCode) && m_link.pDisplay != nullptr) Send(nCode, /*blDown=*/false);
      return;
    }
    if (m_pressedOn[nVk] != 0 || !Connected()) {
      return;
    }
    ReadEvents();  // the keymap or the layout may have changed
    const std::uint16_t nCode = CodeFor(nVk);
    if (nCode == 0 || m_down.test(nCode)) {
      return;
    }
    const std::uint32_t nMade = m_link.pKeymap->KeysymNow(nCode);
    if (IsCompositorActionKeysym(nMade)) {
      if (FirstLoss(nVk)) {
        WriteLog("KWinKeySink: virtual key 0x%02X with the modifiers held would make KWin act (keysym 0x%x); "
                 "it is not sent\r\n",
                 nVk, nMade);
      }
      return;
    }
    m_pressedOn[nVk] = nCode;
    Send(nCode, /*blDown=*/true);
  }

  const char* Name() const override { return kSinkName; }

 private:
  std::uint16_t CodeFor(std::uint8_t nVk) {
    const VirtualKeyInfo* pInfo = FindVirtualKey(nVk);
    if (pInfo == nullptr || pInfo->nKeysym == 0) {
      if (FirstLoss(nVk)) WriteLog("KWinKeySink: virtual key 0x%02X has no keysym; its events are dropped\r\n", nVk);
      return 0;
    }
    const std::uint16_t nCode = m_link.pKeymap->EvdevCodeFor(pInfo->nKeysym);
    if (nCode == 0 || nCode >= HeldKeyRecord::kCodes || nCode >= m_down.size()) {
      if (FirstLoss(nVk)) {
        WriteLog("KWinKeySink: virtual key 0x%02X (keysym 0x%x) is in no key of the active layout; its events are "
                 "dropped\r\n",
                 nVk, pInfo->nKeysym);
      }
      return 0;
    }
    return nCode;
  }

  bool Connected() {
    if (m_link.pDisplay != nullptr) return true;
    std::string reason;
    if (!m_link.Open(m_display, /*blKeymap=*/true, &reason)) {
      m_link.Close();
      if (!m_blConnectFailLogged) {
        m_blConnectFailLogged = true;
        WriteLog("KWinKeySink: cannot connect again (%s); key presses are dropped until it works\r\n",
                 reason.c_str());
      }
      return false;
    }
    m_blConnectFailLogged = false;
    WriteLog("KWinKeySink: connected again\r\n");
    // KWin keeps a key down when the connection that pressed it ends: let go of those now.
    for (std::size_t nCode = 0; nCode < m_down.size(); ++nCode) {
      if (m_down.test(nCode)) Send(static_cast<std::uint16_t>(nCode), /*blDown=*/false);
    }
    return m_link.pDisplay != nullptr;
  }

  void Send(std::uint16_t nCode, bool blDown) {
    if (blDown) {
      m_down.set(nCode);
      if (m_pHeld != nullptr) m_pHeld->MarkDown(nCode);  // marked before it can be down
    }
    org_kde_kwin_fake_input_keyboard_key(m_link.pFake, nCode, blDown ? 1 : 0);
    if (!Flush()) {
      Lost();
      return;  // still marked: the next connection, or the guard, lets it go
    }
    m_link.pKeymap->UpdateKey(nCode, blDown);
    if (!blDown) {
      m_down.reset(nCode);
      if (m_pHeld != nullptr) m_pHeld->MarkUp(nCode);
    }
  }

  bool Flush() {
    wl_display* pDisplay = m_link.pDisplay;
    while (wl_display_flush(pDisplay) < 0) {
      if (errno != EAGAIN) return false;
      pollfd waiter{wl_display_get_fd(pDisplay), POLLOUT, 0};
      if (::poll(&waiter, 1, kFlushTimeoutMs) <= 0) return false;
    }
    return ReadEvents();
  }

  // Reads and handles what KWin sent meanwhile, without waiting.
  bool ReadEvents() {
    wl_display* pDisplay = m_link.pDisplay;
    while (wl_display_prepare_read(pDisplay) != 0) {
      if (wl_display_dispatch_pending(pDisplay) < 0) return false;
    }
    pollfd waiter{wl_display_get_fd(pDisplay), POLLIN, 0};
    if (::poll(&waiter, 1, 0) > 0) {
      if (wl_display_read_events(pDisplay) < 0) return false;
    } else {
      wl_display_cancel_read(pDisplay);
    }
    return wl_display_dispatch_pending(pDisplay) >= 0 && wl_display_get_error(pDisplay) == 0 && m_link.pKeymap;
  }

  void Lost() {
    const int nError = wl_display_get_error(m_link.pDisplay);
    WriteLog("KWinKeySink: the connection to KWin ended (%s); keys down are let go on the next one\r\n",
             std::strerror(nError != 0 ? nError : EPIPE));
    m_link.Close();
  }

  bool FirstLoss(std::uint8_t nVk) {
    const bool blFirst = !m_logged.test(nVk);
    m_logged.set(nVk);
    return blFirst;
  }

  const std::string m_display;
  HeldKeyRecord* m_pHeld;  // null: no record kept (tests, tools)
  std::mutex m_m;
  Link m_link;
  std::array<std::uint16_t, 256> m_pressedOn{};  // evdev code per virtual key down
  std::bitset<HeldKeyRecord::kCodes> m_down;     // evdev codes we hold down in KWin
  std::bitset<256> m_logged;
  bool m_blConnectFailLogged = false;
};

}  // namespace

bool KWinKeySinkBuilt() { return true; }

std::unique_ptr<KeySink> CreateKWinKeySink(std::string* pReason) {
  auto pSink = std::make_unique<KWinKeySink>(DisplayName(nullptr));
  if (!pSink->Start(pReason)) {
    return nullptr;
  }
  return pSink;
}

bool ReleaseKWinKeys(const std::string& target, const std::vector<std::uint16_t>& codes, std::string* pError) {
  Link link;
  if (!link.Open(DisplayName(target.c_str()), /*blKeymap=*/false, pError)) {
    link.Close();
    return false;
  }
  for (const std::uint16_t nCode : codes) {
    org_kde_kwin_fake_input_keyboard_key(link.pFake, nCode, 0);
  }
  link.DropFake();
  link.Settle();
  const bool blOk = wl_display_get_error(link.pDisplay) == 0;
  if (!blOk) *pError = "KWin closed the connection before the releases were taken";
  link.Close();
  return blOk;
}

}  // namespace orb::platform
