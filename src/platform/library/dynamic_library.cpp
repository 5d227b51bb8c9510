#include "platform/library/dynamic_library.h"

#include <string>
#include <utility>

#include <dlfcn.h>

#include "base/write_log.h"

namespace orb::platform {

bool IsBareLibraryName(std::string_view name) {
  // An empty name would make the loader hand back the program itself.
  return !name.empty() && name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept : m_hLib(std::exchange(other.m_hLib, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    m_hLib = std::exchange(other.m_hLib, nullptr);
  }
  return *this;
}

bool DynamicLibrary::Open(std::string_view name) {
  Close();
  const std::string szName(name);
  if (!IsBareLibraryName(name)) {
    WriteLog("DynamicLibrary: refused \"%s\": not a bare file name\r\n", szName.c_str());
    return false;
  }
  // RTLD_NOW: a library with unresolved symbols fails here, not later in the middle of a call.
  m_hLib = ::dlopen(szName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (m_hLib == nullptr) {
    const char* pError = ::dlerror();
    WriteLog("DynamicLibrary: dlopen(%s) failed: %s\r\n", szName.c_str(), pError != nullptr ? pError : "unknown error");
    return false;
  }
  return true;
}

void DynamicLibrary::Close() {
  if (m_hLib != nullptr) {
    if (::dlclose(m_hLib) != 0) {
      const char* pError = ::dlerror();
      WriteLog("DynamicLibrary: dlclose failed: %s\r\n", pError != nullptr ? pError : "unknown error");
    }
    m_hLib = nullptr;
  }
}

void* DynamicLibrary::FindSymbol(const char* pName) const {
  if (m_hLib == nullptr) {
    return nullptr;
  }
  return ::dlsym(m_hLib, pName);
}

}  // namespace orb::platform
