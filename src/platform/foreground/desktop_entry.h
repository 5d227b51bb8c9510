#pragma once
// A Wayland app_id names a desktop entry, not a process: "org.kde.kdenlive" is the entry
// org.kde.kdenlive.desktop, whose Exec line names the program. Compositors that tell no pid
// give us only that, so the application is named from the entry's program, as a pid would
// have named it from the executable ("KDENLIVE").

#include <string>
#include <string_view>
#include <vector>

namespace orb::platform {

// The program an entry's text starts: the first word of Exec in the [Desktop Entry]
// group, quotes and escapes undone, an `env` and its VAR=value words skipped, and a
// flatpak's --command= taken when it says one. "" when the text names none.
std::string DesktopEntryProgram(std::string_view text);

// The folders entries are looked for in, first wins: $XDG_DATA_HOME (or ~/.local/share)
// then each of $XDG_DATA_DIRS (or /usr/local/share:/usr/share), with "/applications".
std::vector<std::string> DesktopEntryFolders();

// The application an app_id names, as profiles name applications: the entry's program,
// upper-cased; without an entry (or with one that names no program) the app_id itself
// upper-cased. An app_id that is not a plain file name is never looked up. "" for "".
std::string ApplicationOfAppId(std::string_view appId, const std::vector<std::string>& folders);

}  // namespace orb::platform
