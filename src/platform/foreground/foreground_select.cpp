// Which foreground tracker the program uses: chosen once at start-up and written to the log.
#include <cstdlib>
#include <cstring>

#include "base/write_log.h"
#include "platform/foreground/foreground_tracker.h"

namespace orb::platform {

// The one place that knows whether the build left the X11 backend out.
#if !ORB_WITH_X11_FOREGROUND
bool X11ForegroundTrackerBuilt() { return false; }
std::unique_ptr<ForegroundTracker> CreateX11ForegroundTracker(std::string* pError) {
  *pError = "this build has no X11 foreground tracker";
  return nullptr;
}
#endif

namespace {

std::unique_ptr<ForegroundTracker> Chosen(std::unique_ptr<ForegroundTracker> pTracker) {
  WriteLog("Foreground: %s\r\n", pTracker->Name().c_str());
  return pTracker;
}

std::unique_ptr<ForegroundTracker> NoneAvailable(const std::string& reason) {
  WriteLog("Foreground: none (%s)\r\n", reason.c_str());
  return std::make_unique<NullForegroundTracker>();
}

}  // namespace

std::unique_ptr<ForegroundTracker> SelectForegroundTracker() {
  std::string reason;
  const char* pForced = std::getenv("ORB_FOREGROUND");
  if (pForced != nullptr && *pForced != '\0') {
    if (std::strcmp(pForced, "none") == 0) {
      return NoneAvailable("ORB_FOREGROUND=none");
    }
    if (std::strcmp(pForced, "x11") == 0) {
      auto pTracker = CreateX11ForegroundTracker(&reason);
      return pTracker ? Chosen(std::move(pTracker)) : NoneAvailable("ORB_FOREGROUND=x11: " + reason);
    }
    WriteLog("Foreground: ORB_FOREGROUND=\"%s\" is neither x11 nor none; choosing as usual\r\n", pForced);
  }
  const char* pDisplay = std::getenv("DISPLAY");
  if (pDisplay == nullptr || *pDisplay == '\0') {
    return NoneAvailable("no X display (DISPLAY is not set)");
  }
  auto pTracker = CreateX11ForegroundTracker(&reason);
  return pTracker ? Chosen(std::move(pTracker)) : NoneAvailable(reason);
}

}  // namespace orb::platform
