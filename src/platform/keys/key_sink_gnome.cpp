// Key strokes into a GNOME session on Wayland through mutter's remote desktop service
// (org.gnome.Mutter.RemoteDesktop on the session bus): one session kept for the program's
// life, its virtual keyboard fed keysyms. Mutter finds each keysym's key in the session's
// own layout (and the level's Shift), so no layout turns a key into another one.
//
// Keys down are counted per session. When a session ends (mutter closes it, or our bus
// connection goes, the program's end included) mutter lets go of what its keyboard held,
// so a release that comes afterwards is dropped and the next press opens a new session.
#include <xkbcommon/xkbcommon-keysyms.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/write_log.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/virtual_keys.h"

namespace orb::platform {
namespace {

constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
// A key must not wait long on a shell that does not answer; a session is opened at the
// start of the desktop session too, while the shell is still busy starting.
constexpr int kCallTimeoutMs = 1000;
constexpr int kOpenTimeoutMs = 10000;

// Keysyms whose key the compositor acts on itself (console switches, the server's end):
// a profile's key must never do that.
bool IsCompositorActionKeysym(std::uint32_t nKeysym) {
  return (nKeysym >= XKB_KEY_XF86Switch_VT_1 && nKeysym <= XKB_KEY_XF86Switch_VT_12) ||
         (nKeysym >= XKB_KEY_XF86Ungrab && nKeysym <= XKB_KEY_XF86LogGrabInfo) || nKeysym == XKB_KEY_Terminate_Server;
}

class GnomeKeySink final : public KeySink {
 public:
  ~GnomeKeySink() override {
    std::lock_guard lock(m_m);
    if (m_pBus == nullptr) {
      return;
    }
    for (std::size_t nVk = 0; nVk < m_downKeysym.size() && m_pBus != nullptr; ++nVk) {
      if (m_downKeysym[nVk] != 0) {
        Notify(m_downKeysym[nVk], /*blDown=*/false);
        m_downKeysym[nVk] = 0;
      }
    }
    if (m_pBus != nullptr) {
      dbus::Values reply;
      std::string error;
      m_pBus->Call(m_owner, m_session, kSessionInterface, "Stop", {}, &reply, &error, kCallTimeoutMs);
    }
  }

  // Opens the first session; false with the reason when mutter offers none.
  bool Start(std::string* pReason) {
    std::lock_guard lock(m_m);
    return Open(pReason);
  }

  void KeyEvent(std::uint8_t nVk, std::uint8_t /*nScanCode*/, bool blUp) override {
    std::lock_guard lock(m_m);
    FollowSession();
    if (blUp) {
      // Not down on this session: never pressed, or pressed on one that has ended.
      if (m_downKeysym[nVk] != 0 && m_pBus != nullptr) {
        const std::uint32_t nKeysym = m_downKeysym[nVk];
        m_downKeysym[nVk] = 0;
        Notify(nKeysym, /*blDown=*/false);
      }
      return;
    }
    const std::uint32_t nKeysym = KeysymFor(nVk);
    if (nKeysym == 0 || m_downKeysym[nVk] != 0) {
      return;
    }
    if (WouldSwitchConsole(nKeysym)) {
      if (!m_blConsoleLogged) {
        m_blConsoleLogged = true;
        WriteLog("GnomeKeySink: Ctrl+Alt+F%u would switch the console away from the session; such keys are "
                 "dropped\r\n",
                 static_cast<unsigned>(nKeysym - XKB_KEY_F1 + 1));
      }
      return;
    }
    if (m_pBus == nullptr) {
      std::string reason;
      if (!Open(&reason)) {
        if (!m_blOpenFailLogged) {
          m_blOpenFailLogged = true;
          WriteLog("GnomeKeySink: cannot open a new session (%s); key presses are dropped until it works\r\n",
                   reason.c_str());
        }
        return;
      }
      m_blOpenFailLogged = false;
      WriteLog("GnomeKeySink: a new session is open\r\n");
    }
    m_downKeysym[nVk] = nKeysym;
    Notify(nKeysym, /*blDown=*/true);
  }

  const char* Name() const override { return "GNOME remote desktop"; }

 private:
  std::uint32_t KeysymFor(std::uint8_t nVk) {
    const VirtualKeyInfo* pInfo = FindVirtualKey(nVk);
    const std::uint32_t nKeysym = pInfo != nullptr ? pInfo->nKeysym : 0;
    if (nKeysym == 0 || IsCompositorActionKeysym(nKeysym)) {
      if (!m_logged[nVk]) {
        m_logged[nVk] = true;
        WriteLog("GnomeKeySink: virtual key 0x%02X has %s; its events are dropped\r\n", nVk,
                 nKeysym == 0 ? "no keysym" : "a keysym the compositor would act on itself");
      }
      return 0;
    }
    return nKeysym;
  }

