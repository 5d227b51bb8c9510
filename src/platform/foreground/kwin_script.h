#pragma once
// What passes between the program and the script it loads into KWin: the script's text
// (which tells us each window that becomes active) and the judgement of what the script
// sends back. Values in, a verdict out; no bus here.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dbus/dbus_connection.h"

namespace orb::platform::kwin {

// Where the script calls us back: our own object on our unique bus name.
inline constexpr const char* kCallbackPath = "/org/orb/Foreground";
inline constexpr const char* kCallbackInterface = "org.orb.Foreground";
inline constexpr const char* kCallbackMember = "Activated";

// The script for a program whose bus name is `service`: it calls kCallbackMember with
// three strings (window id, pid, resource class) for the active window at its start and
// at every activation after; a deactivation without a successor sends three empty
// values. It uses Plasma 6's windowActivated when there is one, else Plasma 5's
// clientActivated. Empty when the name holds characters a bus name cannot have (it goes
// into a script literal).
std::string ScriptText(const std::string& service);

// The window an activation names. nWindow is 0 when no window is active; nPid 0 when
// KWin does not know the process (a remote X client).
struct Activation {
  std::uint64_t nWindow = 0;
  int nPid = 0;
  std::string resourceClass;  // printable ASCII only, at most kMaxClassBytes, for the log
};
inline constexpr std::size_t kMaxIdBytes = 128;
inline constexpr std::size_t kMaxClassBytes = 255;

// The verdict on the arguments of a call of kCallbackMember. Besides the script's strings,
// numbers are taken for the pid and the window id (a script of another version may pass
// them as such). Null, with the reason, for anything else.
std::optional<Activation> ParseActivation(const dbus::Values& args, std::string* pReason);

}  // namespace orb::platform::kwin
