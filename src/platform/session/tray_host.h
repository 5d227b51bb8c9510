#pragma once
// Whether the session has a notification area for the tray icon, as the toolkit looks for
// one: a StatusNotifierItem host (the watcher's name on the session bus: the only kind on
// Wayland) or, on X11, the XEmbed system tray selection of the screen. For `orbctl doctor`:
// the program itself finds out from the toolkit and shows its window when there is none.

#include <string>

namespace orb::platform {

struct TrayHost {
  bool blFound = false;
  std::string sWhat;  // which kind was found, or why none was
};

TrayHost FindTrayHost();

}  // namespace orb::platform