  // The layouts' usual map makes Ctrl+Alt+F1..F12 the console switches, which mutter
  // carries out itself: a profile's key must not take the user out of the session.
  bool WouldSwitchConsole(std::uint32_t nKeysym) const {
    if (nKeysym < XKB_KEY_F1 || nKeysym > XKB_KEY_F12) {
      return false;
    }
    bool blControl = false;
    bool blAlt = false;
    for (const std::uint32_t nDown : m_downKeysym) {
      blControl = blControl || nDown == XKB_KEY_Control_L || nDown == XKB_KEY_Control_R;
      blAlt = blAlt || nDown == XKB_KEY_Alt_L || nDown == XKB_KEY_Alt_R;
    }
    return blControl && blAlt;
  }

  bool Open(std::string* pReason) {
    auto pBus = dbus::Connection::OpenSession(pReason);
    if (pBus == nullptr) {
      return false;
    }
    std::string error;
    const std::string owner = pBus->NameOwner(kService, &error);
    if (owner.empty()) {
      *pReason = "mutter's remote desktop is not on the session bus (" + error + ")";
      return false;
    }
    dbus::Values reply;
    if (!pBus->Call(owner, kPath, kService, "CreateSession", {}, &reply, &error, kOpenTimeoutMs)) {
      *pReason = "mutter refused a remote desktop session: " + error;
      return false;
    }
    const auto* pSession = reply.empty() ? nullptr : std::get_if<dbus::ObjectPath>(&reply[0]);
    if (pSession == nullptr) {
      *pReason = "mutter's CreateSession answered without a session";
      return false;
    }
    const std::string session = pSession->value;
    // Mutter also closes a session by itself (another client's, the screen's lock...).
    if (!pBus->SubscribeSignal(
            owner, session, kSessionInterface, "Closed", [this](const dbus::Message&) { m_blClosed = true; },
            pReason)) {
      return false;
    }
    if (!pBus->Call(owner, session, kSessionInterface, "Start", {}, &reply, &error, kOpenTimeoutMs)) {
      *pReason = "mutter did not start the remote desktop session: " + error;
      pBus->Call(owner, session, kSessionInterface, "Stop", {}, &reply, &error, kCallTimeoutMs);
      return false;
    }
    m_pBus = std::move(pBus);
    m_owner = owner;
    m_session = session;
    m_blClosed = false;
    // Mutter loses the first key event of a new session: a lone Shift goes first, which
    // types nothing and triggers nothing.
    Notify(XKB_KEY_Shift_L, /*blDown=*/true);
    Notify(XKB_KEY_Shift_L, /*blDown=*/false);
    return m_pBus != nullptr;
  }

  void Notify(std::uint32_t nKeysym, bool blDown) {
    dbus::Values reply;
    std::string error;
    if (!m_pBus->Call(m_owner, m_session, kSessionInterface, "NotifyKeyboardKeysym", {nKeysym, blDown}, &reply,
                      &error, kCallTimeoutMs)) {
      Lost(error);
    }
  }

  // Notices a session mutter has closed since the last key.
  void FollowSession() {
    if (m_pBus == nullptr) {
      return;
    }
    std::string error;
    if (!m_pBus->Dispatch(&error)) {
      Lost(error);
    } else if (m_blClosed) {
      Lost("mutter closed the session");
    }
  }

  // The session ended under us: mutter has let go of its keyboard's keys.
  void Lost(const std::string& reason) {
    WriteLog("GnomeKeySink: the remote desktop session ended (%s); keys down on it are released by mutter\r\n",
             reason.c_str());
    m_downKeysym.fill(0);
    m_pBus.reset();
  }

  std::mutex m_m;  // the two worker threads both play keys
  std::unique_ptr<dbus::Connection> m_pBus;
  std::string m_owner;    // the unique name of the service's owner
  std::string m_session;  // the session's object path
  bool m_blClosed = false;
  std::array<std::uint32_t, 256> m_downKeysym{};  // per virtual key, the keysym down on this session
  std::array<bool, 256> m_logged{};
  bool m_blOpenFailLogged = false;
  bool m_blConsoleLogged = false;
};

}  // namespace

bool GnomeKeySinkBuilt() { return true; }

std::unique_ptr<KeySink> CreateGnomeKeySink(std::string* pReason) {
  auto pSink = std::make_unique<GnomeKeySink>();
  if (!pSink->Start(pReason)) {
    return nullptr;
  }
  return pSink;
}

}  // namespace orb::platform
