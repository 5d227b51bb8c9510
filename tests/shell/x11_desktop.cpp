#include "x11_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <poll.h>

#include <string>
#include <vector>

#include "child_process.h"

namespace orb::test {
namespace {

using Clock = std::chrono::steady_clock;

Display* AsDisplay(void* p) { return static_cast<Display*>(p); }

// Windows come and go while the tree is walked; a stale id must not end the test.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

struct PropertyData {
  Atom type = None;
  int nFormat = 0;
  unsigned long nItems = 0;
  std::vector<unsigned long> items;  // 32-bit items, as Xlib hands them over
};

PropertyData ReadProperty(Display* pDisplay, Window window, Atom property) {
  PropertyData data;
  unsigned long nAfter = 0;
  unsigned char* pRaw = nullptr;
  if (XGetWindowProperty(pDisplay, window, property, 0, 16, False, AnyPropertyType, &data.type, &data.nFormat,
                         &data.nItems, &nAfter, &pRaw) == Success &&
      pRaw != nullptr && data.nFormat == 32) {
    const auto* pItems = reinterpret_cast<const unsigned long*>(pRaw);
    data.items.assign(pItems, pItems + data.nItems);
  }
  if (pRaw != nullptr) {
    XFree(pRaw);
  }
  return data;
}

std::vector<Window> Children(Display* pDisplay, Window window, Window* pParent) {
  Window root = None;
  Window* pChildren = nullptr;
  unsigned int nChildren = 0;
  std::vector<Window> children;
  *pParent = None;
  if (XQueryTree(pDisplay, window, &root, pParent, &pChildren, &nChildren) != 0 && pChildren != nullptr) {
    children.assign(pChildren, pChildren + nChildren);
    XFree(pChildren);
  }
  return children;
}

bool WaitReadable(Display* pDisplay, Clock::time_point deadline) {
  const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  pollfd item{ConnectionNumber(pDisplay), POLLIN, 0};
  return nLeft > 0 && ::poll(&item, 1, static_cast<int>(nLeft)) == 1;
}

}  // namespace

X11Desktop::X11Desktop(const char* pDisplayName) : m_pDisplay(XOpenDisplay(pDisplayName)) {
  XSetErrorHandler(IgnoreXError);
}

X11Desktop::~X11Desktop() {
  if (m_pDisplay != nullptr) {
    XCloseDisplay(AsDisplay(m_pDisplay));
  }
}

bool X11Desktop::HasWindowManager() {
  Display* pDisplay = AsDisplay(m_pDisplay);
  const Atom check = XInternAtom(pDisplay, "_NET_SUPPORTING_WM_CHECK", False);
  return ReadProperty(pDisplay, DefaultRootWindow(pDisplay), check).items.size() == 1;
}

bool X11Desktop::WaitForTrayHost(std::chrono::milliseconds timeout) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(pDisplay));
  const Atom selection = XInternAtom(pDisplay, name.c_str(), False);
  // The host announces itself with a MANAGER message on the root, but it may have done so
  // before we looked; asking the owner is what tells.
  return WaitUntil([&] { return XGetSelectionOwner(pDisplay, selection) != None; }, timeout);
}

std::optional<ScreenArea> X11Desktop::FindTrayIcon(pid_t pid) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  const Window root = DefaultRootWindow(pDisplay);
  const Atom pidAtom = XInternAtom(pDisplay, "_NET_WM_PID", False);
  const Atom embedAtom = XInternAtom(pDisplay, "_XEMBED_INFO", False);
  std::vector<Window> pending = {root};
  while (!pending.empty()) {
    const Window window = pending.back();
    pending.pop_back();
    Window parent = None;
    const std::vector<Window> children = Children(pDisplay, window, &parent);
    pending.insert(pending.end(), children.begin(), children.end());
    if (window == root || parent == root) {
      continue;  // a docked icon lives inside the host's window
    }
    const PropertyData owner = ReadProperty(pDisplay, window, pidAtom);
    if (owner.items.size() != 1 || static_cast<pid_t>(owner.items[0]) != pid ||
        ReadProperty(pDisplay, window, embedAtom).type != embedAtom || !IsShown(window)) {
      continue;
    }
    XWindowAttributes attributes{};
    Window child = None;
    ScreenArea area;
    if (XGetWindowAttributes(pDisplay, window, &attributes) == 0 ||
        !XTranslateCoordinates(pDisplay, window, root, 0, 0, &area.x, &area.y, &child)) {
      continue;
    }
    area.nWindow = window;
    area.nWidth = attributes.width;
    area.nHeight = attributes.height;
    return area;
  }
  return std::nullopt;
}

bool X11Desktop::IsShown(unsigned long window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(AsDisplay(m_pDisplay), window, &attributes) != 0 && attributes.map_state == IsViewable;
}

bool X11Desktop::Activate(unsigned long window, std::chrono::milliseconds timeout) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  const Window root = DefaultRootWindow(pDisplay);
  const Atom activeAtom = XInternAtom(pDisplay, "_NET_ACTIVE_WINDOW", False);
  const auto deadline = Clock::now() + timeout;
  // Reads events until done() holds; false at the deadline.
  auto waitFor = [&](auto done) {
    for (;;) {
      while (XPending(pDisplay) > 0) {
        XEvent event;
        XNextEvent(pDisplay, &event);
      }
      if (done()) {
        return true;
      }
      if (!WaitReadable(pDisplay, deadline)) {
        return done();
      }
    }
  };
  auto isInFront = [&] {
    Window focus = None;
    int nRevert = 0;
    XGetInputFocus(pDisplay, &focus, &nRevert);
    const PropertyData active = ReadProperty(pDisplay, root, activeAtom);
    return focus == window && active.items.size() == 1 && active.items[0] == window;
  };

  // The focus events wake the wait; the property is read each time.
  XSelectInput(pDisplay, window, FocusChangeMask | PropertyChangeMask);
  XSelectInput(pDisplay, root, PropertyChangeMask);
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = window;
  request.xclient.message_type = activeAtom;
  request.xclient.format = 32;
  request.xclient.data.l[0] = 2;  // source: a pager
  request.xclient.data.l[1] = CurrentTime;
  XSendEvent(pDisplay, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
  XFlush(pDisplay);
  const bool blDone = waitFor(isInFront);
  XSelectInput(pDisplay, window, NoEventMask);
  XSelectInput(pDisplay, root, NoEventMask);
  XSync(pDisplay, True);
  return blDone;
}

bool X11Desktop::DoubleClick(int x, int y) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  int nEvent = 0;
  int nError = 0;
  int nMajor = 0;
  int nMinor = 0;
  if (!XTestQueryExtension(pDisplay, &nEvent, &nError, &nMajor, &nMinor)) {
    return false;
  }
  XTestFakeMotionEvent(pDisplay, DefaultScreen(pDisplay), x, y, CurrentTime);
  for (int i = 0; i < 2; ++i) {
    XTestFakeButtonEvent(pDisplay, Button1, True, CurrentTime);
    XTestFakeButtonEvent(pDisplay, Button1, False, CurrentTime);
  }
  XSync(pDisplay, False);
  return true;
}

}  // namespace orb::test
