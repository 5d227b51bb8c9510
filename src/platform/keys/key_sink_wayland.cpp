// Key strokes into a Wayland session through a virtual keyboard of the compositor's
// (zwp_virtual_keyboard_v1: sway and the other wlroots compositors). The keyboard carries
// a keymap of our own (wayland_keymap.*), so the user's layout plays no part: a key is the
// symbol the profile names. The compositor takes the modifiers only as we state them, so
// an XKB state of ours follows every key and its changes are sent along.
//
// Keys down are counted per connection. A compositor need not let go of what a virtual
// keyboard held when its connection ends (the focused client then keeps the key down and
// repeats it), so keys down are marked in the held-key record like XTest's: when our
// connection breaks, what was down is released on a new one; when the program ends
// however it ends, the key guard does it with a keyboard of its own (ReleaseWaylandKeys).
// A release that comes after a broken connection is dropped, and the next press connects
// anew.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <bitset>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "base/write_log.h"
#include "platform/keys/held_keys.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/wayland_settle.h"
#include "platform/keys/wayland_keymap.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace orb::platform {
namespace {

// How long a send may wait for a compositor that does not read.
constexpr int kFlushTimeoutMs = 1000;

std::uint32_t NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// The compositor's objects of one connection.
struct Connection {
  wl_display* pDisplay = nullptr;
  wl_registry* pRegistry = nullptr;
  wl_seat* pSeat = nullptr;
  zwp_virtual_keyboard_manager_v1* pManager = nullptr;
  zwp_virtual_keyboard_v1* pKeyboard = nullptr;
  xkb_state* pState = nullptr;  // the modifiers our keys have made

