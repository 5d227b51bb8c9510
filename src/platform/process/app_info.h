#pragma once
// Which application a process runs, as the profiles know applications: by executable name
// and, for Windows programs, by the file version of the .exe.
//
// - A Windows program under Wine: the first .exe or .com file mapped in /proc/PID/maps.
//   Its version comes from the file's version resource, read through the process's own
//   root (/proc/PID/root), so a program in a sandbox is read from the file it runs.
// - A native program: the file name of /proc/PID/exe; for an interpreter, the script it
//   runs (see script_name.h).
// Names keep their extension ("APP.EXE", "OPENSHOT-QT.PY") and are upper-cased.

#include <cstdint>
#include <string>

namespace orb::platform {

struct AppInfo {
  std::string sExeName;  // upper case (ASCII), at most kMaxAppName (260) bytes
  // A Windows program whose file is there to read and has a version resource. A native
  // program, or an .exe deleted since it was started, has none and the words stay 0.
  bool blHasVersion = false;
  std::uint32_t dwVersionMS = 0;
  std::uint32_t dwVersionLS = 0;
};

// False, with *pInfo empty, when the process is gone (or a zombie) or cannot be read (it
// belongs to another user).
bool GetAppInfo(int nPid, AppInfo* pInfo);

// The same under another proc root, for tests that lay out a tree of their own.
bool GetAppInfo(int nPid, const std::string& sProcRoot, AppInfo* pInfo);

}  // namespace orb::platform
