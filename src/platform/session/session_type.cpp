#include "platform/session/session_type.h"

#include <cstdlib>
#include <cstring>

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

}  // namespace orb::platform
