#pragma once
// The X server's key auto-repeat, switched off for as long as this object lives and then
// put back as it was. A key that stays down past the repeat delay arrives again and again;
// on a loaded machine a short press can be held that long before its release is seen.

namespace orb::test {

class ServerKeyRepeatOff final {
 public:
  ServerKeyRepeatOff();  // opens $DISPLAY
  ~ServerKeyRepeatOff();
  ServerKeyRepeatOff(const ServerKeyRepeatOff&) = delete;
  ServerKeyRepeatOff& operator=(const ServerKeyRepeatOff&) = delete;

  // False when the display could not be opened (nothing was changed then).
  bool IsOff() const { return m_pDisplay != nullptr; }

 private:
  void* m_pDisplay = nullptr;  // Display*, kept out of this header
  bool m_blWasOn = false;
};

}  // namespace orb::test
