#pragma once
// A look at the X display from a test: the top-level windows of a process, by title, and
// the keys held down.

#include <sys/types.h>

#include <string>
#include <vector>

namespace orb::test {

class X11Windows final {
 public:
  X11Windows();  // opens $DISPLAY
  explicit X11Windows(const char* pDisplayName);  // e.g. ":7", a display of the test's own
  ~X11Windows();
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  bool IsOpen() const { return m_pDisplay != nullptr; }

  // Mapped windows of process `pid` (by _NET_WM_PID) whose title is `title`.
  std::vector<unsigned long> FindWindows(pid_t pid, const std::string& title);

  // Asks the window to close, as its close box would (WM_DELETE_WINDOW).
  void Close(unsigned long window);

  // The keys among `keysyms` that the server holds down now (XQueryKeymap).
  std::vector<unsigned long> KeysDown(const std::vector<unsigned long>& keysyms);

 private:
  void Collect(unsigned long window, pid_t pid, const std::string& title, std::vector<unsigned long>& found);

  void* m_pDisplay = nullptr;  // Display*, kept out of this header
};

}  // namespace orb::test
