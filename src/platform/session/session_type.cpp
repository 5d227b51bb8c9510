#include "platform/session/session_type.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <strings.h>

namespace orb::platform {

const char* SessionEnv(const char* pName) {
  const char* pValue = std::getenv(pName);
  return pValue != nullptr && *pValue != '\0' ? pValue : nullptr;
}

bool IsWaylandSession() {
  const char* pType = SessionEnv("XDG_SESSION_TYPE");
  if (pType != nullptr) {
    return std::strcmp(pType, "wayland") == 0;
  }
  return SessionEnv("WAYLAND_DISPLAY") != nullptr;
}

bool CurrentDesktopIncludes(const char* pName) {
  const char* pDesktops = SessionEnv("XDG_CURRENT_DESKTOP");
  if (pDesktops == nullptr) {
    return false;
  }
  const std::string_view name(pName);
  std::string_view rest(pDesktops);
  while (!rest.empty()) {
    const auto nColon = rest.find(':');
    const std::string_view entry = rest.substr(0, nColon);
    if (entry.size() == name.size() && ::strncasecmp(entry.data(), pName, name.size()) == 0) {
      return true;
    }
    rest = nColon == std::string_view::npos ? std::string_view() : rest.substr(nColon + 1);
  }
  return false;
}

}  // namespace orb::platform
