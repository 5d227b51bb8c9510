#pragma once
// What kind of desktop session the program runs in, from the environment the session
// manager (or the compositor that started us) gives. Both start-up choices, of a key
// output and of a foreground tracker, ask the same questions the same way.

namespace orb::platform {

// The variable's value, or null when it is unset or empty (an empty value says nothing).
const char* SessionEnv(const char* pName);

// XDG_SESSION_TYPE says so; without it, a WAYLAND_DISPLAY to talk to.
bool IsWaylandSession();

// XDG_CURRENT_DESKTOP (a colon-separated list, "KDE", "ubuntu:GNOME") names pName, in any case.
bool CurrentDesktopIncludes(const char* pName);

}  // namespace orb::platform
