#include "titled_windows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace orb::test {
namespace {

Display* AsDisplay(void* p) { return static_cast<Display*>(p); }

}  // namespace

TitledWindows::TitledWindows() : m_pDisplay(XOpenDisplay(nullptr)) {}

TitledWindows::~TitledWindows() {
  if (m_pDisplay != nullptr) XCloseDisplay(AsDisplay(m_pDisplay));
}

unsigned long TitledWindows::Find(const std::string& title) {
  if (m_pDisplay == nullptr) return 0;
  return Search(DefaultRootWindow(AsDisplay(m_pDisplay)), title);
}

unsigned long TitledWindows::Search(unsigned long window, const std::string& title) {
  Display* pDisplay = AsDisplay(m_pDisplay);
  XTextProperty name{};
  if (XGetWMName(pDisplay, window, &name) != 0 && name.value != nullptr) {
    const std::string text(reinterpret_cast<const char*>(name.value), name.nitems);
    XFree(name.value);
    XWindowAttributes attributes{};
    if (text == title && XGetWindowAttributes(pDisplay, window, &attributes) != 0 &&
        attributes.map_state == IsViewable) {
      return window;
    }
  }
  Window root = 0, parent = 0;
  Window* pChildren = nullptr;
  unsigned int nChildren = 0;
  unsigned long found = 0;
  if (XQueryTree(pDisplay, window, &root, &parent, &pChildren, &nChildren) != 0) {
    for (unsigned int i = 0; i < nChildren && found == 0; ++i) found = Search(pChildren[i], title);
    if (pChildren != nullptr) XFree(pChildren);
  }
  return found;
}

}  // namespace orb::test
