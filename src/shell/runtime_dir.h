#pragma once
// The per-user directory for the program's runtime files (single-instance lock and
// socket, shared table, link endpoints).

#include <string>

namespace orb {

// $XDG_RUNTIME_DIR when it is set to an absolute path; otherwise /tmp/orb-UID, created
// private (0700) on first use. Empty, with a log line, when the fallback cannot be made
// safe (it exists but is not a directory of this user closed to others).
std::string RuntimeDirectory();

// Creates `path` with mode 0700 when missing. True only for a real directory (not a
// symbolic link) that belongs to this user and that no one else can write into or read.
bool EnsurePrivateDirectory(const std::string& path);

}  // namespace orb
