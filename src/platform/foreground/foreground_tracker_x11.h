#pragma once
// The X11 foreground tracker's own knobs, beyond CreateX11ForegroundTracker's defaults.

#include <memory>
#include <string>

#include "platform/foreground/foreground_tracker.h"

namespace orb::platform {

struct X11ForegroundOptions {
  // False: the X-Resource extension is never asked, as on a server without it or for a
  // client it cannot place (one over TCP); the pid then comes from _NET_WM_PID alone.
  bool blAskXRes = true;
};

std::unique_ptr<ForegroundTracker> CreateX11ForegroundTracker(const X11ForegroundOptions& options,
                                                              std::string* pError);

}  // namespace orb::platform
