// Key strokes into an X11 session through the XTest extension. The key is looked up by
// keysym in the server's current keyboard map, so letters follow the user's layout as
// they do with the original injection, and modifiers come out as the server's own.
//
// A symbol must be on a key's first level: a layout may have it only with Shift or AltGr
// (the German '[' is AltGr+8), and that key pressed alone would give another symbol. Such
// a symbol goes out on a spare keycode that carries it alone, as below.
//
// One catch: the X server acts on some keys itself. With the usual keymaps Ctrl+Alt+F1..F12
// resolve to XF86Switch_VT_n and switch the virtual terminal (Xvfb dies of it), and
// Ctrl+Alt+Backspace may end the server. A profile's Alt+Ctrl+F2 means the editor's
// shortcut, so such a key goes out on a spare keycode that carries the plain keysym on
// one level only: the application sees F2 with Ctrl and Alt held, the server no action.
#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>
#include <bitset>
#include <mutex>

#include "base/write_log.h"
#include "platform/keys/held_keys.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/virtual_keys.h"

namespace orb::platform {
namespace {

// Keysyms whose XKB action the server carries out itself.
bool IsServerActionKeysym(KeySym nKeysym) {
  return (nKeysym >= XF86XK_Switch_VT_1 && nKeysym <= XF86XK_Switch_VT_12) ||
         (nKeysym >= XF86XK_Ungrab && nKeysym <= XF86XK_LogGrabInfo) || nKeysym == XK_Terminate_Server;
}

class XTestKeySink final : public KeySink {
 public:
  explicit XTestKeySink(Display* pDisplay) : m_pDisplay(pDisplay), m_pHeld(HeldKeyRecord::Installed()) {
    // The server keeps an XTest key down when its client goes: the record lets the key
    // guard or the next start release it.
    if (m_pHeld != nullptr) {
      m_pHeld->SetSink(Name(), DisplayString(pDisplay));
    }
  }

  ~XTestKeySink() override {
    for (KeyCode& nKeyCode : m_pressedOn) {
      if (nKeyCode != 0) {
        XTestFakeKeyEvent(m_pDisplay, nKeyCode, False, CurrentTime);
        XSync(m_pDisplay, False);
        Held(nKeyCode, true);
        nKeyCode = 0;
      }
    }
    if (m_nScratchKeyCode != 0 && m_nScratchKeysym != NoSymbol) {
      KeySym nNone = NoSymbol;
      XChangeKeyboardMapping(m_pDisplay, m_nScratchKeyCode, 1, &nNone, 1);
    }
    XCloseDisplay(m_pDisplay);
  }

  void KeyEvent(std::uint8_t nVk, std::uint8_t /*nScanCode*/, bool blUp) override {
    // The two worker threads both play keys; one connection, used by one at a time.
    std::lock_guard lock(m_m);
    FollowMappingChanges();
    KeyCode nKeyCode = 0;
    if (blUp && m_pressedOn[nVk] != 0) {
      nKeyCode = m_pressedOn[nVk];  // released where it was pressed, whatever changed since
      m_pressedOn[nVk] = 0;
    } else {
      nKeyCode = KeyCodeFor(nVk);
      if (nKeyCode == 0) {
        return;
      }
      if (!blUp) {
        m_pressedOn[nVk] = nKeyCode;
      }
    }
    if (!blUp) {
      Held(nKeyCode, false);  // marked before it can be down
    }
    XTestFakeKeyEvent(m_pDisplay, nKeyCode, blUp ? False : True, CurrentTime);
    XFlush(m_pDisplay);
    if (blUp) {
      Held(nKeyCode, true);  // the release is on its way: the server gets it even if we end now
    }
  }

  const char* Name() const override { return "XTest"; }

