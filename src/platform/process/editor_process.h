#pragma once
// Finding a running companion editor by its program name. Under Wine a Windows editor
// shows its .exe as the application (the mapped module); a native port shows its own
// file name, with or without the extension, in any case.

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/process/app_info.h"

namespace orb::platform {

// True when the application name (as GetAppInfo gives it) is one of `names`
// ("MAPEDIT.EXE"), compared without case, with or without the name's extension.
bool IsEditorName(std::string_view sAppName, std::span<const std::string_view> names);

// The lowest process id, other than nOwnPid, whose application is one of `names`; 0 when
// none runs. Processes that cannot be read (another user's, gone) are passed over.
using AppInfoReader = std::function<bool(int nPid, AppInfo* pInfo)>;
int FindEditorProcess(std::span<const std::string_view> names, int nOwnPid, const std::string& sProcRoot = "/proc",
                      const AppInfoReader& read = {});

}  // namespace orb::platform
