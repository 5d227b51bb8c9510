#pragma once
#include <chrono>

namespace orb::orbctl {

// orbctl link edit: takes the table of orb (process nPid, the running one when 0), hands
// it back in a block of ours and runs the user's editor on its text; every save of the
// text goes to orb, which takes the table back when the editor ends. `timeout` bounds each
// wait for orb's LINK_READY. Exit status: 0, or 2 after one line.
int EditProgramTable(long nPid, std::chrono::milliseconds timeout);

}  // namespace orb::orbctl
