#pragma once
// The session's own keyboard map, as the compositor hands it to its clients: which key
// gives a wanted symbol under the layout the user has active now. For outputs that send
// key positions (evdev codes) that the compositor then reads with this map, so a profile's
// "Y" is a Y on a German keyboard too, not the key where a US keyboard has it.

#include <cstdint>
#include <memory>
#include <string>

namespace orb::platform {

class SessionKeymap final {
 public:
  // From the XKB text the compositor sent. Null, with the reason, when xkbcommon cannot
  // read it.
  static std::unique_ptr<SessionKeymap> FromText(const char* pText, std::size_t nSize, std::string* pReason);
  // From rules, model, layout, variant (as in XKB_DEFAULT_*): for tests and tools.
  static std::unique_ptr<SessionKeymap> FromNames(const char* pLayout, const char* pVariant, std::string* pReason);
  ~SessionKeymap();
  SessionKeymap(const SessionKeymap&) = delete;
  SessionKeymap& operator=(const SessionKeymap&) = delete;

  // The layout (XKB group) the user has active, as wl_keyboard.modifiers reports it.
  void SetLayout(std::uint32_t nLayout);
  std::uint32_t Layout() const { return m_nLayout; }

  // The evdev code of the key that gives nKeysym in the active layout: the lowest shift
  // level wins, then the lowest code. 0 when no key of the layout gives it.
  std::uint16_t EvdevCodeFor(std::uint32_t nKeysym) const;

  // Our own keys' effect on the modifiers, so that KeysymNow knows what a key would make.
  void UpdateKey(std::uint16_t nEvdevCode, bool blDown);
  // What the key makes now, with the modifiers our own keys hold, in the active layout.
  std::uint32_t KeysymNow(std::uint16_t nEvdevCode) const;

 private:
  struct Xkb;
  explicit SessionKeymap(std::unique_ptr<Xkb> pXkb);

  std::unique_ptr<Xkb> m_pXkb;
  std::uint32_t m_nLayout = 0;
};

// Keysyms whose XKB action a compositor carries out itself (switching to a text console,
// ending the server): a profile's key must never trigger them by the modifiers it holds.
bool IsCompositorActionKeysym(std::uint32_t nKeysym);

}  // namespace orb::platform
