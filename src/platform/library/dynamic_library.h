#pragma once
// An owned handle of a shared library loaded by its bare file name. The name comes from
// profile data, which the user or the companion editor may write: a name holding a '/'
// is refused, so a profile can only pick a library from the system's library search path,
// never load code from an arbitrary place.

#include <string_view>

namespace orb::platform {

class DynamicLibrary final {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Closes any library held, then loads `name`. False, with one log line, when the name is
  // empty, holds a '/' or a NUL, or the loader fails.
  bool Open(std::string_view name);
  void Close();

  bool IsOpen() const { return m_hLib != nullptr; }
  // The loader's handle, for log lines only; null when nothing is loaded.
  const void* Handle() const { return m_hLib; }

  // The address of an exported symbol; null when it is absent or nothing is loaded.
  void* FindSymbol(const char* pName) const;

 private:
  void* m_hLib = nullptr;
};

// True when `name` is a plain file name that Open would hand to the loader.
bool IsBareLibraryName(std::string_view name);

}  // namespace orb::platform
