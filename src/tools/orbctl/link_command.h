#pragma once
#include "tools/orbctl/commands.h"

namespace orb::orbctl {

// orbctl link send|watch|load|edit: post editor-link messages to a process, print the ones
// posted to an endpoint of our own, hand the running orb a table or edit its table live.
int RunLinkCommand(const Args& args);

}  // namespace orb::orbctl
