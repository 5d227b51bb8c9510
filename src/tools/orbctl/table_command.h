#pragma once
#include "tools/orbctl/commands.h"

namespace orb::orbctl {

// orbctl table dump|build|check: profile tables between their binary and text forms.
int RunTableCommand(const Args& args);

}  // namespace orb::orbctl
