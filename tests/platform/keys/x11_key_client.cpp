// A small X client for the key-output tests: maps a window, takes the keyboard focus,
// prints "ready", then one line per key event it receives:
//   press Control_L 0x0
//   release z 0x5
// (the unshifted keysym and the Shift/Lock/Control/Mod1 bits of the state before the
// event). Ends when its standard input closes or after 120 s without any event.
// Options:
//   --window-id     prints "window <id>" before "ready", for a test that activates it
//   --net-wm-pid    sets _NET_WM_PID to its own pid (and WM_CLIENT_MACHINE)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

bool WaitForEvent(Display* pDisplay, int nTimeoutMs) {
  if (XPending(pDisplay) > 0) {
    return true;
  }
  pollfd fds[2] = {{ConnectionNumber(pDisplay), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  if (::poll(fds, 2, nTimeoutMs) <= 0) {
    return false;
  }
  if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
    return false;  // the test is done with us
  }
  return XPending(pDisplay) > 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool blWindowId = false;
  bool blNetWmPid = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--window-id") == 0) {
      blWindowId = true;
    } else if (std::strcmp(argv[i], "--net-wm-pid") == 0) {
      blNetWmPid = true;
    } else {
      std::fprintf(stderr, "x11_key_client: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  Display* pDisplay = XOpenDisplay(nullptr);
  if (pDisplay == nullptr) {
    std::fprintf(stderr, "x11_key_client: cannot open the display\n");
    return 1;
  }
  const int nScreen = DefaultScreen(pDisplay);
  const Window window = XCreateSimpleWindow(pDisplay, RootWindow(pDisplay, nScreen), 10, 10, 200, 100, 0,
                                            BlackPixel(pDisplay, nScreen), WhitePixel(pDisplay, nScreen));
  XStoreName(pDisplay, window, "orb key client");
  if (blNetWmPid) {
    const unsigned long nPid = static_cast<unsigned long>(::getpid());
    XChangeProperty(pDisplay, window, XInternAtom(pDisplay, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&nPid), 1);
    char host[HOST_NAME_MAX + 1] = {};
    ::gethostname(host, sizeof host - 1);
    XChangeProperty(pDisplay, window, XInternAtom(pDisplay, "WM_CLIENT_MACHINE", False), XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(host),
                    static_cast<int>(std::strlen(host)));
  }
  XSelectInput(pDisplay, window, KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask);
  XMapRaised(pDisplay, window);

  bool blMapped = false;
  bool blFocused = false;
  while (!blFocused) {
    if (!WaitForEvent(pDisplay, 20000)) {
      std::fprintf(stderr, "x11_key_client: no %s\n", blMapped ? "focus" : "map");
      return 1;
    }
    XEvent event;
    XNextEvent(pDisplay, &event);
    if (event.type == MapNotify && !blMapped) {
      blMapped = true;
      XSetInputFocus(pDisplay, window, RevertToParent, CurrentTime);
    } else if (event.type == FocusIn && event.xfocus.window == window) {
      blFocused = true;
    }
  }
  if (blWindowId) {
    std::printf("window %lu\n", static_cast<unsigned long>(window));
  }
  std::printf("ready\n");
  std::fflush(stdout);

  while (WaitForEvent(pDisplay, 120000)) {
    XEvent event;
    XNextEvent(pDisplay, &event);
    if (event.type == KeyPress || event.type == KeyRelease) {
      const KeySym keysym = XLookupKeysym(&event.xkey, 0);
      const char* pName = XKeysymToString(keysym);
      std::printf("%s %s 0x%x\n", event.type == KeyPress ? "press" : "release", pName != nullptr ? pName : "?",
                  event.xkey.state & (ShiftMask | LockMask | ControlMask | Mod1Mask));
      std::fflush(stdout);
    } else if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);  // keys after it are read in the new map
    } else if (event.type == FocusOut && event.xfocus.window == window) {
      std::printf("focus lost\n");
      std::fflush(stdout);
    }
  }
  XCloseDisplay(pDisplay);
  return 0;
}
