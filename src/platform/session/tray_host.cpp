#include "platform/session/tray_host.h"

#include <string>

#include "platform/dbus/dbus_connection.h"
#include "platform/session/session_type.h"

#if ORB_WITH_X11_TRAY_PROBE
#include <X11/Xlib.h>
#endif

namespace orb::platform {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";

// Empty when the watcher answers, else why not.
std::string StatusNotifierProblem() {
  std::string sError;
  const std::unique_ptr<dbus::Connection> pBus = dbus::Connection::OpenSession(&sError);
  if (!pBus) return sError;
  if (pBus->NameOwner(kWatcherName, &sError).empty()) return "nobody owns " + std::string(kWatcherName);
  return {};
}

#if ORB_WITH_X11_TRAY_PROBE
// Empty when the screen's tray selection has an owner, else why not.
std::string XEmbedProblem() {
  const char* pDisplayName = SessionEnv("DISPLAY");
  if (pDisplayName == nullptr) return "no DISPLAY";
  Display* pDisplay = XOpenDisplay(pDisplayName);
  if (pDisplay == nullptr) return std::string("cannot open display ") + pDisplayName;
  const std::string sSelection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(pDisplay));
  const bool blOwned = XGetSelectionOwner(pDisplay, XInternAtom(pDisplay, sSelection.c_str(), False)) != None;
  XCloseDisplay(pDisplay);
  return blOwned ? std::string() : "nobody owns " + sSelection + " on " + pDisplayName;
}
#endif

}  // namespace

TrayHost FindTrayHost() {
  const std::string sNotifier = StatusNotifierProblem();
  if (sNotifier.empty()) return {true, "a StatusNotifierItem host (" + std::string(kWatcherName) + ")"};
  if (IsWaylandSession()) return {false, sNotifier};
#if ORB_WITH_X11_TRAY_PROBE
  const std::string sXEmbed = XEmbedProblem();
  if (sXEmbed.empty()) return {true, "an X11 system tray"};
  return {false, sNotifier + "; " + sXEmbed};
#else
  return {false, sNotifier};
#endif
}

}  // namespace orb::platform
