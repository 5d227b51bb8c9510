#pragma once
// The commands that wait (hid watch, link watch, link edit) end on a signal by polling a
// pipe that the signal's handler writes a byte into.

#include <initializer_list>

namespace orb::orbctl {

// The read end of this process's stop pipe, readable once one of `signals` has arrived;
// each call adds its signals to the same pipe. -1 when no pipe can be made.
int StopSignalPipe(std::initializer_list<int> signals);

}  // namespace orb::orbctl
