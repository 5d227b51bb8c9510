#pragma once
// A window found by its title anywhere in the X tree: VLC's video window names no process
// (_NET_WM_PID), so the tests find the players' windows by title. Kept apart from the Qt
// code, whose headers do not mix with Xlib's macros.

#include <string>

namespace orb::test {

class TitledWindows final {
 public:
  TitledWindows();  // opens $DISPLAY
  ~TitledWindows();
  TitledWindows(const TitledWindows&) = delete;
  TitledWindows& operator=(const TitledWindows&) = delete;

  // The first viewable window titled `title` (WM_NAME), or 0.
  unsigned long Find(const std::string& title);

 private:
  unsigned long Search(unsigned long window, const std::string& title);

  void* m_pDisplay = nullptr;  // Display*, kept out of this header
};

}  // namespace orb::test
