// Which key sink the program uses: chosen once at start-up and written to the log.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/write_log.h"
#include "platform/keys/key_sink.h"
#include "platform/session/session_type.h"

namespace orb::platform {

// The one place that knows which backends the build left out.
#if !ORB_WITH_XTEST
bool XTestKeySinkBuilt() { return false; }
std::unique_ptr<KeySink> CreateXTestKeySink(const char*, std::string* pReason) {
  *pReason = "this build has no XTest output";
  return nullptr;
}
bool ReleaseXTestKeys(const std::string&, const std::vector<std::uint16_t>&, std::string* pError) {
  *pError = "this build has no XTest output";
  return false;
}
#endif
#if !ORB_WITH_UINPUT
bool UinputKeySinkBuilt() { return false; }
std::unique_ptr<KeySink> CreateUinputKeySink(std::string* pReason, const std::string&) {
  *pReason = "this build has no uinput output";
  return nullptr;
}
#endif
#if !ORB_WITH_WAYLAND_KEYS
bool WaylandKeySinkBuilt() { return false; }
std::unique_ptr<KeySink> CreateWaylandKeySink(std::string* pReason) {
  *pReason = "this build has no Wayland key output";
  return nullptr;
}
bool ReleaseWaylandKeys(const std::string&, const std::vector<std::uint16_t>&, std::string* pError) {
  *pError = "this build has no Wayland key output";
  return false;
}
std::string WaylandSessionKeymap(std::string* pReason) {
  *pReason = "this build has no Wayland client";
  return {};
}
#endif
#if !ORB_WITH_KWIN
bool KWinKeySinkBuilt() { return false; }
std::unique_ptr<KeySink> CreateKWinKeySink(std::string* pReason) {
  *pReason = "this build has no KWin key output";
  return nullptr;
}
bool ReleaseKWinKeys(const std::string&, const std::vector<std::uint16_t>&, std::string* pError) {
  *pError = "this build has no KWin key output";
  return false;
}
#endif
#if !ORB_WITH_GNOME
bool GnomeKeySinkBuilt() { return false; }
std::unique_ptr<KeySink> CreateGnomeKeySink(std::string* pReason) {
  *pReason = "this build has no GNOME key output";
  return nullptr;
}
#endif

namespace {

std::mutex g_reasonLock;
std::string g_reason;

void SetReason(std::string reason) {
  std::lock_guard lock(g_reasonLock);
  g_reason = std::move(reason);
}

std::unique_ptr<KeySink> Chosen(std::unique_ptr<KeySink> pSink) {
  WriteLog("SelectKeySink: key strokes go to %s\r\n", pSink->Name());
  SetReason("");
  return pSink;
}

// In a Wayland session the compositor says which layout the user types with; elsewhere
// the system's configuration does (the uinput sink reads it itself).
std::unique_ptr<KeySink> CreateUinput(std::string* pReason) {
  std::string keymap;
  // Not worth a connection when the device cannot be made anyway.
  if (IsWaylandSession() && ::access("/dev/uinput", W_OK) == 0) {
    std::string why;
    keymap = WaylandSessionKeymap(&why);
    if (keymap.empty()) WriteLog("SelectKeySink: no keymap from the compositor (%s)\r\n", why.c_str());
  }
  return CreateUinputKeySink(pReason, keymap);
}

std::unique_ptr<KeySink> NoneAvailable(const std::string& reason) {
  WriteLog("SelectKeySink: no key output is available (%s); key strokes are dropped\r\n", reason.c_str());
  SetReason("No key output is available: " + reason + ".");
  return std::make_unique<NullKeySink>();
}

}  // namespace

std::unique_ptr<KeySink> SelectKeySink(const Clock& clock) {
  std::string reason;
  const char* pForced = std::getenv("ORB_KEYS");
  if (pForced != nullptr && *pForced != '\0') {
    if (std::strcmp(pForced, "record") == 0) {
      return Chosen(std::make_unique<RecordingKeySink>(clock));
    }
    if (std::strcmp(pForced, "xtest") == 0) {
      auto pSink = CreateXTestKeySink(nullptr, &reason);
      return pSink ? Chosen(std::move(pSink)) : NoneAvailable("ORB_KEYS=xtest: " + reason);
    }
    if (std::strcmp(pForced, "uinput") == 0) {
      auto pSink = CreateUinput(&reason);
      return pSink ? Chosen(std::move(pSink)) : NoneAvailable("ORB_KEYS=uinput: " + reason);
    }
    if (std::strcmp(pForced, "wayland") == 0) {
      auto pSink = CreateWaylandKeySink(&reason);
      return pSink ? Chosen(std::move(pSink)) : NoneAvailable("ORB_KEYS=wayland: " + reason);
    }
    if (std::strcmp(pForced, "kwin") == 0) {
      auto pSink = CreateKWinKeySink(&reason);
      return pSink ? Chosen(std::move(pSink)) : NoneAvailable("ORB_KEYS=kwin: " + reason);
    }
    if (std::strcmp(pForced, "gnome") == 0) {
      auto pSink = CreateGnomeKeySink(&reason);
      return pSink ? Chosen(std::move(pSink)) : NoneAvailable("ORB_KEYS=gnome: " + reason);
    }
    WriteLog("SelectKeySink: ORB_KEYS=\"%s\" is none of xtest, uinput, wayland, kwin, gnome, record; choosing as "
             "usual\r\n",
             pForced);
  }

  std::string tried;
  if (IsWaylandSession()) {
    // XTest would reach XWayland's windows only: the compositor's own way first, then the
    // kernel's, and XTest last, as better than nothing.
    if (CurrentDesktopIncludes("KDE")) {
      if (auto pSink = CreateKWinKeySink(&reason)) {
        return Chosen(std::move(pSink));
      }
      tried = reason + "; ";
    }
    // Mutter has no virtual keyboard protocol; its own service stands there.
    if (CurrentDesktopIncludes("GNOME")) {
      if (auto pSink = CreateGnomeKeySink(&reason)) {
        return Chosen(std::move(pSink));
      }
      tried += reason + "; ";
    }
    if (auto pSink = CreateWaylandKeySink(&reason)) {
      return Chosen(std::move(pSink));
    }
    tried += reason + "; ";
    if (auto pSink = CreateUinput(&reason)) {
      return Chosen(std::move(pSink));
    }
    tried += reason + "; ";
    if (SessionEnv("DISPLAY") != nullptr) {
      if (auto pSink = CreateXTestKeySink(nullptr, &reason)) {
        WriteLog("SelectKeySink: in this Wayland session XTest reaches XWayland's windows only\r\n");
        return Chosen(std::move(pSink));
      }
      tried += reason + "; ";
    } else {
      tried += "no X display (DISPLAY is not set); ";
    }
    return NoneAvailable(tried.substr(0, tried.size() - 2));
  }
  const char* pDisplay = std::getenv("DISPLAY");
  if (pDisplay != nullptr && *pDisplay != '\0') {
    if (auto pSink = CreateXTestKeySink(nullptr, &reason)) {
      return Chosen(std::move(pSink));
    }
    tried = reason + "; ";
  } else {
    tried = "no X display (DISPLAY is not set); ";
  }
  if (auto pSink = CreateUinput(&reason)) {
    return Chosen(std::move(pSink));
  }
  return NoneAvailable(tried + reason);
}

bool ReleaseKeysLeftDown(const std::string& sink, const std::string& target, const std::vector<std::uint16_t>& codes,
                         std::string* pError) {
  if (codes.empty()) {
    return true;
  }
  if (sink == "XTest") {
    return ReleaseXTestKeys(target, codes, pError);
  }
  if (sink == "KWin fake input") {
    return ReleaseKWinKeys(target, codes, pError);
  }
  if (sink == kWaylandHeldKeysName) {
    return ReleaseWaylandKeys(target, codes, pError);
  }
  // uinput: the kernel lets the keys go as the device goes. GNOME: mutter lets the keys
  // of a remote desktop session go when the session ends, which it does as soon as its
  // owner leaves the bus. "record", "none": nothing was ever down.
  return true;
}

std::string KeySinkUnavailableReason() {
  std::lock_guard lock(g_reasonLock);
  return g_reason;
}

}  // namespace orb::platform
