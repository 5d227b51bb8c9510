// A small X client for the foreground-tracker tests: maps one top-level window, prints
//   window <id>
// once the window manager has mapped it, then obeys its standard input line by line:
//   destroy    destroys the window but stays connected, then prints "destroyed"
// and ends when its standard input closes (or after 120 s of silence).
// Options:
//   --net-wm-pid            sets _NET_WM_PID to its own pid (and WM_CLIENT_MACHINE)
//   --client-machine NAME   WM_CLIENT_MACHINE says NAME instead of this host's name
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Waits for an X event or a line of input; false on timeout. *pblInput says which.
bool Wait(Display* pDisplay, int nTimeoutMs, bool* pblInput) {
  *pblInput = false;
  if (XPending(pDisplay) > 0) {
    return true;
  }
  pollfd fds[2] = {{ConnectionNumber(pDisplay), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  if (::poll(fds, 2, nTimeoutMs) <= 0) {
    return false;
  }
  *pblInput = (fds[1].revents & (POLLIN | POLLHUP)) != 0;
  return true;
}

void SetText(Display* pDisplay, Window window, const char* pProperty, const std::string& text) {
  XChangeProperty(pDisplay, window, XInternAtom(pDisplay, pProperty, False), XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  bool blNetWmPid = false;
  std::string machine;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--net-wm-pid") == 0) {
      blNetWmPid = true;
    } else if (std::strcmp(argv[i], "--client-machine") == 0 && i + 1 < argc) {
      machine = argv[++i];
    } else {
      std::fprintf(stderr, "x11_window_client: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  Display* pDisplay = XOpenDisplay(nullptr);
  if (pDisplay == nullptr) {
    std::fprintf(stderr, "x11_window_client: cannot open the display\n");
    return 1;
  }
  const int nScreen = DefaultScreen(pDisplay);
  const Window window = XCreateSimpleWindow(pDisplay, RootWindow(pDisplay, nScreen), 10, 10, 200, 100, 0,
                                            BlackPixel(pDisplay, nScreen), WhitePixel(pDisplay, nScreen));
  XStoreName(pDisplay, window, "orb foreground client");
  if (blNetWmPid) {
    const unsigned long nPid = static_cast<unsigned long>(::getpid());
    XChangeProperty(pDisplay, window, XInternAtom(pDisplay, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&nPid), 1);
    if (machine.empty()) {
      char host[HOST_NAME_MAX + 1] = {};
      ::gethostname(host, sizeof host - 1);
      machine = host;
    }
  }
  if (!machine.empty()) {
    SetText(pDisplay, window, "WM_CLIENT_MACHINE", machine);
  }
  XSelectInput(pDisplay, window, StructureNotifyMask);
  XMapRaised(pDisplay, window);

  bool blInput = false;
  bool blMapped = false;
  while (!blMapped) {
    if (!Wait(pDisplay, 20000, &blInput) || blInput) {
      std::fprintf(stderr, "x11_window_client: the window was not mapped\n");
      return 1;
    }
    XEvent event;
    XNextEvent(pDisplay, &event);
    blMapped = event.type == MapNotify && event.xmap.window == window;
  }
  std::printf("window %lu\n", static_cast<unsigned long>(window));
  std::fflush(stdout);

  std::string line;
  while (Wait(pDisplay, 120000, &blInput)) {
    if (!blInput) {
      XEvent event;
      XNextEvent(pDisplay, &event);
      continue;
    }
    char chunk[64];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
      break;  // the test is done with us
    }
    line.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t nEnd = line.find('\n'); nEnd != std::string::npos; nEnd = line.find('\n')) {
      if (line.compare(0, nEnd, "destroy") == 0) {
        XDestroyWindow(pDisplay, window);
        XSync(pDisplay, False);
        std::printf("destroyed\n");
        std::fflush(stdout);
      }
      line.erase(0, nEnd + 1);
    }
  }
  XCloseDisplay(pDisplay);
  return 0;
}
