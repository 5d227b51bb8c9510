#include "key_repeat.h"

#include <X11/Xlib.h>

namespace orb::test {

ServerKeyRepeatOff::ServerKeyRepeatOff() {
  Display* pDisplay = XOpenDisplay(nullptr);
  if (pDisplay == nullptr) return;
  XKeyboardState state{};
  XGetKeyboardControl(pDisplay, &state);
  m_blWasOn = state.global_auto_repeat == AutoRepeatModeOn;
  XAutoRepeatOff(pDisplay);
  XSync(pDisplay, False);
  m_pDisplay = pDisplay;
}

ServerKeyRepeatOff::~ServerKeyRepeatOff() {
  Display* pDisplay = static_cast<Display*>(m_pDisplay);
  if (pDisplay == nullptr) return;
  if (m_blWasOn) {
    XAutoRepeatOn(pDisplay);
    XSync(pDisplay, False);
  }
  XCloseDisplay(pDisplay);
}

}  // namespace orb::test
