#pragma once
// Lines of /proc/PID/maps. A Windows program under Wine shows as the mapping of its .exe
// (or .com) file, mapped from its real Unix path; the first such mapping in the file
// names the application.
//
//   address           perms offset  dev   inode       path (to the end of the line)
//   140000000-140001000 r--p 00000000 08:02 1835123    /home/u/.wine/drive_c/Program Files/App/App.exe

#include <string_view>

namespace orb::platform {

struct MapsModule {
  std::string_view sPath;  // into the text, without the " (deleted)" mark
  bool blDeleted;          // the file was unlinked or replaced: its path names another file or none
};

// The file path of one line (without its line end). False for anonymous mappings, pseudo
// paths ("[heap]", "[vdso]") and lines not in the kernel's form.
bool ParseMapsPath(std::string_view sLine, std::string_view* pPath);

// True when the path's file name ends in ".exe" or ".com", in any case.
bool IsWindowsModulePath(std::string_view sPath);

// One line: its path when that is a Windows module's.
bool WindowsModuleOfLine(std::string_view sLine, MapsModule* pModule);

// The first Windows module in a whole maps text.
bool FindWindowsModule(std::string_view sMaps, MapsModule* pModule);

}  // namespace orb::platform
