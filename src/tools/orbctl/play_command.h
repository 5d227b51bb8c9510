#pragma once
#include "tools/orbctl/commands.h"

namespace orb::orbctl {

// orbctl play [--table FILE] [--lang en|ja] [--log] SCRIPT
int RunPlayCommand(const Args& args);

}  // namespace orb::orbctl
