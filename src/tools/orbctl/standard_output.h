#pragma once
// What a command prints goes through stdio's buffer, so a full disk or a closed pipe
// shows only when the buffer is flushed: the program checks once, as it ends.

namespace orb::orbctl {

// Closes standard output. nStatus when everything written reached it; else one line on
// standard error and 2.
int FinishStandardOutput(const char* pProgram, int nStatus);

}  // namespace orb::orbctl