 private:
  KeyCode KeyCodeFor(std::uint8_t nVk) {
    const VirtualKeyInfo* pInfo = FindVirtualKey(nVk);
    if (pInfo == nullptr || pInfo->nKeysym == 0) {
      if (FirstLoss(nVk)) {
        WriteLog("XTestKeySink: virtual key 0x%02X has no keysym; its events are dropped\r\n", nVk);
      }
      return 0;
    }
    const KeySym nKeysym = pInfo->nKeysym;
    XkbStateRec state{};
    XkbGetState(m_pDisplay, XkbUseCoreKbd, &state);
    const KeyCode nKeyCode = FirstLevelKeyCode(nKeysym, state.group);
    if (nKeyCode == 0) {
      if (XKeysymToKeycode(m_pDisplay, nKeysym) == 0 && FirstLoss(nVk)) {
        WriteLog("XTestKeySink: virtual key 0x%02X (keysym 0x%lx) is not in the keyboard map; it goes on a spare "
                 "keycode\r\n",
                 nVk, static_cast<unsigned long>(nKeysym));
      }
      const KeyCode nScratch = ScratchKeyCodeFor(nKeysym);
      if (nScratch == 0 && FirstLoss(nVk)) {
        WriteLog("XTestKeySink: virtual key 0x%02X (keysym 0x%lx) is on no key's first level and no spare keycode "
                 "is free; its events are dropped\r\n",
                 nVk, static_cast<unsigned long>(nKeysym));
      }
      return nScratch;
    }
    m_logged.reset(nVk);  // found again after a map change: a later loss is worth a line again

    // What the server would make of this key with the modifiers held now.
    unsigned int nConsumed = 0;
    KeySym nProduced = NoSymbol;
    XkbLookupKeySym(m_pDisplay, nKeyCode, state.mods, &nConsumed, &nProduced);
    if (!IsServerActionKeysym(nProduced)) {
      return nKeyCode;
    }
    const KeyCode nScratch = ScratchKeyCodeFor(nKeysym);
    if (nScratch == 0 && FirstLoss(nVk)) {
      WriteLog("XTestKeySink: virtual key 0x%02X with these modifiers would make the X server switch or end; "
               "no spare keycode to send it safely, so it is dropped\r\n",
               nVk);
    }
    return nScratch;
  }

  // The keycode whose first level in the current group is nKeysym; 0 when the layout has
  // it on no key, or only on a shifted or third level.
  KeyCode FirstLevelKeyCode(KeySym nKeysym, unsigned char nGroup) {
    int nMin = 0;
    int nMax = 0;
    XDisplayKeycodes(m_pDisplay, &nMin, &nMax);
    const unsigned int nState = XkbBuildCoreState(0, nGroup);
    for (int nCode = nMin; nCode <= nMax; ++nCode) {
      unsigned int nConsumed = 0;
      KeySym nProduced = NoSymbol;
      if (XkbLookupKeySym(m_pDisplay, static_cast<KeyCode>(nCode), nState, &nConsumed, &nProduced) &&
          nProduced == nKeysym) {
        return static_cast<KeyCode>(nCode);
      }
    }
    return 0;
  }

  // A keycode without any keysym in the map, given nKeysym alone (one level, no action).
  KeyCode ScratchKeyCodeFor(KeySym nKeysym) {
    if (m_nScratchKeyCode == 0) {
      int nMin = 0;
      int nMax = 0;
      XDisplayKeycodes(m_pDisplay, &nMin, &nMax);
      int nPerCode = 0;
      KeySym* pMap = XGetKeyboardMapping(m_pDisplay, static_cast<KeyCode>(nMin), nMax - nMin + 1, &nPerCode);
      if (pMap == nullptr) {
        return 0;
      }
      for (int nCode = nMax; nCode >= nMin && m_nScratchKeyCode == 0; --nCode) {
        bool blEmpty = true;
        for (int i = 0; i < nPerCode; ++i) {
          blEmpty = blEmpty && pMap[(nCode - nMin) * nPerCode + i] == NoSymbol;
        }
        if (blEmpty) {
          m_nScratchKeyCode = static_cast<KeyCode>(nCode);
        }
      }
      XFree(pMap);
      if (m_nScratchKeyCode == 0) {
        return 0;
      }
    }
    if (m_nScratchKeysym != nKeysym) {
      KeySym nOne = nKeysym;
      XChangeKeyboardMapping(m_pDisplay, m_nScratchKeyCode, 1, &nOne, 1);
      XSync(m_pDisplay, False);
      m_nScratchKeysym = nKeysym;
    }
    return m_nScratchKeyCode;
  }

