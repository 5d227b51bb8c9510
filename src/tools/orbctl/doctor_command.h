#pragma once
// `orbctl doctor`: what works for the program in this session (the session, the key
// output and the application in front as the program would choose them, the controllers
// and whether they open, the data and settings paths) and, for what does not, what to do.

#include "tools/orbctl/commands.h"

namespace orb::orbctl {

int RunDoctorCommand(const Args& args);

}  // namespace orb::orbctl
