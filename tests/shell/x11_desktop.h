#pragma once
// The X display as a user works it, for the system tests: is there a tray host, where is
// a program's icon in it, bring a window to the front as a pager would, double-click with
// the real pointer (XTest).

#include <sys/types.h>

#include <chrono>
#include <optional>

namespace orb::test {

// A rectangle in root-window coordinates.
struct ScreenArea {
  unsigned long nWindow = 0;
  int x = 0;
  int y = 0;
  int nWidth = 0;
  int nHeight = 0;
};

class X11Desktop final {
 public:
  explicit X11Desktop(const char* pDisplayName = nullptr);  // null: $DISPLAY
  ~X11Desktop();
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  bool IsOpen() const { return m_pDisplay != nullptr; }

  // True when a window manager has announced itself (_NET_SUPPORTING_WM_CHECK).
  bool HasWindowManager();

  // True once some client owns the screen's system tray selection (a tray host runs).
  bool WaitForTrayHost(std::chrono::milliseconds timeout);

  // The icon of process `pid` docked in the tray host: a viewable window of that pid
  // that carries _XEMBED_INFO and is not a top-level window.
  std::optional<ScreenArea> FindTrayIcon(pid_t pid);

  // True when the window exists and is viewable (mapped, and its parents too).
  bool IsShown(unsigned long window);

  // Asks the window manager to bring the window to the front, as a pager does, and waits
  // until the window has the focus and _NET_ACTIVE_WINDOW names it.
  bool Activate(unsigned long window, std::chrono::milliseconds timeout);

  // Moves the pointer to (x, y) and clicks the left button twice, through XTest.
  bool DoubleClick(int x, int y);

 private:
  void* m_pDisplay = nullptr;  // Display*, kept out of this header
};

}  // namespace orb::test
