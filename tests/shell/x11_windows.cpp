#include "x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace orb::test {
namespace {

Display* AsDisplay(void* p) { return static_cast<Display*>(p); }

// Windows come and go while the tree is walked; a stale id must not end the test.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// One 32-bit CARDINAL property, or -1.
long CardinalProperty(Display* pDisplay, Window window, Atom property) {
  Atom type = None;
  int nFormat = 0;
  unsigned long nItems = 0;
  unsigned long nAfter = 0;
  unsigned char* pData = nullptr;
  long nValue = -1;
  if (XGetWindowProperty(pDisplay, window, property, 0, 1, False, XA_CARDINAL, &type, &nFormat, &nItems, &nAfter,
                         &pData) == Success &&
      pData != nullptr && nItems == 1 && nFormat == 32) {
    nValue = *reinterpret_cast<long*>(pData);
  }
  if (pData != nullptr) {
    XFree(pData);
  }
  return nValue;
}

std::string Utf8Property(Display* pDisplay, Window window, Atom property, Atom type) {
  Atom actual = None;
  int nFormat = 0;
  unsigned long nItems = 0;
  unsigned long nAfter = 0;
  unsigned char* pData = nullptr;
  std::string text;
  if (XGetWindowProperty(pDisplay, window, property, 0, 1024, False, type, &actual, &nFormat, &nItems, &nAfter,
                         &pData) == Success &&
      pData != nullptr && nFormat == 8) {
    text.assign(reinterpret_cast<char*>(pData), nItems);
  }
  if (pData != nullptr) {
    XFree(pData);
  }
  return text;
}

}  // namespace

X11Windows::X11Windows() : X11Windows(nullptr) {}

X11Windows::X11Windows(const char* pDisplayName) : m_pDisplay(XOpenDisplay(pDisplayName)) {
  XSetErrorHandler(IgnoreXError);
}

X11Windows::~X11Windows() {
  if (m_pDisplay != nullptr) {
    XCloseDisplay(AsDisplay(m_pDisplay));
  }
}

std::vector<unsigned long> X11Windows::FindWindows(pid_t pid, const std::string& title) {
  std::vector<unsigned long> found;
  if (m_pDisplay != nullptr) {
    Collect(DefaultRootWindow(AsDisplay(m_pDisplay)), pid, title, found);
  }
  return found;
}

void X11Windows::Collect(unsigned long window, pid_t pid, const std::string& title, std::vector<unsigned long>& found) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  const Atom pidAtom = XInternAtom(pDisplay, "_NET_WM_PID", False);
  if (CardinalProperty(pDisplay, window, pidAtom) == pid) {
    const Atom nameAtom = XInternAtom(pDisplay, "_NET_WM_NAME", False);
    const Atom utf8Atom = XInternAtom(pDisplay, "UTF8_STRING", False);
    XWindowAttributes attributes{};
    if (Utf8Property(pDisplay, window, nameAtom, utf8Atom) == title && XGetWindowAttributes(pDisplay, window, &attributes) &&
        attributes.map_state == IsViewable) {
      found.push_back(window);
    }
  }
  Window root = 0;
  Window parent = 0;
  Window* pChildren = nullptr;
  unsigned int nChildren = 0;
  if (XQueryTree(pDisplay, window, &root, &parent, &pChildren, &nChildren) != 0) {
    for (unsigned int i = 0; i < nChildren; ++i) {
      Collect(pChildren[i], pid, title, found);
    }
    if (pChildren != nullptr) {
      XFree(pChildren);
    }
  }
}

void X11Windows::Close(unsigned long window) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(pDisplay, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(pDisplay, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(pDisplay, window, False, NoEventMask, &event);
  XFlush(pDisplay);
}

std::vector<unsigned long> X11Windows::KeysDown(const std::vector<unsigned long>& keysyms) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  char keys[32] = {};
  XQueryKeymap(pDisplay, keys);
  std::vector<unsigned long> down;
  for (const unsigned long nKeysym : keysyms) {
    const KeyCode nCode = XKeysymToKeycode(pDisplay, nKeysym);
    if (nCode != 0 && ((keys[nCode / 8] >> (nCode % 8)) & 1) != 0) {
      down.push_back(nKeysym);
    }
  }
  return down;
}

}  // namespace orb::test
