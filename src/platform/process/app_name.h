#pragma once
// How a path becomes the name a profile is chosen by: its file name, upper-cased as the
// Windows names were compared (ASCII only, so UTF-8 or legacy bytes stay as they are),
// no longer than a Windows path could be.

#include <cstddef>
#include <string>
#include <string_view>

namespace orb::platform {

inline constexpr std::size_t kMaxAppName = 260;

// The kernel's mark on the link or mapping of a file that was unlinked (or replaced by an
// upgrade) while the process ran.
inline constexpr std::string_view kDeletedSuffix = " (deleted)";

// `sPath` without the mark; *pblDeleted says whether it had one.
std::string_view StripDeletedSuffix(std::string_view sPath, bool* pblDeleted);

// The last component of a path, trailing slashes ignored ("/opt/app/" gives "app"). Empty
// for "", "/", "." and "..": those name no program.
std::string_view FileNameOf(std::string_view sPath);

// The name upper-cased and cut to kMaxAppName bytes, never inside a UTF-8 sequence.
std::string AppNameOf(std::string_view sFileName);

}  // namespace orb::platform