  // Every client gets MappingNotify when the keyboard map changes (a layout switch);
  // nothing else is selected on this connection, so this is all that can be queued.
  void FollowMappingChanges() {
    while (XPending(m_pDisplay) > 0) {
      XEvent event;
      XNextEvent(m_pDisplay, &event);
      if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
      }
    }
  }

  void Held(KeyCode nKeyCode, bool blUp) {
    if (m_pHeld == nullptr) {
      return;
    }
    if (blUp) {
      m_pHeld->MarkUp(nKeyCode);
    } else {
      m_pHeld->MarkDown(nKeyCode);
    }
  }

  // A missing key is logged once, not at every press.
  bool FirstLoss(std::uint8_t nVk) {
    const bool blFirst = !m_logged.test(nVk);
    m_logged.set(nVk);
    return blFirst;
  }

  Display* m_pDisplay;
  HeldKeyRecord* m_pHeld;  // null: no record kept (tests, tools)
  std::mutex m_m;
  std::bitset<256> m_logged;
  std::array<KeyCode, 256> m_pressedOn{};  // keycode each virtual key went down on
  KeyCode m_nScratchKeyCode = 0;
  KeySym m_nScratchKeysym = NoSymbol;
};

}  // namespace

bool XTestKeySinkBuilt() { return true; }

// A connection whose fake events get through while another client holds a server grab;
// null with the reason when the display cannot be opened or has no XTest.
static Display* OpenXTestDisplay(const char* pDisplayName, std::string* pReason) {
  Display* pDisplay = XOpenDisplay(pDisplayName);
  if (pDisplay == nullptr) {
    const char* pName = XDisplayName(pDisplayName);
    *pReason = std::string("cannot open the X display \"") + (pName != nullptr ? pName : "") + "\"";
    return nullptr;
  }
  int nEventBase = 0;
  int nErrorBase = 0;
  int nMajor = 0;
  int nMinor = 0;
  if (!XTestQueryExtension(pDisplay, &nEventBase, &nErrorBase, &nMajor, &nMinor)) {
    *pReason = std::string("the X display \"") + DisplayString(pDisplay) + "\" has no XTest extension";
    XCloseDisplay(pDisplay);
    return nullptr;
  }
  XTestGrabControl(pDisplay, True);
  return pDisplay;
}

bool ReleaseXTestKeys(const std::string& target, const std::vector<std::uint16_t>& codes, std::string* pError) {
  Display* pDisplay = OpenXTestDisplay(target.c_str(), pError);
  if (pDisplay == nullptr) {
    return false;
  }
  // A release of a key that is up is dropped by the server: the record may name more
  // than was down (it is marked before the press), never less.
  for (const std::uint16_t nCode : codes) {
    if (nCode >= 8 && nCode <= 255) {
      XTestFakeKeyEvent(pDisplay, nCode, False, CurrentTime);
    }
  }
  XSync(pDisplay, False);
  XCloseDisplay(pDisplay);
  return true;
}

std::unique_ptr<KeySink> CreateXTestKeySink(const char* pDisplayName, std::string* pReason) {
  Display* pDisplay = OpenXTestDisplay(pDisplayName, pReason);
  return pDisplay == nullptr ? nullptr : std::make_unique<XTestKeySink>(pDisplay);
}

}  // namespace orb::platform