  static void OnGlobal(void* pData, wl_registry* pRegistry, std::uint32_t nName, const char* pInterface,
                       std::uint32_t /*nVersion*/) {
    auto* pSelf = static_cast<Connection*>(pData);
    if (std::strcmp(pInterface, wl_seat_interface.name) == 0 && pSelf->pSeat == nullptr) {
      pSelf->pSeat = static_cast<wl_seat*>(wl_registry_bind(pRegistry, nName, &wl_seat_interface, 1));
    } else if (std::strcmp(pInterface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 &&
               pSelf->pManager == nullptr) {
      pSelf->pManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
          wl_registry_bind(pRegistry, nName, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
  }
  static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kRegistryListener{&OnGlobal, &OnGlobalRemove};

  void Close() {
    if (pState != nullptr) xkb_state_unref(pState);
    if (pKeyboard != nullptr) zwp_virtual_keyboard_v1_destroy(pKeyboard);
    if (pManager != nullptr) zwp_virtual_keyboard_manager_v1_destroy(pManager);
    if (pSeat != nullptr) wl_seat_destroy(pSeat);
    if (pRegistry != nullptr) wl_registry_destroy(pRegistry);
    if (pDisplay != nullptr) {
      wl_display_flush(pDisplay);  // the keyboard's destroy, when the connection still stands
      wl_display_disconnect(pDisplay);
    }
    *this = Connection{};
  }
};

// The display a connection with no name reaches, as a path that still names it from
// another process (the key guard) or another start.
std::string DisplayPath() {
  const char* pName = std::getenv("WAYLAND_DISPLAY");
  const std::string name = pName != nullptr && *pName != '\0' ? pName : "wayland-0";
  if (name.front() == '/') return name;
  const char* pRuntime = std::getenv("XDG_RUNTIME_DIR");
  return pRuntime != nullptr && *pRuntime != '\0' ? std::string(pRuntime) + "/" + name : name;
}

class WaylandKeySink final : public KeySink {
 public:
  // pHeld: the record the keys down are marked in (null: none kept). display: where to
  // connect ("" for WAYLAND_DISPLAY).
  WaylandKeySink(VirtualKeyboardKeymap keymap, xkb_context* pContext, xkb_keymap* pXkbMap, HeldKeyRecord* pHeld,
                 std::string display)
      : m_keymap(std::move(keymap)), m_pContext(pContext), m_pXkbMap(pXkbMap), m_pHeld(pHeld),
        m_display(std::move(display)) {
    if (m_pHeld != nullptr) {
      m_pHeld->SetSink(kWaylandHeldKeysName, DisplayPath());
    }
  }

  ~WaylandKeySink() override {
    std::lock_guard lock(m_m);
    ReleaseAllDown();
    if (m_connection.pDisplay != nullptr) {
      zwp_virtual_keyboard_v1_destroy(m_connection.pKeyboard);
      m_connection.pKeyboard = nullptr;
      Settle();
    }
    m_connection.Close();
    xkb_keymap_unref(m_pXkbMap);
    xkb_context_unref(m_pContext);
  }

  // Opens the first connection; false with the reason when this compositor gives us no
  // virtual keyboard.
  bool Start(std::string* pReason) {
    std::lock_guard lock(m_m);
    return Connect(pReason);
  }

  void KeyEvent(std::uint8_t nVk, std::uint8_t /*nScanCode*/, bool blUp) override {
    std::lock_guard lock(m_m);
    if (blUp) {
      Release(nVk);
    } else {
      Press(nVk);
    }
  }

  const char* Name() const override { return "Wayland virtual keyboard"; }

  // Releases keys another keyboard left down, on this one's connection: a release needs no
  // press of its own, the compositor passes it to the client in front.
  void ReleaseCodes(const std::vector<std::uint16_t>& codes) {
    std::lock_guard lock(m_m);
    for (const std::uint16_t nKeycode : codes) {
      if (nKeycode > 8 && nKeycode < m_down.size()) m_down.set(nKeycode);
    }
    ReleaseAllDown();
    ClearModifiers();
  }

 private:
  void Press(std::uint8_t nVk) {
    const std::uint16_t nKeycode = m_keymap.keycode[nVk];
    if (nKeycode == 0) {
      if (!m_logged.test(nVk)) {
        m_logged.set(nVk);
        WriteLog("WaylandKeySink: virtual key 0x%02X has no keysym; its events are dropped\r\n", nVk);
      }
      return;
    }
    if (m_connection.pDisplay == nullptr) {
      std::string reason;
      if (!Connect(&reason)) {
        if (!m_blConnectFailLogged) {
          m_blConnectFailLogged = true;
          WriteLog("WaylandKeySink: cannot connect again (%s); key presses are dropped until it works\r\n",
                   reason.c_str());
        }
        return;
      }
      m_blConnectFailLogged = false;
      WriteLog("WaylandKeySink: connected again\r\n");
    }
    // Marked before it goes down, so that no instant leaves a key down unrecorded.
    if (m_pHeld != nullptr) m_pHeld->MarkDown(nKeycode);
    m_down.set(nKeycode);
    SendKey(nKeycode, /*blDown=*/true);
  }

  void Release(std::uint8_t nVk) {
    const std::uint16_t nKeycode = m_keymap.keycode[nVk];
    // Not down on this connection: never pressed, or pressed on one that has ended.
    if (nKeycode == 0 || !m_down.test(nKeycode)) {
      return;
    }
    // Still counted down while it is sent: a connection that breaks under it has it
    // released on the next one.
    if (SendKey(nKeycode, /*blDown=*/false)) {
      m_down.reset(nKeycode);
      if (m_pHeld != nullptr) m_pHeld->MarkUp(nKeycode);
    }
  }

  // Every key still down goes up, on its own connection. For the end of the program.
  void ReleaseAllDown() {
    for (std::size_t nKeycode = 0; nKeycode < m_down.size() && m_connection.pDisplay != nullptr; ++nKeycode) {
      if (m_down.test(nKeycode)) {
        m_down.reset(nKeycode);
        if (SendKey(static_cast<std::uint16_t>(nKeycode), /*blDown=*/false) && m_pHeld != nullptr) {
          m_pHeld->MarkUp(static_cast<std::uint16_t>(nKeycode));
        }
      }
    }
    m_down.reset();
  }

  // A fresh keyboard's state knows nothing of the modifiers another one left in the client:
  // after releasing another's keys, none is down, said outright.
  void ClearModifiers() {
    if (m_connection.pDisplay == nullptr) return;
    zwp_virtual_keyboard_v1_modifiers(m_connection.pKeyboard, 0, 0, 0, 0);
    if (!Flush()) Lost();
  }

  // False when the connection broke on the way (the key's state then is what Lost made it).
  bool SendKey(std::uint16_t nKeycode, bool blDown) {
    Connection& c = m_connection;
    zwp_virtual_keyboard_v1_key(c.pKeyboard, NowMs(), nKeycode - 8u,
                                blDown ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    const xkb_state_component changed = xkb_state_update_key(c.pState, nKeycode, blDown ? XKB_KEY_DOWN : XKB_KEY_UP);
    if ((changed & (XKB_STATE_MODS_DEPRESSED | XKB_STATE_MODS_LATCHED | XKB_STATE_MODS_LOCKED |
                    XKB_STATE_LAYOUT_EFFECTIVE)) != 0) {
      zwp_virtual_keyboard_v1_modifiers(c.pKeyboard, xkb_state_serialize_mods(c.pState, XKB_STATE_MODS_DEPRESSED),
                                        xkb_state_serialize_mods(c.pState, XKB_STATE_MODS_LATCHED),
                                        xkb_state_serialize_mods(c.pState, XKB_STATE_MODS_LOCKED),
                                        xkb_state_serialize_layout(c.pState, XKB_STATE_LAYOUT_EFFECTIVE));
    }
    if (!Flush()) {
      Lost();
      return false;
    }
    return true;
  }

  // Sends what is queued and reads what the compositor said meanwhile (without waiting),
  // so that its errors are seen and its messages do not pile up unread.
  bool Flush() {
    wl_display* pDisplay = m_connection.pDisplay;
    while (wl_display_flush(pDisplay) < 0) {
      if (errno != EAGAIN) return false;
      pollfd waiter{wl_display_get_fd(pDisplay), POLLOUT, 0};
      if (::poll(&waiter, 1, kFlushTimeoutMs) <= 0) return false;
    }
    while (wl_display_prepare_read(pDisplay) != 0) {
      if (wl_display_dispatch_pending(pDisplay) < 0) return false;
    }
    pollfd waiter{wl_display_get_fd(pDisplay), POLLIN, 0};
    if (::poll(&waiter, 1, 0) > 0) {
      if (wl_display_read_events(pDisplay) < 0) return false;
    } else {
      wl_display_cancel_read(pDisplay);
    }
    return wl_display_dispatch_pending(pDisplay) >= 0 && wl_display_get_error(pDisplay) == 0;
  }

  // The releases at the end must have been taken before we go.
  void Settle() { SettleWaylandConnection(m_connection.pDisplay, kFlushTimeoutMs); }

  // The connection ended under us. The compositor may keep its keyboard's keys down in
  // the client in front: they are released on a new connection when one can be made, and
  // stay in the record for the guard or the next start when not.
  void Lost() {
    const int nError = wl_display_get_error(m_connection.pDisplay);
    WriteLog("WaylandKeySink: the compositor connection ended (%s)\r\n", std::strerror(nError != 0 ? nError : EPIPE));
    m_connection.Close();
    const std::bitset<256> down = m_down;
    m_down.reset();
    // A connection that breaks again while releasing is not tried a third time.
    if (down.none() || m_blReleasingLost) return;
    std::string reason;
    if (!Connect(&reason)) {
      WriteLog("WaylandKeySink: %zu key(s) down could not be released: %s\r\n", down.count(), reason.c_str());
      return;
    }
    m_down = down;
    const std::size_t nCount = down.count();
    m_blReleasingLost = true;
    ReleaseAllDown();
    ClearModifiers();
    m_blReleasingLost = false;
    WriteLog("WaylandKeySink: released %zu key(s) down on a new connection\r\n", nCount);
  }

  bool Connect(std::string* pReason) {
    Connection& c = m_connection;
    c.pDisplay = wl_display_connect(m_display.empty() ? nullptr : m_display.c_str());
    if (c.pDisplay == nullptr) {
      const char* pName = std::getenv("WAYLAND_DISPLAY");
      *pReason = std::string("cannot connect to the Wayland display \"") +
                 (!m_display.empty() ? m_display.c_str() : pName != nullptr ? pName : "wayland-0") +
                 "\": " + std::strerror(errno);
      return false;
    }
    c.pRegistry = wl_display_get_registry(c.pDisplay);
    wl_registry_add_listener(c.pRegistry, &Connection::kRegistryListener, &c);
    if (wl_display_roundtrip(c.pDisplay) < 0) {
      *pReason = "the Wayland display did not answer";
      c.Close();
      return false;
    }
    if (c.pManager == nullptr || c.pSeat == nullptr) {
      *pReason = c.pSeat == nullptr ? "the Wayland compositor has no seat"
                                    : "the Wayland compositor offers no virtual keyboard (zwp_virtual_keyboard_v1)";
      c.Close();
      return false;
    }
    c.pKeyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(c.pManager, c.pSeat);
    UniqueFd keymapFd(::memfd_create("orb-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    const std::size_t nSize = m_keymap.text.size() + 1;  // with its terminating NUL, as compositors read it
    if (!keymapFd.Valid() || ::write(keymapFd.Get(), m_keymap.text.c_str(), nSize) != static_cast<ssize_t>(nSize)) {
      *pReason = std::string("cannot write the keymap to memory: ") + std::strerror(errno);
      c.Close();
      return false;
    }
    // The compositor maps it; nobody may change it under its feet.
    ::fcntl(keymapFd.Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    zwp_virtual_keyboard_v1_keymap(c.pKeyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, keymapFd.Get(),
                                   static_cast<std::uint32_t>(nSize));
    if (wl_display_roundtrip(c.pDisplay) < 0 || wl_display_get_error(c.pDisplay) != 0) {
      *pReason = "the Wayland compositor refused us a virtual keyboard";
      c.Close();
      return false;
    }
    c.pState = xkb_state_new(m_pXkbMap);
    if (c.pState == nullptr) {
      *pReason = "xkbcommon could not make a keyboard state";
      c.Close();
      return false;
    }
    return true;
  }

  const VirtualKeyboardKeymap m_keymap;
  xkb_context* m_pContext;
  xkb_keymap* m_pXkbMap;  // the same keymap, for our own modifier state
  HeldKeyRecord* const m_pHeld;
  const std::string m_display;
  std::mutex m_m;
  Connection m_connection;
  std::bitset<256> m_down;  // keycodes down on the current connection
  std::bitset<256> m_logged;
  bool m_blConnectFailLogged = false;
  bool m_blReleasingLost = false;
};

}  // namespace

bool WaylandKeySinkBuilt() { return true; }

namespace {

std::unique_ptr<WaylandKeySink> MakeSink(HeldKeyRecord* pHeld, const std::string& display, std::string* pReason) {
  VirtualKeyboardKeymap keymap;
  if (!BuildVirtualKeyboardKeymap(&keymap, pReason)) {
    return nullptr;
  }
  xkb_context* pContext = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  xkb_keymap* pXkbMap = pContext != nullptr ? xkb_keymap_new_from_string(pContext, keymap.text.c_str(),
                                                                          XKB_KEYMAP_FORMAT_TEXT_V1,
                                                                          XKB_KEYMAP_COMPILE_NO_FLAGS)
                                            : nullptr;
  if (pXkbMap == nullptr) {
    if (pContext != nullptr) xkb_context_unref(pContext);
    *pReason = "xkbcommon could not read back our keymap";
    return nullptr;
  }
  auto pSink = std::make_unique<WaylandKeySink>(std::move(keymap), pContext, pXkbMap, pHeld, display);
  if (!pSink->Start(pReason)) {
    return nullptr;
  }
  return pSink;
}

}  // namespace

std::unique_ptr<KeySink> CreateWaylandKeySink(std::string* pReason) {
  return MakeSink(HeldKeyRecord::Installed(), "", pReason);
}

std::string WaylandSessionKeymap(std::string* pReason) {
  struct Query {
    wl_seat* pSeat = nullptr;
    std::string keymap;
    bool blAnswered = false;
  } query;
  static constexpr wl_registry_listener kRegistry{
      [](void* pData, wl_registry* pRegistry, std::uint32_t nName, const char* pInterface, std::uint32_t) {
        auto* pQuery = static_cast<Query*>(pData);
        if (std::strcmp(pInterface, wl_seat_interface.name) == 0 && pQuery->pSeat == nullptr) {
          pQuery->pSeat = static_cast<wl_seat*>(wl_registry_bind(pRegistry, nName, &wl_seat_interface, 1));
        }
      },
      [](void*, wl_registry*, std::uint32_t) {}};
  static constexpr wl_keyboard_listener kKeyboard{
      [](void* pData, wl_keyboard*, std::uint32_t nFormat, std::int32_t nFd, std::uint32_t nSize) {
        auto* pQuery = static_cast<Query*>(pData);
        UniqueFd fd(nFd);
        pQuery->blAnswered = true;
        // A keymap is some tens of kilobytes; anything far larger is not one.
        if (nFormat != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || nSize == 0 || nSize > 16u * 1024 * 1024) return;
        void* pMap = ::mmap(nullptr, nSize, PROT_READ, MAP_PRIVATE, fd.Get(), 0);
        if (pMap == MAP_FAILED) return;
        const char* pText = static_cast<const char*>(pMap);
        pQuery->keymap.assign(pText, ::strnlen(pText, nSize));
        ::munmap(pMap, nSize);
      },
      [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
      [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
      [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
      [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
      [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}};

  wl_display* pDisplay = wl_display_connect(nullptr);
  if (pDisplay == nullptr) {
    *pReason = std::string("cannot connect to the Wayland display: ") + std::strerror(errno);
    return {};
  }
  wl_registry* pRegistry = wl_display_get_registry(pDisplay);
  wl_registry_add_listener(pRegistry, &kRegistry, &query);
  wl_keyboard* pKeyboard = nullptr;
  if (wl_display_roundtrip(pDisplay) >= 0 && query.pSeat != nullptr) {
    pKeyboard = wl_seat_get_keyboard(query.pSeat);
    wl_keyboard_add_listener(pKeyboard, &kKeyboard, &query);
    // The keymap comes right after the keyboard is made, or not at all (no keyboard there).
    wl_display_roundtrip(pDisplay);
  }
  if (query.pSeat == nullptr) {
    *pReason = "the Wayland compositor has no seat";
  } else if (query.keymap.empty()) {
    *pReason = query.blAnswered ? "the compositor's keymap could not be read" : "the seat has no keyboard";
  }
  if (pKeyboard != nullptr) wl_keyboard_destroy(pKeyboard);
  if (query.pSeat != nullptr) wl_seat_destroy(query.pSeat);
  wl_registry_destroy(pRegistry);
  wl_display_disconnect(pDisplay);
  return query.keymap;
}

bool ReleaseWaylandKeys(const std::string& target, const std::vector<std::uint16_t>& codes, std::string* pError) {
  // Our keymap is the one the codes were pressed under: the same keycodes, the same keys.
  auto pSink = MakeSink(nullptr, target, pError);
  if (!pSink) {
    return false;
  }
  pSink->ReleaseCodes(codes);
  return true;  // the sink's end waits until the compositor has taken the releases
}

}  // namespace orb::platform
