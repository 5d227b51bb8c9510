#pragma once
// Where synthesized key strokes go: one key pressed or released, named by its Windows
// virtual key (the stored unit) and the scan code the engine computed for it. Each
// backend maps the virtual key its own way (keysym, evdev code); the engine's order and
// timing are the same for all.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orb::platform {

class Clock;

class KeySink {
 public:
  KeySink() = default;
  KeySink(const KeySink&) = delete;
  KeySink& operator=(const KeySink&) = delete;
  virtual ~KeySink() = default;

  // One key event, as keybd_event(nVk, nScanCode, blUp ? KEYEVENTF_KEYUP : 0, 0) made
  // it. Failures are not reported: the engine ignores them as the original call's.
  virtual void KeyEvent(std::uint8_t nVk, std::uint8_t nScanCode, bool blUp) = 0;

  // "XTest", "uinput", "Wayland virtual keyboard", "KWin fake input", "GNOME remote
  // desktop", "record" or "none", for the log and the UI.
  virtual const char* Name() const = 0;
};

// Drops every event: the program keeps running when no backend is available.
class NullKeySink final : public KeySink {
 public:
  void KeyEvent(std::uint8_t, std::uint8_t, bool) override {}
  const char* Name() const override { return "none"; }
};

// Keeps every event with the time of the engine's clock; for tests and orbctl play.
class RecordingKeySink final : public KeySink {
 public:
  struct Record {
    bool blUp;
    std::uint8_t nVk;
    std::uint8_t nScanCode;
    std::uint64_t nTimeUs;
  };
  using Observer = void (*)(void* pContext, const Record& record);

  explicit RecordingKeySink(const Clock& clock);

  void KeyEvent(std::uint8_t nVk, std::uint8_t nScanCode, bool blUp) override;
  const char* Name() const override { return "record"; }

  std::vector<Record> Records() const;
  std::size_t Count() const;
  void Clear();
  // Also called for each event as it comes, under the sink's lock (so in order).
  void SetObserver(Observer pObserver, void* pContext);

 private:
  const Clock& m_clock;
  mutable std::mutex m_m;
  std::vector<Record> m_records;
  Observer m_pObserver = nullptr;
  void* m_pObserverContext = nullptr;
};

// The backends compiled in (CMake options ORB_WITH_XTEST, ORB_WITH_UINPUT,
// ORB_WITH_WAYLAND_KEYS). Each returns null and says why in *pReason when it cannot work
// here. The Wayland one is a virtual keyboard of the compositor on $WAYLAND_DISPLAY.
std::unique_ptr<KeySink> CreateXTestKeySink(const char* pDisplayName, std::string* pReason);
// uinput sends positions: sessionKeymap is the XKB keymap text the session types with (as
// WaylandSessionKeymap gives it); "" takes the layout from the system's configuration.
std::unique_ptr<KeySink> CreateUinputKeySink(std::string* pReason, const std::string& sessionKeymap = {});
std::unique_ptr<KeySink> CreateWaylandKeySink(std::string* pReason);
// KWin's fake_input on $WAYLAND_DISPLAY, keys placed by the session's active layout.
std::unique_ptr<KeySink> CreateKWinKeySink(std::string* pReason);
bool KWinKeySinkBuilt();
// The GNOME one is a session of mutter's remote desktop service on the session bus.
std::unique_ptr<KeySink> CreateGnomeKeySink(std::string* pReason);
bool GnomeKeySinkBuilt();
// The keymap the compositor on $WAYLAND_DISPLAY gives its clients' keyboards: the layout the
// user types with. "" with the reason when there is none to have (no keyboard on the seat).
std::string WaylandSessionKeymap(std::string* pReason);
bool XTestKeySinkBuilt();
bool UinputKeySinkBuilt();
bool WaylandKeySinkBuilt();

// Lets go of keys a process that is gone left down through the sink named `sink` (its
// Name()) on `target`, by the sink's own codes, as recorded in a HeldKeyRecord
// (held_keys.h). Each backend whose keys outlive their process knows how; for the others
// there is nothing to do. False, with the reason, when the keys could not be reached.
bool ReleaseKeysLeftDown(const std::string& sink, const std::string& target, const std::vector<std::uint16_t>& codes,
                         std::string* pError);
// KWin's part: a fake_input connection of its own to the Wayland display `target`.
bool ReleaseKWinKeys(const std::string& target, const std::vector<std::uint16_t>& codes, std::string* pError);
// XTest's part: a connection of its own to the display `target`.
bool ReleaseXTestKeys(const std::string& target, const std::vector<std::uint16_t>& codes, std::string* pError);
// The Wayland virtual keyboard's part: a virtual keyboard of its own on the compositor at
// `target` (a socket path), releasing the keycodes of our keymap.
bool ReleaseWaylandKeys(const std::string& target, const std::vector<std::uint16_t>& codes, std::string* pError);
// How the Wayland sink names itself in the held-key record (its Name() is too long there).
inline constexpr const char* kWaylandHeldKeysName = "Wayland";

// Start-up choice: ORB_KEYS=xtest|uinput|wayland|kwin|gnome|record forces one. Otherwise,
// in a Wayland session (XDG_SESSION_TYPE or WAYLAND_DISPLAY says so), KWin's fake_input when
// XDG_CURRENT_DESKTOP names KDE, mutter's remote desktop when it names GNOME, else the compositor's virtual keyboard, else uinput, else XTest (which reaches XWayland's windows only); in any other
// session XTest when an X display with the XTest extension is there, else uinput. Logs
// the choice. With none available it logs the reason once and returns a NullKeySink;
// KeySinkUnavailableReason() then holds the text for the UI ("" when a sink works).
std::unique_ptr<KeySink> SelectKeySink(const Clock& clock);
std::string KeySinkUnavailableReason();

}  // namespace orb::platform
